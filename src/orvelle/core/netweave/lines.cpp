
#include "orvelle/core/netweave/lines.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace orvelle::core::netweave::detail {

namespace {

unsigned char byte_at(std::string_view text, std::size_t i) noexcept {
  return static_cast<unsigned char>(text[i]);
}

// Multi-byte white space: U+0085, U+00A0, U+1680, U+2000..U+200A, U+2028, U+2029, U+202F,
// U+205F, U+3000. Returns the UTF-8 length of the code point at `p` if it is one of these.
std::size_t multibyte_whitespace(const unsigned char* p, std::size_t avail) noexcept {
  if (p[0] == 0xC2 && avail >= 2) return (p[1] == 0x85 || p[1] == 0xA0) ? 2 : 0;
  if (avail < 3) return 0;
  if (p[0] == 0xE1) return (p[1] == 0x9A && p[2] == 0x80) ? 3 : 0;
  if (p[0] == 0xE2 && p[1] == 0x80) {
    const unsigned char c = p[2];
    return (c <= 0x8A && c >= 0x80) || c == 0xA8 || c == 0xA9 || c == 0xAF ? 3 : 0;
  }
  if (p[0] == 0xE2) return (p[1] == 0x81 && p[2] == 0x9F) ? 3 : 0;
  if (p[0] == 0xE3) return (p[1] == 0x80 && p[2] == 0x80) ? 3 : 0;
  return 0;
}

bool ascii_whitespace(unsigned char c) noexcept {
  return (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x20);
}

}  // namespace

std::size_t whitespace_at(std::string_view text, std::size_t i) noexcept {
  const unsigned char c = byte_at(text, i);
  if (c < 0x80) return ascii_whitespace(c) ? 1 : 0;
  return multibyte_whitespace(reinterpret_cast<const unsigned char*>(text.data()) + i,
                              text.size() - i);
}

std::size_t whitespace_before(std::string_view text, std::size_t end) noexcept {
  if (end == 0) return 0;
  const unsigned char last = byte_at(text, end - 1);
  if (last < 0x80) return ascii_whitespace(last) ? 1 : 0;
  for (std::size_t len = 2; len <= 3 && len <= end; ++len) {
    if (whitespace_at(text, end - len) == len) return len;
  }
  return 0;
}

std::string_view strip(std::string_view text) noexcept {
  std::size_t begin = 0;
  while (begin < text.size()) {
    const std::size_t n = whitespace_at(text, begin);
    if (n == 0) break;
    begin += n;
  }
  std::size_t end = text.size();
  while (end > begin) {
    const std::size_t n = whitespace_before(text, end);
    if (n == 0) break;
    end -= n;
  }
  return text.substr(begin, end - begin);
}

bool spaces_standard(std::string_view text) noexcept {
  bool after_blank = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = byte_at(text, i);
    if (c == ' ') {
      if (after_blank) return false;
      after_blank = true;
      continue;
    }
    after_blank = false;
    if (c < 0x80 ? ascii_whitespace(c) : whitespace_at(text, i) != 0) return false;
  }
  return true;
}

void append_standardized(std::string& out, std::string_view text, bool& in_run) {
  for (std::size_t i = 0; i < text.size();) {
    if (const std::size_t n = whitespace_at(text, i); n != 0) {
      if (!in_run) out += ' ';
      in_run = true;
      i += n;
      continue;
    }
    std::size_t end = i + 1;
    while (end < text.size() && whitespace_at(text, end) == 0) ++end;
    out.append(text.substr(i, end - i));
    in_run = false;
    i = end;
  }
}

namespace {

// What the line cutter needs to know of a byte: printable ASCII, a blank, a byte that may
// start a line boundary (LF, VT, FF, CR, FS, GS, RS, and the lead bytes of NEL C2 85 and
// LS/PS E2 80 A8/A9), or any other byte (control, white space or not ASCII).
enum ByteKind : std::uint8_t { kPrintable, kBlank, kBoundaryStart, kOther };

constexpr std::array<ByteKind, 256> kByteKinds = [] {
  std::array<ByteKind, 256> table{};
  for (std::size_t c = 0; c < table.size(); ++c) {
    table[c] = c > 0x20 && c < 0x7F ? kPrintable : kOther;
  }
  table[' '] = kBlank;
  for (unsigned char c : {0x0A, 0x0B, 0x0C, 0x0D, 0x1C, 0x1D, 0x1E, 0xC2, 0xE2}) {
    table[c] = kBoundaryStart;
  }
  return table;
}();

// Cuts a text into physical lines; shared by split_lines and the fused relevant-line reader.
// On the way it notes whether the line is plain: printable ASCII and single blanks only, so
// that stripping and standardizing it come down to trimming one blank at either end.
class LineCursor {
 public:
  explicit LineCursor(std::string_view content) : content_(content) {}

