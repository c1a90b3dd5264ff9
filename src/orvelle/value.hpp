#pragma once
/// The one JSON-like data model of Orvelle: null, bool, integer, float, text, list and
/// insertion-ordered mapping. Integers and floats stay distinct (2 is not 2.0).
///
///   orvelle::Map m;
///   m["w"] = 0.5;
///   m["ports"] = orvelle::List{"o1", "o2"};
///   std::cout << orvelle::to_yaml(m);
///
/// A netlist of a million instances holds millions of small mappings, so the types are
/// built for size: a Text or a Value is 16 bytes, a Map is one pointer, and a small mapping
/// is a single heap block.

#include <compare>
#include <concepts>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <iosfwd>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace orvelle {

class Value;
class Map;
using List = std::vector<Value>;

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

/// Insertion-ordered mapping Text -> Value with O(1) lookup. Entries sit in one block in
/// insertion order; a hash index is added once a mapping outgrows a few entries, so the
/// millions of two- to four-entry mappings of a netlist cost one allocation each.
/// Iterators and references are invalidated by any insertion, as for std::vector.
class Map {
 public:
  using key_type = Text;
  using mapped_type = Value;
  using value_type = std::pair<const Text, Value>;

  template <bool Const>
  class Iterator {
   public:
    using iterator_category = std::bidirectional_iterator_tag;  // plus + and - on positions
    using value_type = Map::value_type;
    using difference_type = std::ptrdiff_t;
    using pointer = std::conditional_t<Const, const value_type*, value_type*>;
    using reference = std::conditional_t<Const, const value_type&, value_type&>;

    Iterator() noexcept = default;
    explicit Iterator(pointer entry) noexcept : entry_(entry) {}
    operator Iterator<true>() const noexcept { return Iterator<true>(entry_); }

    reference operator*() const noexcept { return *entry_; }
    pointer operator->() const noexcept { return entry_; }
    const Text& key() const noexcept { return entry_->first; }
    auto& value() const noexcept { return entry_->second; }

    Iterator& operator++() noexcept { return ++entry_, *this; }
    Iterator operator++(int) noexcept { return Iterator(entry_++); }
    Iterator& operator--() noexcept { return --entry_, *this; }
    Iterator operator--(int) noexcept { return Iterator(entry_--); }
    Iterator& operator+=(difference_type n) noexcept { return entry_ += n, *this; }
    Iterator operator+(difference_type n) const noexcept { return Iterator(entry_ + n); }
    difference_type operator-(const Iterator& other) const noexcept {
      return entry_ - other.entry_;
    }
    friend bool operator==(const Iterator& a, const Iterator& b) noexcept = default;

   private:
    pointer entry_ = nullptr;
  };
  using iterator = Iterator<false>;
  using const_iterator = Iterator<true>;

  Map() noexcept = default;
  Map(std::initializer_list<value_type> entries);
  Map(const Map& other);
  Map(Map&& other) noexcept : rep_(std::exchange(other.rep_, nullptr)) {}
  Map& operator=(const Map& other);
  Map& operator=(Map&& other) noexcept;
  ~Map() {
    if (rep_ != nullptr) clear();  // most mappings that die were moved from
  }

  std::size_t size() const noexcept;
  bool empty() const noexcept { return size() == 0; }
  void reserve(std::size_t n);
  void clear() noexcept;

  iterator begin() noexcept;
  iterator end() noexcept;
  const_iterator begin() const noexcept;
  const_iterator end() const noexcept;
  iterator nth(std::size_t i) noexcept;
  const_iterator nth(std::size_t i) const noexcept;

  iterator find(std::string_view key) noexcept;
  const_iterator find(std::string_view key) const noexcept;
  bool contains(std::string_view key) const noexcept { return find(key) != end(); }
  std::size_t count(std::string_view key) const noexcept { return contains(key) ? 1 : 0; }
  /// A hint that `key` will be looked up soon: in a large mapping, starts fetching the part
  /// of the index it will probe, so a loop can overlap its lookups' memory waits.
  void prefetch(std::string_view key) const noexcept;
  /// Throws std::out_of_range naming the key when it is absent.
  Value& at(std::string_view key);
  const Value& at(std::string_view key) const;
  /// The value of `key`, inserted as null at the end when absent.
  Value& operator[](std::string_view key);

  /// Inserts at the end unless `key` is present; never overwrites.
  template <class... Args>
  std::pair<iterator, bool> try_emplace(Text key, Args&&... args);
  std::pair<iterator, bool> emplace(Text key, Value value);
  /// Overwrites in place when `key` is present, else inserts at the end.
  std::pair<iterator, bool> insert_or_assign(Text key, Value value);
  /// Removes `key`, keeping the order of the others. Linear in the size.
  std::size_t erase(std::string_view key);

  /// Same entries in the same order.
  friend bool operator==(const Map& a, const Map& b);

