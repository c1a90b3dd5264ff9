#pragma once
/// Texts of the data model: the 16-byte immutable Text, the key hash of mappings, and the
/// UTF-8 check that every text leaving Orvelle passes.
///
///   orvelle::Text net("top,o2");             // inline: up to 15 bytes
///   std::string_view view = net;             // reads as a string_view
///   bool ok = orvelle::is_valid_utf8(view);

#include <compare>
#include <concepts>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

namespace orvelle {

/// The 32-bit hash that mappings index their keys by: a few multiplications for the short
/// names of a netlist, with a full final mix so that the low bits are usable on their own.
inline std::uint32_t hash32(std::string_view text) noexcept {
  std::uint64_t h = 0x9E3779B97F4A7C15ULL ^ (text.size() * 0xC2B2AE3D27D4EB4FULL);
  const char* p = text.data();
  std::size_t n = text.size();
  for (; n >= 8; n -= 8, p += 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    h = (h ^ word) * 0xBF58476D1CE4E5B9ULL;
    h ^= h >> 29;
  }
  if (n > 0) {
    std::uint64_t word = 0;
    std::memcpy(&word, p, n);
    h = (h ^ word) * 0x94D049BB133111EBULL;
  }
  h ^= h >> 30;
  h *= 0xBF58476D1CE4E5B9ULL;
  h ^= h >> 27;
  h *= 0x94D049BB133111EBULL;
  h ^= h >> 31;
  return static_cast<std::uint32_t>(h);
}

/// Hashes any string-like key, so tables can be searched with a string_view without a copy.
struct StringHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const noexcept {
    return std::hash<std::string_view>{}(s);
  }
};

/// An immutable text of 16 bytes: up to 15 bytes inline (names, nets, instance ports), longer
/// texts on the heap. Reads as a std::string_view; data() is not NUL-terminated.
class Text {
 public:
  Text() noexcept { set_inline_size(0); }
  Text(std::string_view s) {
    if (s.size() <= max_inline) {
      std::memcpy(bytes_, s.data(), s.size());
      set_inline_size(s.size());
    } else {
      put_on_heap(s);
    }
  }
  Text(const char* s) : Text(std::string_view(s)) {}
  Text(const std::string& s) : Text(std::string_view(s)) {}
  Text(const Text& other) : Text(other.view()) {}
  Text(Text&& other) noexcept {
    std::memcpy(bytes_, other.bytes_, sizeof bytes_);
    other.set_inline_size(0);
  }
  Text& operator=(const Text& other);
  Text& operator=(Text&& other) noexcept;
  ~Text() { release(); }

  std::string_view view() const noexcept { return {data(), size()}; }
  operator std::string_view() const noexcept { return view(); }
  std::string str() const { return std::string(view()); }
  const char* data() const noexcept { return on_heap() ? heap_data() : bytes_; }
  std::size_t size() const noexcept {
    if (!on_heap()) return static_cast<unsigned char>(bytes_[15]);
    std::uint64_t size_and_tag;
    std::memcpy(&size_and_tag, bytes_ + 8, sizeof size_and_tag);
    return size_and_tag & kHeapSizeMask;
  }
  bool empty() const noexcept { return size() == 0; }

  friend bool operator==(const Text& a, std::string_view b) noexcept { return a.view() == b; }
  friend std::strong_ordering operator<=>(const Text& a, std::string_view b) noexcept {
    return a.view() <=> b;
  }
  // Text against Text as templates: exact matches, so neither they nor their reversed forms
  // tie with the string_view ones, and a text literal still converts one way only.
  template <std::same_as<Text> T>
  friend bool operator==(const Text& a, const T& b) noexcept {
    return a.view() == b.view();
  }
  template <std::same_as<Text> T>
  friend std::strong_ordering operator<=>(const Text& a, const T& b) noexcept {
    return a.view() <=> b.view();
  }

  static constexpr std::size_t max_inline = 15;
  static constexpr unsigned char heap_tag = 0x80;

 private:
  // bytes_[15] is the tag: 0..15 is the length of an inline text, heap_tag marks a heap one
  // (pointer in bytes 0..7, length in bytes 8..14). Value relies on this layout.
  bool on_heap() const noexcept { return static_cast<unsigned char>(bytes_[15]) == heap_tag; }
  static constexpr std::uint64_t kHeapSizeMask = (std::uint64_t{1} << 56) - 1;
  const char* heap_data() const noexcept {
    const char* heap;
    std::memcpy(&heap, bytes_, sizeof heap);
    return heap;
  }
  void put_on_heap(std::string_view s);
  void set_inline_size(std::size_t n) noexcept { bytes_[15] = static_cast<char>(n); }
  void release() noexcept {
    if (on_heap()) std::free(const_cast<char*>(heap_data()));
  }

  alignas(8) char bytes_[16];
};

std::ostream& operator<<(std::ostream& out, const Text& text);

/// True when the bytes are well-formed UTF-8 (no overlongs, surrogates or values past U+10FFFF).
bool is_valid_utf8(std::string_view text) noexcept;

}  // namespace orvelle

template <>
struct std::hash<orvelle::Text> {
  std::size_t operator()(const orvelle::Text& text) const noexcept {
    return std::hash<std::string_view>{}(text.view());
  }
};
