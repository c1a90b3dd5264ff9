#pragma once
// Lines: the netlist text cut into relevant lines, and each line into comment and words.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orvelle::core::netweave::detail {

/// Byte length of the white-space character starting at `text[i]` (Unicode white space, as
/// netlist editors may leave non-breaking or ideographic blanks), or 0.
std::size_t whitespace_at(std::string_view text, std::size_t i) noexcept;
/// Byte length of the white-space character ending just before `text[end]`, or 0.
std::size_t whitespace_before(std::string_view text, std::size_t end) noexcept;
/// `text` without white space at either end.
std::string_view strip(std::string_view text) noexcept;
/// True when `text` has no white space other than single blanks.
bool spaces_standard(std::string_view text) noexcept;
/// Appends `text` with every white-space run made one blank. `in_run` carries the state from
/// one piece to the next, so pieces appended in turn read as their concatenation.
void append_standardized(std::string& out, std::string_view text, bool& in_run);

/// One line on its way through the pipeline, with the 1-based source line where it starts.
struct Line {
  std::string_view text;
  std::size_t source_line = 0;
};

/// A lazy sequence of lines. Each stage pulls from the one before and holds at most one
/// logical line; a returned text stays valid until the next call of next().
class LineStream {
 public:
  virtual ~LineStream() = default;
  virtual std::optional<Line> next() = 0;
};
using LineStreamPtr = std::unique_ptr<LineStream>;

/// Cuts `content` at every line boundary (LF, CR, CRLF, VT, FF, FS, GS, RS, NEL, LS, PS);
/// a boundary at the very end adds no empty line. Source lines count LF, CR and CRLF only,
/// as editors do. `content` must outlive the stream.
LineStreamPtr split_lines(std::string_view content);

/// The relevant lines of a netlist text: cut, stripped, continuation lines ("+") joined,
/// white space made single blanks, empty lines dropped, in one pass. A line that needs none
/// of it is a view of `content`, which must outlive the stream.
LineStreamPtr iter_relevant_lines(std::string_view content);

/// (statement text, comment text with its marker). A "$" or "*" inside quotes starts no comment.
std::pair<std::string_view, std::string_view> split_comments(std::string_view line) noexcept;

/// Cuts `line` at blanks outside quotes; quotes stay in their words and empty words are kept.
void split_words(std::string_view line, std::vector<std::string_view>& words);
std::vector<std::string_view> split_words(std::string_view line);

}  // namespace orvelle::core::netweave::detail
