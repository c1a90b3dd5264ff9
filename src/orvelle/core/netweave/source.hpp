#pragma once
// The netlist text: read whole, checked, and stripped of what is no part of it.

#include <filesystem>
#include <istream>
#include <string>
#include <string_view>
#include <system_error>

namespace orvelle::core::netweave::detail {

/// What read_file throws: a std::system_error naming the file, which also tells the step
/// that failed, for callers that word their own message.
class FileError : public std::system_error {
 public:
  enum class Step { open, read };
  FileError(Step step, int error, const std::string& what)
      : std::system_error(error, std::generic_category(), what), step_(step) {}
  Step step() const noexcept { return step_; }

 private:
  Step step_;
};

/// The whole file; FileError naming it when it cannot be read.
std::string read_file(const std::filesystem::path& path);
/// The rest of the stream, which is left open; std::system_error when it cannot be read.
std::string read_stream(std::istream& stream);
/// `content` without a leading byte-order mark. Throws ParseError, with the source line of
/// the first bad byte, for a text that is not UTF-8.
std::string_view checked_text(std::string_view content);

}  // namespace orvelle::core::netweave::detail
