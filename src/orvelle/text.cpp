#include "orvelle/text.hpp"

#include <cstdlib>
#include <new>
#include <ostream>
#include <stdexcept>

namespace orvelle {

static_assert(sizeof(Text) == 16);

void Text::put_on_heap(std::string_view s) {
  if (s.size() > kHeapSizeMask) throw std::length_error("text too long");
  char* heap = static_cast<char*>(std::malloc(s.size()));
  if (heap == nullptr) throw std::bad_alloc();
  std::memcpy(heap, s.data(), s.size());
  const std::uint64_t size_and_tag = s.size() | (std::uint64_t{heap_tag} << 56);
  std::memcpy(bytes_, &heap, sizeof heap);
  std::memcpy(bytes_ + 8, &size_and_tag, sizeof size_and_tag);
}

Text& Text::operator=(const Text& other) {
  if (this != &other) *this = Text(other);
  return *this;
}

Text& Text::operator=(Text&& other) noexcept {
  if (this != &other) {
    release();
    std::memcpy(bytes_, other.bytes_, sizeof bytes_);
    other.set_inline_size(0);
  }
  return *this;
}

std::ostream& operator<<(std::ostream& out, const Text& text) {
  return out << text.view();
}

namespace {

// Length of the UTF-8 sequence starting at text[i], or 0 when it is malformed.
std::size_t utf8_sequence_length(std::string_view text, std::size_t i) noexcept {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t len;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    len = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    len = 3;
    if (lead == 0xE0) lo = 0xA0;  // overlong
    if (lead == 0xED) hi = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    len = 4;
    if (lead == 0xF0) lo = 0x90;  // overlong
    if (lead == 0xF4) hi = 0x8F;  // past U+10FFFF
  } else {
    return 0;
  }
  if (i + len > text.size()) return 0;
  if (byte(i + 1) < lo || byte(i + 1) > hi) return 0;
  for (std::size_t k = 2; k < len; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
  }
  return len;
}

}  // namespace

bool is_valid_utf8(std::string_view text) noexcept {
  std::size_t i = 0;
  while (i < text.size()) {
    // Netlists are almost all ASCII: skip eight plain bytes at a time.
    if (i + 8 <= text.size()) {
      std::uint64_t chunk;
      std::memcpy(&chunk, text.data() + i, 8);
      if ((chunk & 0x8080808080808080ULL) == 0) {
        i += 8;
        continue;
      }
    }
    const std::size_t len = utf8_sequence_length(text, i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

}  // namespace orvelle
