#include "to_python.hpp"

#include <array>
#include <cmath>
#include <cstring>

namespace orvelle::python {

namespace detail {

namespace {

bool is_ascii(std::string_view text) noexcept {
  constexpr std::uint64_t high_bits = 0x8080808080808080ULL;
  std::size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + i, 8);
    if ((word & high_bits) != 0) return false;
  }
  for (; i < text.size(); ++i) {
    if (static_cast<unsigned char>(text[i]) >= 0x80) return false;
  }
  return true;
}

// Nearly every text of a netlist is ASCII: its str is made by one copy, without decoding.
PyObject* new_str(std::string_view text) {
  if (!is_ascii(text)) {
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict");
  }
  PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(text.size()), 127);
  if (str != nullptr) std::memcpy(PyUnicode_1BYTE_DATA(str), text.data(), text.size());
  return str;
}

// One str for each short text that small mappings repeat: their keys ("component",
// "settings", "x", ...) and values such as component names. Sharing them saves memory and
// hashing: a str computes its hash once, and dict insertion reuses it.
class TextCache {
 public:
  TextCache() = default;
  TextCache(const TextCache&) = delete;
  TextCache& operator=(const TextCache&) = delete;
  ~TextCache() {
    for (const Slot& slot : slots_) Py_XDECREF(slot.str);
  }

  PyObject* get(std::string_view text) {
    if (text.size() >= sizeof(Slot::bytes) || !is_ascii(text)) return new_str(text);
    Slot wanted{};
    std::memcpy(wanted.bytes, text.data(), text.size());
    wanted.bytes[sizeof wanted.bytes - 1] = static_cast<char>(text.size());
    std::size_t at = hash32(text) & (kSlots - 1);
    for (std::size_t probe = 0; probe < kProbes; ++probe, at = (at + 1) & (kSlots - 1)) {
      Slot& slot = slots_[at];
      if (slot.str == nullptr) return remember(slot, wanted, text);
      if (std::memcmp(slot.bytes, wanted.bytes, sizeof wanted.bytes) == 0) {
        return Py_NewRef(slot.str);
      }
    }
    return new_str(text);  // a crowded neighbourhood: this one is not shared
  }

 private:
  // Holds up to a few thousand distinct texts: far more than the keys of any netlist, and
  // a bound on what a netlist of many distinct short values can make it keep.
  static constexpr std::size_t kSlots = 4096;
  static constexpr std::size_t kProbes = 4;
  struct Slot {
    char bytes[16];  // the text, zero-padded; the last byte holds its length
    PyObject* str;
  };

  static PyObject* remember(Slot& slot, const Slot& wanted, std::string_view text) {
    PyObject* str = new_str(text);
    if (str == nullptr) return nullptr;
    std::memcpy(slot.bytes, wanted.bytes, sizeof slot.bytes);
    slot.str = Py_NewRef(str);
    return str;
  }

  std::array<Slot, kSlots> slots_{};
};

// A netlist's mappings are either small (an instance, its settings, a placement) or large
// (instances, connections, placements, keyed by unique names). Only the small ones' texts
// repeat across the netlist.
constexpr std::size_t kSmallMapping = 16;

class TreeBuilder {
 public:
  PyObject* convert(Value& value, bool repeated_texts) {
    switch (value.kind()) {
      case Value::Kind::null:
        return Py_NewRef(Py_None);
      case Value::Kind::boolean:
        return PyBool_FromLong(*value.get_if<bool>());
      case Value::Kind::integer:
        return PyLong_FromLongLong(*value.get_if<std::int64_t>());
      case Value::Kind::floating:
        return convert_float(*value.get_if<double>());
      case Value::Kind::text:
        return repeated_texts ? texts_.get(value.as_string()) : new_str(value.as_string());
      case Value::Kind::list:
        return convert_list(value.as_list());
      case Value::Kind::map:
        return convert_map(value.as_map());
    }
    return Py_NewRef(Py_None);
  }

 private:
  // As the JSON writer, which has no word for them, writes them.
  static PyObject* convert_float(double number) {
    return std::isfinite(number) ? PyFloat_FromDouble(number) : Py_NewRef(Py_None);
  }

  PyObject* convert_list(List& list) {
    PyObject* result = PyList_New(static_cast<Py_ssize_t>(list.size()));
    if (result == nullptr) return nullptr;
    for (std::size_t i = 0; i < list.size(); ++i) {
      PyObject* item = convert(list[i], true);
      list[i] = Value();
      if (item == nullptr) {
        Py_DECREF(result);
        return nullptr;
      }
      PyList_SET_ITEM(result, static_cast<Py_ssize_t>(i), item);
    }
    return result;
  }

  PyObject* convert_map(Map& map) {
    const bool small = map.size() <= kSmallMapping;
    PyObject* result = PyDict_New();
    if (result == nullptr) return nullptr;
    for (auto& [key, value] : map) {
      PyObject* py_key = small ? texts_.get(key) : new_str(key);
      PyObject* py_value = py_key != nullptr ? convert(value, small) : nullptr;
      value = Value();
      const bool stored = py_value != nullptr && PyDict_SetItem(result, py_key, py_value) == 0;
      Py_XDECREF(py_key);
      Py_XDECREF(py_value);
      if (!stored) {
        Py_DECREF(result);
        return nullptr;
      }
    }
    return result;
  }

  TextCache texts_;
};

// The cyclic collector would walk the growing tree again and again while it is built; the
// tree holds no cycles, so nothing is lost by holding it off until the end.
class CollectorPause {
 public:
  CollectorPause() noexcept : was_enabled_(PyGC_Disable() == 1) {}
  ~CollectorPause() {
    if (was_enabled_) PyGC_Enable();
  }
  CollectorPause(const CollectorPause&) = delete;
  CollectorPause& operator=(const CollectorPause&) = delete;

 private:
  bool was_enabled_;
};

}  // namespace

}  // namespace detail

PyObject* to_python(Value&& value) {
  detail::CollectorPause pause;
  detail::TreeBuilder builder;
  PyObject* result = builder.convert(value, false);
  value = Value();
  return result;
}

}  // namespace orvelle::python