 private:
  struct Rep;
  value_type* entries() const noexcept;
  // A key's index hash, when it was worked out already.
  struct KeyHash {
    std::uint32_t value;
    bool known;
  };
  std::size_t find_index(std::string_view key) const noexcept;  // size() when absent
  std::pair<std::size_t, KeyHash> find_for_insert(std::string_view key) const noexcept;
  static std::size_t probe(const Rep* rep, std::string_view key, std::uint32_t hash) noexcept;
  void grow(std::size_t n, bool indexed);
  value_type* append_slot(bool indexed = true);          // room for one more entry at the end
  void commit_slot(KeyHash hash = {0, false}) noexcept;  // counts and indexes the new entry
  void index_merging_repeats();

  friend class MapBuilder;

  Rep* rep_ = nullptr;
};

/// Fills a mapping as a run of insert_or_assign calls would, but indexes it once at the end:
/// the fast way to build a large mapping that nobody looks into while it grows.
///
///   orvelle::MapBuilder builder;
///   for (const auto& [from, to] : pairs) builder.add(from, to);
///   orvelle::Map connections = std::move(builder).finish();
class MapBuilder {
 public:
  void reserve(std::size_t n);
  void add(Text key, Value value);
  /// Adds the entries of `more` after these, as adding them one by one would.
  void add(MapBuilder&& more);
  Map finish() &&;

 private:
  Map map_;
};

/// While a MapPool lives, the small mappings its thread makes (up to eight entries, as a
/// netlist's instances, settings and placements) are carved from shared 1 MiB slabs instead
/// of being allocated one by one. They behave as any other mapping and may be freed on any
/// thread, before or after the pool ends. A slab goes back to the system with its last
/// mapping, so a mapping kept after its neighbours are gone keeps its slab alive: for code
/// that makes many small mappings that live and die together. Pools nest; the innermost one
/// serves.
class MapPool {
 public:
  MapPool() noexcept;
  ~MapPool();
  MapPool(const MapPool&) = delete;
  MapPool& operator=(const MapPool&) = delete;

 private:
  friend class Map;
  struct Slab;

  static MapPool* active() noexcept;
  void* allocate(std::size_t bytes);
  static void free(void* block) noexcept;
  void retire() noexcept;

  MapPool* outer_;
  Slab* slab_ = nullptr;
  std::size_t used_ = 0;          // bytes of the slab carved so far
  std::uint64_t handed_out_ = 0;  // blocks carved from the slab
};

namespace detail {

/// Asks for huge pages behind a block of many megabytes, as a table looked into at random
/// or filled at once: fewer address-translation misses and fewer, cheaper page faults. A
/// hint, given before the block is first written; small blocks are left alone.
void advise_huge_pages(const void* block, std::size_t bytes) noexcept;

}  // namespace detail

class Value {
 public:
  enum class Kind { null, boolean, integer, floating, text, list, map };

  Value() noexcept { set_tag(Kind::null); }
  Value(std::nullptr_t) noexcept : Value() {}
  Value(bool b) noexcept { put(Kind::boolean, b); }
  template <class I>
  requires(std::is_integral_v<I> && !std::is_same_v<I, bool> && !std::is_same_v<I, char>) Value(I i)
  noexcept { put(Kind::integer, static_cast<std::int64_t>(i)); }
  Value(double d) noexcept { put(Kind::floating, d); }
  Value(Text text) noexcept { new (bytes_) Text(std::move(text)); }
  Value(std::string_view s) : Value(Text(s)) {}
  Value(const std::string& s) : Value(Text(s)) {}
  Value(const char* s) : Value(Text(s)) {}
  Value(List list);
  Value(Map map) noexcept;
  Value(const Value& other);
  Value(Value&& other) noexcept {
    std::memcpy(bytes_, other.bytes_, sizeof bytes_);
    other.set_tag(Kind::null);
  }
  Value& operator=(const Value& other);
  Value& operator=(Value&& other) noexcept;
  ~Value() {
    if (owns_memory()) release();  // most values that die are numbers, short texts or moved
  }

  Kind kind() const noexcept {
    const auto tag = static_cast<unsigned char>(bytes_[15]);
    return tag <= Text::max_inline || tag == Text::heap_tag ? Kind::text
                                                            : static_cast<Kind>(tag - kTagBase);
  }
  bool is_null() const noexcept { return kind() == Kind::null; }
  bool is_bool() const noexcept { return kind() == Kind::boolean; }
  bool is_int() const noexcept { return kind() == Kind::integer; }
  bool is_float() const noexcept { return kind() == Kind::floating; }
  bool is_string() const noexcept { return kind() == Kind::text; }
  bool is_list() const noexcept { return kind() == Kind::list; }
  bool is_map() const noexcept { return kind() == Kind::map; }

  // Accessors throw std::bad_variant_access on a kind mismatch.
  bool as_bool() const { return scalar<bool>(Kind::boolean); }
  std::int64_t as_int() const { return scalar<std::int64_t>(Kind::integer); }
  double as_float() const { return scalar<double>(Kind::floating); }
  std::string_view as_string() const { return as_text().view(); }
  const Text& as_text() const;
  const List& as_list() const;
  List& as_list() { return const_cast<List&>(std::as_const(*this).as_list()); }
  const Map& as_map() const;
  Map& as_map() { return const_cast<Map&>(std::as_const(*this).as_map()); }

