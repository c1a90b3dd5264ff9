// The reader's entry: text to intermediate representation to recursive netlist.

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <system_error>

#include "orvelle/core/netweave/detail.hpp"
#include "sax/sax.hpp"

namespace orvelle {

namespace {

void print_warning(const ParseWarning& warning) {
  std::cerr << "warning: " << warning.message << '\n';
}

struct WarningChannel {
  std::mutex mutex;
  WarningHandler handler = print_warning;
};

WarningChannel& warning_channel() {
  static WarningChannel channel;
  return channel;
}

}  // namespace

WarningHandler set_warning_handler(WarningHandler handler) {
  WarningChannel& channel = warning_channel();
  std::lock_guard lock(channel.mutex);
  WarningHandler previous = std::move(channel.handler);
  channel.handler = handler ? std::move(handler) : WarningHandler(print_warning);
  return previous;
}

namespace detail {

namespace {
thread_local std::vector<std::string>* captured_warnings = nullptr;
}  // namespace

WarningCapture::WarningCapture(std::vector<std::string>& into) noexcept
    : previous_(std::exchange(captured_warnings, &into)) {}

WarningCapture::~WarningCapture() {
  captured_warnings = previous_;
}

void warn(std::string message) {
  if (captured_warnings != nullptr) {
    captured_warnings->push_back(std::move(message));
    return;
  }
  WarningHandler handler;
  {
    WarningChannel& channel = warning_channel();
    std::lock_guard lock(channel.mutex);
    handler = channel.handler;
  }
  handler(ParseWarning{std::move(message)});
}

namespace {

// The source line holding the first invalid UTF-8 sequence, counted as the line pipeline does.
std::size_t first_invalid_utf8_line(std::string_view content) {
  std::size_t line = 1;
  std::size_t begin = 0;
  while (begin <= content.size()) {
    const std::size_t end = std::min(content.find_first_of("\r\n", begin), content.size());
    if (!is_valid_utf8(content.substr(begin, end - begin))) return line;
    if (end == content.size()) break;
    const bool crlf = content[end] == '\r' && end + 1 < content.size() && content[end + 1] == '\n';
    begin = end + (crlf ? 2 : 1);
    ++line;
  }
  return 0;
}

std::string read_stream(std::istream& stream) {
  std::string content;
  std::array<char, 1 << 16> chunk;
  while (stream.read(chunk.data(), chunk.size()) || stream.gcount() > 0) {
    content.append(chunk.data(), static_cast<std::size_t>(stream.gcount()));
  }
  if (stream.bad())
    throw std::system_error(EIO, std::generic_category(), "Cannot read the netlist stream");
  return content;
}

std::string read_file(const std::filesystem::path& path) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                       &std::fclose);
  if (!file)
    throw std::system_error(errno, std::generic_category(), "Cannot open '" + path.string() + "'");
  std::string content;
  std::error_code size_error;
  const auto size = std::filesystem::file_size(path, size_error);
  if (!size_error) {
    content.reserve(size);
    advise_huge_pages(content.data(), size);
  }
  std::array<char, 1 << 16> chunk;
  std::size_t n = 0;
  while ((n = std::fread(chunk.data(), 1, chunk.size(), file.get())) > 0)
    content.append(chunk.data(), n);
  if (std::ferror(file.get())) {
    throw std::system_error(errno != 0 ? errno : EIO, std::generic_category(),
                            "Cannot read '" + path.string() + "'");
  }
  return content;
}

// Takes the placements out before normalisation and gives them back after it, so they stand
// exactly as built, and so they are not copied on the way.
Map take_placements(Map& nets) {
  Map placements;
  placements.reserve(nets.size());
  for (auto it = nets.begin(); it != nets.end(); ++it) {
    Value& slot = it.value().as_map().at("placements");
    placements.insert_or_assign(it.key(), std::move(slot));
    slot = Map{};
  }
  return placements;
}

}  // namespace

ParsedIr netweave_text_into_ir(std::string_view content, const Map& component_map,
                               const Map& kwargs) {
  if (!is_valid_utf8(content)) {
    throw ParseError("The netlist is not valid UTF-8.", first_invalid_utf8_line(content));
  }
  // A byte-order mark is an encoding marker some editors write, not part of the first word.
  if (content.starts_with("\xEF\xBB\xBF")) content.remove_prefix(3);
  const auto lines = iter_relevant_lines(content);
  return parse_into_ir(*lines, component_map, kwargs);
}

ParsedIr netweave_into_ir(const std::filesystem::path& path, const Map& component_map,
                          const Map& kwargs) {
  return netweave_text_into_ir(read_file(path), component_map, kwargs);
}

ParsedIr netweave_into_ir(std::istream& stream, const Map& component_map, const Map& kwargs) {
  return netweave_text_into_ir(read_stream(stream), component_map, kwargs);
}

RecursiveNetlist recursive_netlist_from_ir(Ir ir, const Map& settings_keymap, Comments comments,
                                           const SourceLines* source_lines) {
  Map nets;
  for (const auto& [id, record] : ir) {
    const auto* subckt = std::get_if<Subckt>(&record);
    if (subckt == nullptr || subckt->children_ids.empty()) continue;
    nets.insert_or_assign(subckt->component, take_netlist_from_subckt(ir, *subckt, settings_keymap,
                                                                      comments, source_lines));
  }
  ir = Ir{};  // what is left of the records is not needed past this point
  comments = Comments{};
  Map placements = take_placements(nets);
  Map normalised = sax::netlist(std::move(nets)).model_dump();
  patch_ports(normalised);
  RecursiveNetlist result;
  result.reserve(normalised.size());
  for (std::size_t i = normalised.size(); i-- > 0;) {
    auto it = normalised.nth(i);
    Map& netlist = it.value().as_map();
    if (auto placed = placements.find(it->first); placed != placements.end()) {
      netlist.insert_or_assign("placements", std::move(placed.value()));
    }
    result.insert_or_assign(it->first, std::move(it.value()));
  }
  return result;
}

}  // namespace detail

namespace {

RecursiveNetlist weave(std::string_view content, const Map& settings_keymap,
                       const Map& component_map, const Map& kwargs) {
  if (auto woven = detail::weave_text(content, settings_keymap, component_map, kwargs)) {
    return std::move(*woven);
  }
  detail::ParsedIr parsed = detail::netweave_text_into_ir(content, component_map, kwargs);
  return detail::recursive_netlist_from_ir(std::move(parsed.ir), settings_keymap,
                                           std::move(parsed.comments), &parsed.source_lines);
}

}  // namespace

RecursiveNetlist netweave(const std::filesystem::path& path, const Map& settings_keymap,
                          const Map& component_map, const Map& kwargs) {
  return weave(detail::read_file(path), settings_keymap, component_map, kwargs);
}

RecursiveNetlist netweave(std::istream& stream, const Map& settings_keymap,
                          const Map& component_map, const Map& kwargs) {
  return weave(detail::read_stream(stream), settings_keymap, component_map, kwargs);
}

}  // namespace orvelle
