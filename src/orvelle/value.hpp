#pragma once
/// The one JSON-like data model of Orvelle: null, bool, integer, float, text, list and
/// insertion-ordered mapping. Integers and floats stay distinct (2 is not 2.0).
///
///   orvelle::Value v = orvelle::Map{{"w", 0.5}};
///   v.as_map()["ports"] = orvelle::List{"o1", "o2"};
///   if (v.as_map().at("w").is_float()) ...
///
/// Texts, mappings and the memory they use have headers of their own (text.hpp, map.hpp,
/// memory.hpp); reading and writing JSON and YAML live in codec/. A netlist of a million instances
/// holds millions of small mappings, so the types are built for size: a Text or a Value is 16
/// bytes, a Map is one pointer, and a small mapping is a single heap block.

#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "orvelle/map.hpp"
#include "orvelle/text.hpp"

namespace orvelle {

class Value;
using List = std::vector<Value>;

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

// ---- Inline parts of Map and Value ----

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