  std::optional<Line> next() noexcept {
    if (pos_ >= content_.size()) return std::nullopt;
    const std::size_t begin = pos_;
    const std::size_t line = source_line_;
    plain_ = true;
    bool after_blank = false;
    while (pos_ < content_.size()) {
      if (content_.size() - pos_ >= 8) {
        const std::size_t skipped = skip_plain_bytes(after_blank);
        pos_ += skipped;
        if (skipped == 8) continue;
      }
      const ByteKind kind = kByteKinds[byte_at(content_, pos_)];
      if (kind == kBoundaryStart) {
        if (const std::size_t length = boundary_length(pos_); length != 0) {
          Line out{content_.substr(begin, pos_ - begin), line};
          pos_ += length;
          return out;
        }
      }
      plain_ = plain_ && (kind == kPrintable || (kind == kBlank && !after_blank));
      after_blank = kind == kBlank;
      ++pos_;
    }
    return Line{content_.substr(begin), line};
  }

  /// Whether the line last handed out is plain.
  bool plain() const noexcept { return plain_; }

 private:
  // How many of the eight bytes at pos_ are printable ASCII or blanks, before the first that
  // is neither; notes doubled blanks on the way. Eight bytes at a time, as most are plain.
  std::size_t skip_plain_bytes(bool& after_blank) noexcept {
    if constexpr (std::endian::native != std::endian::little) return 0;
    constexpr std::uint64_t ones = 0x0101010101010101ULL;
    constexpr std::uint64_t highs = 0x8080808080808080ULL;
    std::uint64_t x = 0;
    std::memcpy(&x, content_.data() + pos_, sizeof x);
    // Below 0x20 or above 0x7E; a false mark can only follow a true one, so the lowest is exact.
    const std::uint64_t special = (((x - 0x20 * ones) & ~x) | (x + ones) | x) & highs;
    const std::size_t count = special == 0 ? 8 : std::countr_zero(special) / 8;
    if (count == 0) return 0;
    const std::uint64_t y = x ^ (0x20 * ones);
    std::uint64_t blanks = ~(((y & ~highs) + ~highs) | y | ~highs);
    if (count < 8) blanks &= (std::uint64_t{1} << (8 * count)) - 1;
    if ((blanks & (blanks >> 8)) != 0 || (after_blank && (blanks & 0x80) != 0)) plain_ = false;
    after_blank = ((blanks >> (8 * count - 1)) & 1) != 0;
    return count;
  }

  // Length of the boundary at `i` (0 when there is none), counting source lines on the way.
  std::size_t boundary_length(std::size_t i) noexcept {
    const unsigned char c = byte_at(content_, i);
    if (c == '\n') return ++source_line_, 1;
    if (c == '\r') {
      ++source_line_;
      return i + 1 < content_.size() && content_[i + 1] == '\n' ? 2 : 1;
    }
    if (c < 0x80) return 1;
    const std::size_t rest = content_.size() - i;
    if (c == 0xC2) return rest >= 2 && byte_at(content_, i + 1) == 0x85 ? 2 : 0;
    const bool separator = rest >= 3 && byte_at(content_, i + 1) == 0x80 &&
                           (byte_at(content_, i + 2) == 0xA8 || byte_at(content_, i + 2) == 0xA9);
    return separator ? 3 : 0;
  }

  std::string_view content_;
  std::size_t pos_ = 0;
  std::size_t source_line_ = 1;
  bool plain_ = true;
};

class SplitLines final : public LineStream {
 public:
  explicit SplitLines(std::string_view content) : cursor_(content) {}
  std::optional<Line> next() override { return cursor_.next(); }

 private:
  LineCursor cursor_;
};

// strip_lines, join_continuations, standardize_spaces, strip_lines and filter_empty in one
// pass: a statement on one physical line with its blanks already single (nearly every line)
// is handed out as a view of the text, without a copy.
class RelevantLines final : public LineStream {
 public:
  explicit RelevantLines(std::string_view content) : cursor_(content) { pull(); }

  std::optional<Line> next() override {
    while (ahead_) {
      const Line current = *ahead_;
      const bool plain = ahead_plain_;
      pull();
      const std::string_view text =
          continues() ? join_from(current.text, plain) : standardized(current.text, plain);
      if (!text.empty()) return Line{text, current.source_line};
    }
    return std::nullopt;
  }

 private:
  void pull() {
    ahead_ = cursor_.next();
    ahead_plain_ = cursor_.plain();
    if (ahead_) ahead_->text = ahead_plain_ ? trim_blank(ahead_->text) : strip(ahead_->text);
  }

  static std::string_view trim_blank(std::string_view text) noexcept {
    if (text.starts_with(' ')) text.remove_prefix(1);
    if (text.ends_with(' ')) text.remove_suffix(1);
    return text;
  }

