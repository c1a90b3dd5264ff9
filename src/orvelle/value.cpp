#include "orvelle/value.hpp"

#include <array>
#include <memory>
#include <variant>

namespace orvelle {

static_assert(sizeof(Value) == 16);

Value::Value(List list) {
  put(Kind::list, new List(std::move(list)));
}

Value::Value(Map map) noexcept {
  new (bytes_) Map(std::move(map));
  set_tag(Kind::map);
}

Value::Value(const Value& other) {
  switch (other.kind()) {
    case Kind::text:
      new (bytes_) Text(*other.text_ptr());
      break;
    case Kind::list:
      put(Kind::list, new List(*other.list_ptr()));
      break;
    case Kind::map:
      new (bytes_) Map(*other.map_ptr());
      set_tag(Kind::map);
      break;
    default:
      std::memcpy(bytes_, other.bytes_, sizeof bytes_);
  }
}

Value& Value::operator=(const Value& other) {
  if (this != &other) *this = Value(other);
  return *this;
}

Value& Value::operator=(Value&& other) noexcept {
  // The old value may hold `other`: take its bytes before releasing the old one.
  alignas(8) char taken[sizeof bytes_];
  std::memcpy(taken, other.bytes_, sizeof taken);
  other.set_tag(Kind::null);
  release();
  std::memcpy(bytes_, taken, sizeof bytes_);
  return *this;
}

static_assert(Value::Kind::map > Value::Kind::list && Value::Kind::list > Value::Kind::text,
              "only lists and mappings among the kinds past text own memory");

void Value::release() noexcept {
  switch (kind()) {
    case Kind::text:
      std::destroy_at(const_cast<Text*>(text_ptr()));
      break;
    case Kind::list:
      delete list_ptr();
      break;
    case Kind::map:
      std::destroy_at(const_cast<Map*>(map_ptr()));
      break;
    default:
      break;
  }
}

void Value::check(Kind kind) const {
  if (this->kind() != kind) throw std::bad_variant_access();
}

const Text* Value::text_ptr() const noexcept {
  return kind() == Kind::text ? std::launder(reinterpret_cast<const Text*>(bytes_)) : nullptr;
}

List* Value::list_ptr() const noexcept {
  if (kind() != Kind::list) return nullptr;
  List* list;
  std::memcpy(&list, bytes_, sizeof list);
  return list;
}

const Map* Value::map_ptr() const noexcept {
  return kind() == Kind::map ? std::launder(reinterpret_cast<const Map*>(bytes_)) : nullptr;
}

const Text& Value::as_text() const {
  check(Kind::text);
  return *text_ptr();
}

const List& Value::as_list() const {
  check(Kind::list);
  return *list_ptr();
}

const Map& Value::as_map() const {
  check(Kind::map);
  return *map_ptr();
}

bool operator==(const Value& a, const Value& b) {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case Value::Kind::null:
      return true;
    case Value::Kind::boolean:
      return a.as_bool() == b.as_bool();
    case Value::Kind::integer:
      return a.as_int() == b.as_int();
    case Value::Kind::floating:
      return a.as_float() == b.as_float();
    case Value::Kind::text:
      return a.as_string() == b.as_string();
    case Value::Kind::list:
      return a.as_list() == b.as_list();
    case Value::Kind::map:
      return a.as_map() == b.as_map();
  }
  return false;
}

std::string_view kind_name(Value::Kind kind) noexcept {
  static constexpr std::array<std::string_view, 7> names = {"null", "bool", "int",    "float",
                                                            "text", "list", "mapping"};
  return names[static_cast<std::size_t>(kind)];
}

}  // namespace orvelle
