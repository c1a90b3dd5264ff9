#pragma once
/// The one JSON-like data model of Orvelle: null, bool, integer, float, text, list and
/// insertion-ordered mapping. Integers and floats stay distinct (2 is not 2.0).
///
///   orvelle::Map m;
///   m["w"] = 0.5;
///   m["ports"] = orvelle::List{"o1", "o2"};
///   std::cout << orvelle::to_yaml(m);

#include <tsl/ordered_map.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace orvelle {

class Value;

/// Hashes any string-like key, so maps can be searched with a string_view without a copy.
struct StringHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const noexcept {
    return std::hash<std::string_view>{}(s);
  }
};

using List = std::vector<Value>;
/// Insertion-ordered with O(1) lookup: netlists are large and their order is part of the result.
/// Entries live in a vector rather than tsl's default deque: an empty deque allocates over
/// half a kilobyte, and a netlist holds millions of small or empty mappings.
using Map = tsl::ordered_map<std::string, Value, StringHash, std::equal_to<>,
                             std::allocator<std::pair<std::string, Value>>,
                             std::vector<std::pair<std::string, Value>>>;

/// Holds a mapping behind one pointer, copied deeply: a mapping is 80 bytes, and holding it
/// inline would make every Value (and so every entry of every mapping) that large. Only a
/// moved-from box is empty-handed: it reads as an empty mapping and makes one when changed.
class MapBox {
 public:
  MapBox() noexcept = default;
  explicit MapBox(Map map);
  MapBox(const MapBox& other);
  MapBox(MapBox&& other) noexcept : map_(other.map_) { other.map_ = nullptr; }
  MapBox& operator=(const MapBox& other);
  MapBox& operator=(MapBox&& other) noexcept;
  ~MapBox();

  const Map& get() const noexcept;
  Map& get();  // allocates an empty mapping on first use

  friend bool operator==(const MapBox& a, const MapBox& b);

 private:
  Map* map_ = nullptr;
};

class Value {
 public:
  using Storage =
      std::variant<std::nullptr_t, bool, std::int64_t, double, std::string, List, MapBox>;
  enum class Kind { null, boolean, integer, floating, text, list, map };

  Value() noexcept = default;
  Value(std::nullptr_t) noexcept {}
  Value(bool b) noexcept : v_(b) {}
  template <class I>
  requires(std::is_integral_v<I> && !std::is_same_v<I, bool> && !std::is_same_v<I, char>) Value(I i)
  noexcept : v_(static_cast<std::int64_t>(i)) {}
  Value(double d) noexcept : v_(d) {}
  Value(std::string s) noexcept : v_(std::move(s)) {}
  Value(std::string_view s) : v_(std::string(s)) {}
  Value(const char* s) : v_(std::string(s)) {}
  Value(List l) noexcept : v_(std::move(l)) {}
  Value(Map m) : v_(MapBox(std::move(m))) {}

  Kind kind() const noexcept { return static_cast<Kind>(v_.index()); }
  bool is_null() const noexcept { return kind() == Kind::null; }
  bool is_bool() const noexcept { return kind() == Kind::boolean; }
  bool is_int() const noexcept { return kind() == Kind::integer; }
  bool is_float() const noexcept { return kind() == Kind::floating; }
  bool is_string() const noexcept { return kind() == Kind::text; }
  bool is_list() const noexcept { return kind() == Kind::list; }
  bool is_map() const noexcept { return kind() == Kind::map; }

  // Accessors throw std::bad_variant_access on a kind mismatch.
  bool as_bool() const { return std::get<bool>(v_); }
  std::int64_t as_int() const { return std::get<std::int64_t>(v_); }
  double as_float() const { return std::get<double>(v_); }
  const std::string& as_string() const { return std::get<std::string>(v_); }
  std::string& as_string() { return std::get<std::string>(v_); }
  const List& as_list() const { return std::get<List>(v_); }
  List& as_list() { return std::get<List>(v_); }
  const Map& as_map() const { return std::get<MapBox>(v_).get(); }
  Map& as_map() { return std::get<MapBox>(v_).get(); }

  template <class T>
  const T* get_if() const noexcept {
    if constexpr (std::is_same_v<T, Map>) {
      const auto* box = std::get_if<MapBox>(&v_);
      return box ? &box->get() : nullptr;
    } else {
      return std::get_if<T>(&v_);
    }
  }
  template <class T>
  T* get_if() {
    if constexpr (std::is_same_v<T, Map>) {
      auto* box = std::get_if<MapBox>(&v_);
      return box ? &box->get() : nullptr;
    } else {
      return std::get_if<T>(&v_);
    }
  }

  const Storage& storage() const noexcept { return v_; }

  /// Order-sensitive for mappings, kind-sensitive for numbers.
  friend bool operator==(const Value& a, const Value& b) { return a.v_ == b.v_; }

 private:
  Storage v_;
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

}  // namespace orvelle
