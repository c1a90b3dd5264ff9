#include "orvelle/core/netweave/source.hpp"

#include <array>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <system_error>

#include "orvelle/core/netweave/netweave.hpp"
#include "orvelle/memory.hpp"

namespace orvelle::core::netweave::detail {

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

}  // namespace

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
  if (!file) throw FileError(FileError::Step::open, errno, "Cannot open '" + path.string() + "'");
  std::string content;
  std::error_code size_error;
  const auto size = std::filesystem::file_size(path, size_error);
  if (!size_error) {
    content.reserve(size);
    orvelle::detail::advise_huge_pages(content.data(), size);
  }
  std::array<char, 1 << 16> chunk;
  std::size_t n = 0;
  while ((n = std::fread(chunk.data(), 1, chunk.size(), file.get())) > 0)
    content.append(chunk.data(), n);
  if (std::ferror(file.get())) {
    throw FileError(FileError::Step::read, errno != 0 ? errno : EIO,
                    "Cannot read '" + path.string() + "'");
  }
  return content;
}

std::string_view checked_text(std::string_view content) {
  if (!is_valid_utf8(content)) {
    throw ParseError("The netlist is not valid UTF-8.", first_invalid_utf8_line(content));
  }
  // A byte-order mark is an encoding marker some editors write, not part of the first word.
  if (content.starts_with("\xEF\xBB\xBF")) content.remove_prefix(3);
  return content;
}

}  // namespace orvelle::core::netweave::detail
