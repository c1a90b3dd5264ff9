#pragma once
// The block output the writers append to: passed on to a stream block by block as the
// document is made, or kept whole for the to-string form.

#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "orvelle/text.hpp"

namespace orvelle::detail {

class BlockOutput {
 public:
  /// A null `sink` keeps the whole text, for take().
  explicit BlockOutput(std::ostream* sink) : sink_(sink) {
    if (sink_ != nullptr) buffer_.reserve(kBlock + kBlock / 4);
  }

  BlockOutput& operator+=(char c) {
    buffer_ += c;
    return *this;
  }
  BlockOutput& operator+=(std::string_view text) {
    buffer_ += text;
    return *this;
  }

  /// Called between the elements of a document: passes a full block on.
  void boundary() {
    if (sink_ != nullptr && buffer_.size() >= kBlock) flush();
  }
  void flush() {
    if (sink_ != nullptr && !buffer_.empty()) {
      sink_->write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
      buffer_.clear();
    }
  }
  std::string take() && { return std::move(buffer_); }

 private:
  static constexpr std::size_t kBlock = std::size_t{1} << 16;

  std::ostream* sink_;
  std::string buffer_;
};

/// A number's text in a buffer of its own, so that writing it allocates nothing.
struct NumberText {
  std::array<char, 32> chars;
  std::size_t size;
  std::string_view view() const noexcept { return {chars.data(), size}; }
};
/// The text format_float gives.
NumberText float_text(double d) noexcept;

inline NumberText integer_text(std::int64_t i) noexcept {
  NumberText text{};
  text.size = static_cast<std::size_t>(std::to_chars(text.chars.begin(), text.chars.end(), i).ptr -
                                       text.chars.data());
  return text;
}

/// True when every byte is printable ASCII other than '"' and '\\': a text both writers
/// may copy as it is, without looking closer (nearly every text of a netlist).
inline bool plain_ascii(std::string_view text) noexcept {
  for (const char c : text) {
    if (c < 0x20 || c > 0x7E || c == '"' || c == '\\') return false;
  }
  return true;
}

/// Every text a writer writes must be UTF-8: JSON and YAML readers refuse anything else.
inline void require_utf8(std::string_view text) {
  if (!is_valid_utf8(text)) throw std::invalid_argument("text is not valid UTF-8");
}

}  // namespace orvelle::detail