  /// A pointer to the held bool, std::int64_t, double, Text, List or Map, or null.
  template <class T>
  const T* get_if() const noexcept;
  template <class T>
  T* get_if() noexcept {
    return const_cast<T*>(std::as_const(*this).get_if<T>());
  }

  /// Order-sensitive for mappings, kind-sensitive for numbers.
  friend bool operator==(const Value& a, const Value& b);

 private:
  // bytes_[15] is a Text's own tag when the value is a text, else kTagBase + kind; the
  // payload (bool, int64, double, List*, Map) sits in bytes 0..7.
  static constexpr unsigned char kTagBase = 0x90;

  void set_tag(Kind kind) noexcept { bytes_[15] = static_cast<char>(kTagBase + int(kind)); }
  template <class T>
  void put(Kind kind, T payload) noexcept {
    new (bytes_) T(payload);
    set_tag(kind);
  }
  template <class T>
  T scalar(Kind kind) const {
    check(kind);
    T payload;
    std::memcpy(&payload, bytes_, sizeof payload);
    return payload;
  }
  void check(Kind kind) const;
  const Text* text_ptr() const noexcept;
  List* list_ptr() const noexcept;
  const Map* map_ptr() const noexcept;
  bool owns_memory() const noexcept {
    const auto tag = static_cast<unsigned char>(bytes_[15]);
    return tag == Text::heap_tag || tag >= kTagBase + static_cast<int>(Kind::list);
  }
  void release() noexcept;

  alignas(8) char bytes_[16];
};

/// "null", "bool", "int", "float", "text", "list" or "mapping": for error messages.
std::string_view kind_name(Value::Kind kind) noexcept;

/// True when the bytes are well-formed UTF-8 (no overlongs, surrogates or values past U+10FFFF).
bool is_valid_utf8(std::string_view text) noexcept;

/// Shortest text that reads back as the same double, written as a scripting language's
/// repr does: "2.0", "0.001", "1e-08", "1.5e+16"; "inf", "-inf" and "nan" for the rest.
std::string format_float(double d);

/// Compact JSON text (no blanks). Non-finite floats become null.
/// Throws std::invalid_argument for a text that is not valid UTF-8.
std::string to_json(const Value& value);

/// Block-style YAML, keys in insertion order, ending in a line break. Texts are quoted
/// wherever they would otherwise read back as another type.
/// Throws std::invalid_argument for a text that is not valid UTF-8.
std::string to_yaml(const Value& value);

/// The same for a mapping, without first copying it into a Value.
std::string to_json(const Map& map);
std::string to_yaml(const Map& map);

/// Parses JSON text; throws std::invalid_argument with the parser's message on bad input.
Value from_json(std::string_view text);

/// Parses one YAML document, resolving plain scalars as YAML's core schema does (null,
/// bools, integers, floats, else text; quoted scalars are always text).
/// Throws std::invalid_argument with the parser's message on bad input.
Value from_yaml(std::string_view text);

// ---- Templates and inline parts of Map and Value ----

inline Map::iterator Map::nth(std::size_t i) noexcept {
  return iterator(entries() + i);
}
inline Map::const_iterator Map::nth(std::size_t i) const noexcept {
  return const_iterator(entries() + i);
}
inline Map::iterator Map::begin() noexcept {
  return nth(0);
}
inline Map::iterator Map::end() noexcept {
  return nth(size());
}
inline Map::const_iterator Map::begin() const noexcept {
  return nth(0);
}
inline Map::const_iterator Map::end() const noexcept {
  return nth(size());
}

template <class... Args>
std::pair<Map::iterator, bool> Map::try_emplace(Text key, Args&&... args) {
  const auto [at, hash] = find_for_insert(key);
  if (at != size()) return {nth(at), false};
  value_type* slot = append_slot();
  new (slot) value_type(std::move(key), Value(std::forward<Args>(args)...));
  commit_slot(hash);
  return {iterator(slot), true};
}

template <class T>
const T* Value::get_if() const noexcept {
  if constexpr (std::is_same_v<T, Text>) {
    return text_ptr();
  } else if constexpr (std::is_same_v<T, List>) {
    return list_ptr();
  } else if constexpr (std::is_same_v<T, Map>) {
    return map_ptr();
  } else {
    static_assert(
        std::is_same_v<T, bool> || std::is_same_v<T, std::int64_t> || std::is_same_v<T, double>,
        "get_if<Text> for texts");
    constexpr Kind wanted = std::is_same_v<T, bool>           ? Kind::boolean
                            : std::is_same_v<T, std::int64_t> ? Kind::integer
                                                              : Kind::floating;
    return kind() == wanted ? std::launder(reinterpret_cast<const T*>(bytes_)) : nullptr;
  }
}

}  // namespace orvelle

template <>
struct std::hash<orvelle::Text> {
  std::size_t operator()(const orvelle::Text& text) const noexcept {
    return std::hash<std::string_view>{}(text.view());
  }
};
