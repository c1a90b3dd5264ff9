#include "orvelle/core/netweave/statements.hpp"

#include <array>
#include <string>

#include "orvelle/core/netweave/ports.hpp"
#include "orvelle/core/netweave/settings.hpp"

namespace orvelle::core::netweave::detail {

namespace {

constexpr std::array<std::string_view, 4> kSources = {"vcvs", "vccs", "ccvs", "cccs"};

std::optional<std::string_view> source_keyword(std::string_view word) noexcept {
  if (word.size() != 4) return std::nullopt;
  std::array<char, 4> lower{};
  for (std::size_t i = 0; i < 4; ++i) {
    const char c = word[i];
    lower[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  for (const std::string_view keyword : kSources) {
    if (keyword == std::string_view(lower.data(), 4)) return keyword;
  }
  return std::nullopt;
}

bool is_setting(std::string_view word) noexcept {
  return word.find('=') != std::string_view::npos;
}

std::string mapped_component(const Map& component_map, std::string_view component) {
  if (component_map.empty()) return std::string(component);
  const auto found = component_map.find(component);
  if (found == component_map.end()) return std::string(component);
  if (const auto* name = found->second.get_if<Text>()) return name->str();
  throw std::invalid_argument("component_map: the new name for '" + std::string(component) +
                              "' is not a text");
}

// Reads one netlist's lines into a sink; the state is that of one call of parse_statements.
class StatementParser {
 public:
  StatementParser(StatementSink& sink, const Map& component_map, const Map& kwargs)
      : sink_(sink), component_map_(component_map), kwargs_(kwargs) {}

  void read(std::int64_t id, const Line& line) {
    line_ = line.source_line;
    const auto [text, comment] = split_comments(line.text);
    if (!comment.empty()) sink_.comment(id, comment);
    if (text.empty()) return;
    split_words(text, words_);
    std::erase(words_, std::string_view{});
    if (words_.empty()) return;
    if (words_.front().starts_with('.')) {
      read_command(id);
    } else if (!parents_.empty()) {
      read_element(id);
    }
  }

 private:
  void read_command(std::int64_t id) {
    const std::string_view command = words_.front();
    if (command == ".subckt") {
      open_subckt(id);
    } else if (command == ".ends") {
      close_subckt();
    } else if (command != ".global") {
      throw ParseError("Unsupported command: " + std::string(command) + ".");
    }
  }

  void open_subckt(std::int64_t id) {
    if (words_.size() < 2) throw ParseError("Missing subcircuit name after .subckt.");
    const std::span<const std::string_view> rest(words_.begin() + 2, words_.end());
    Subckt subckt{id,
                  mapped_component(component_map_, words_[1]),
                  to_strings(get_ir_ports(rest)),
                  get_ir_settings(rest, kwargs_),
                  get_parent_id(parents_),
                  {}};
    parents_.push_back(std::move(subckt));
    sink_.subckt_opened(parents_.back(), line_);
    refresh_defaults();
  }

  void close_subckt() {
    if (parents_.empty()) throw ParseError(".ends before begin.");
    Subckt subckt = std::move(parents_.back());
    parents_.pop_back();
    subckt.children_ids = std::move(children_ids_);
    children_ids_.clear();
    sink_.subckt_closed(std::move(subckt));
    refresh_defaults();
  }

  void read_element(std::int64_t id) {
    const std::string_view name = words_.front();
    element_words_.assign(words_.begin() + 1, words_.end());
    element_words_ = handle_sources(std::move(element_words_));
    std::vector<std::string_view>& words = element_words_;
    std::vector<std::string_view>& ports = ports_;
    get_ir_ports(words, ports);
    std::string component;
    std::string value_setting;  // keeps "value=..." alive while settings are read
    if (name.starts_with('R') || name.starts_with('C')) {
      component =
          mapped_component(component_map_, name.starts_with('R') ? "resistor" : "capacitor");
      if (ports.size() > 3)
        throw ParseError("Too many nets for element '" + std::string(name) + "'.");
      if (ports.size() == 3) {
        value_setting = "value=" + std::string(ports[2]);
        replace_third_net(words, value_setting);
        ports.pop_back();
      }
    } else {
      if (ports.empty()) {
        throw ParseError("Missing component for element '" + std::string(name) + "'.");
      }
      component = mapped_component(component_map_, ports.back());
      ports.pop_back();
    }
    Map settings = get_ir_settings(words, *defaults_);
    children_ids_.push_back(id);
    sink_.element(Element{id, name, std::move(component), ports, std::move(settings), line_},
                  parents_.back());
  }

  // A resistor's or capacitor's third bare word is its value, read as the setting "value"
  // at the word's own position.
  static void replace_third_net(std::vector<std::string_view>& words, std::string_view setting) {
    int bare = 0;
    for (auto& word : words) {
      if (!is_setting(word) && ++bare == 3) {
        word = setting;
        return;
      }
    }
  }

  // Named defaults of element settings: the caller's values, overridden by the innermost
  // open block's settings. Rebuilt only when the innermost block changes.
  void refresh_defaults() {
    if (parents_.empty() || parents_.back().settings.empty()) {
      defaults_ = &kwargs_;
      return;
    }
    merged_ = kwargs_;
    for (const auto& [key, value] : parents_.back().settings) merged_.insert_or_assign(key, value);
    defaults_ = &merged_;
  }

  static std::vector<std::string> to_strings(const std::vector<std::string_view>& views) {
    return {views.begin(), views.end()};
  }

  StatementSink& sink_;
  const Map& component_map_;
  const Map& kwargs_;
  const Map* defaults_ = &kwargs_;
  std::size_t line_ = 0;  // source line of the statement being read
  Map merged_;
  std::vector<Subckt> parents_;
  std::vector<std::int64_t> children_ids_;
  std::vector<std::string_view> words_;
  std::vector<std::string_view> element_words_;  // kept to reuse its storage
  std::vector<std::string_view> ports_;          // likewise
};

}  // namespace

std::vector<std::string_view> handle_sources(std::vector<std::string_view> words) {
  std::size_t at = 0;
  std::optional<std::string_view> keyword;
  for (; at < words.size() && !keyword; ++at) keyword = source_keyword(words[at]);
  if (!keyword) return words;
  --at;
  std::vector<std::string_view> rewritten;
  rewritten.reserve(words.size());
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i != at && !is_setting(words[i])) rewritten.push_back(words[i]);
  }
  rewritten.push_back(*keyword);
  for (const std::string_view word : words) {
    if (is_setting(word)) rewritten.push_back(word);
  }
  return rewritten;
}

std::optional<std::int64_t> get_parent_id(const std::vector<Subckt>& parents) noexcept {
  if (parents.empty()) return std::nullopt;
  return parents.back().id;
}

void parse_statements(LineStream& lines, StatementSink& sink, const Map& component_map,
                      const Map& kwargs, SourceLines* source_lines) {
  StatementParser parser(sink, component_map, kwargs);
  std::int64_t id = 0;
  while (const auto line = lines.next()) {
    ++id;
    if (source_lines != nullptr) source_lines->push_back(line->source_line);
    try {
      parser.read(id, *line);
    } catch (ParseError& error) {
      if (error.line() == 0) error.set_line(line->source_line);
      throw;
    }
  }
}

}  // namespace orvelle::core::netweave::detail