  bool continues() const noexcept { return ahead_ && ahead_->text.starts_with('+'); }

  std::string_view standardized(std::string_view text, bool plain) {
    if (plain || spaces_standard(text)) return text;
    buffer_.clear();
    bool in_run = false;
    append_standardized(buffer_, text, in_run);
    return strip(buffer_);
  }

  std::string_view join_from(std::string_view first, bool plain) {
    buffer_.clear();
    bool in_run = false;
    append_piece(first, plain, in_run);
    while (continues()) {
      if (!in_run) buffer_ += ' ';
      in_run = true;
      const std::string_view rest = ahead_->text.substr(1);
      append_piece(ahead_plain_ ? trim_blank(rest) : strip(rest), ahead_plain_, in_run);
      pull();
    }
    return strip(buffer_);
  }

  // Appends a stripped piece of a line; a plain one is already standard and goes in whole.
  void append_piece(std::string_view piece, bool plain, bool& in_run) {
    if (!plain) return append_standardized(buffer_, piece, in_run);
    if (piece.empty()) return;
    buffer_.append(piece);
    in_run = false;
  }

  LineCursor cursor_;
  std::optional<Line> ahead_;  // the next physical line, stripped
  bool ahead_plain_ = false;
  std::string buffer_;
};

}  // namespace

LineStreamPtr split_lines(std::string_view content) {
  return std::make_unique<SplitLines>(content);
}

LineStreamPtr iter_relevant_lines(std::string_view content) {
  return std::make_unique<RelevantLines>(content);
}

namespace {

// Quote state shared by the comment and word splits: double quotes make a "string", single
// quotes an "eval"; a quote of the other kind inside either changes nothing.
struct QuoteMode {
  char open = 0;
  void see(char c) noexcept {
    if (c != '"' && c != '\'') return;
    if (open == 0) {
      open = c;
    } else if (open == c) {
      open = 0;
    }
  }
  bool quoted() const noexcept { return open != 0; }
};

// Position of the first of the bytes `Cs` in `text` at or after `i`, or npos. Looks at eight
// bytes at a time: the bytes the word and comment splits stop at are few and far between.
template <char... Cs>
std::size_t find_any(std::string_view text, std::size_t i) noexcept {
  if constexpr (std::endian::native == std::endian::little) {
    constexpr std::uint64_t ones = 0x0101010101010101ULL;
    constexpr std::uint64_t highs = 0x8080808080808080ULL;
    // Marks zero bytes; a false mark can only follow a true one, so the lowest is exact.
    const auto zeros = [](std::uint64_t x) { return (x - ones) & ~x & highs; };
    for (; i + 8 <= text.size(); i += 8) {
      std::uint64_t x = 0;
      std::memcpy(&x, text.data() + i, sizeof x);
      const std::uint64_t found = (zeros(x ^ (static_cast<unsigned char>(Cs) * ones)) | ...);
      if (found != 0) return i + static_cast<std::size_t>(std::countr_zero(found)) / 8;
    }
  }
  for (; i < text.size(); ++i) {
    if (((text[i] == Cs) || ...)) return i;
  }
  return std::string_view::npos;
}

// The first unquoted "$", else the first unquoted "*", found in one pass.
std::size_t comment_start(std::string_view line) noexcept {
  QuoteMode mode;
  std::size_t star = std::string_view::npos;
  for (std::size_t i = find_any<'"', '\'', '$', '*'>(line, 0); i != std::string_view::npos;
       i = find_any<'"', '\'', '$', '*'>(line, i + 1)) {
    const char c = line[i];
    mode.see(c);
    if (mode.quoted()) continue;
    if (c == '$') return i;
    if (c == '*' && star == std::string_view::npos) star = i;
  }
  return star;
}

}  // namespace

std::pair<std::string_view, std::string_view> split_comments(std::string_view line) noexcept {
  const std::size_t at = comment_start(line);
  if (at == std::string_view::npos) return {line, {}};
  return {line.substr(0, at), line.substr(at)};
}

void split_words(std::string_view line, std::vector<std::string_view>& words) {
  words.clear();
  QuoteMode mode;
  std::size_t begin = 0;
  for (std::size_t i = find_any<' ', '"', '\''>(line, 0); i != std::string_view::npos;
       i = find_any<' ', '"', '\''>(line, i + 1)) {
    if (line[i] == ' ' && !mode.quoted()) {
      words.push_back(line.substr(begin, i - begin));
      begin = i + 1;
      continue;
    }
    mode.see(line[i]);
  }
  words.push_back(line.substr(begin));
}

std::vector<std::string_view> split_words(std::string_view line) {
  std::vector<std::string_view> words;
  split_words(line, words);
  return words;
}

}  // namespace orvelle::core::netweave::detail
