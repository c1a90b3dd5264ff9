#pragma once
// The netlist text: read whole, checked, and stripped of what is no part of it.

#include <filesystem>
#include <istream>
#include <string>
#include <string_view>

namespace orvelle::core::netweave::detail {

/// The whole file; std::system_error naming it when it cannot be read.
std::string read_file(const std::filesystem::path& path);
/// The rest of the stream, which is left open; std::system_error when it cannot be read.
std::string read_stream(std::istream& stream);
/// `content` without a leading byte-order mark. Throws ParseError, with the source line of
/// the first bad byte, for a text that is not UTF-8.
std::string_view checked_text(std::string_view content);

}  // namespace orvelle::core::netweave::detail
