#include "to_python.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

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

// One float object for each value that recurs, as the rotations and widths of a netlist do;
// a slot holds the last value that fell on it.
class FloatCache {
 public:
  FloatCache() = default;
  FloatCache(const FloatCache&) = delete;
  FloatCache& operator=(const FloatCache&) = delete;
  ~FloatCache() {
    for (const Slot& slot : slots_) Py_XDECREF(slot.number);
  }

  PyObject* get(double number) {
    const auto bits = std::bit_cast<std::uint64_t>(number);
    Slot& slot = slots_[(bits * 0x9E3779B97F4A7C15ULL) >> (64 - kSlotBits)];
    if (slot.number != nullptr && slot.bits == bits) return Py_NewRef(slot.number);
    PyObject* made = PyFloat_FromDouble(number);
    if (made == nullptr) return nullptr;
    Py_XSETREF(slot.number, Py_NewRef(made));
    slot.bits = bits;
    return made;
  }

 private:
  static constexpr int kSlotBits = 10;
  struct Slot {
    std::uint64_t bits;
    PyObject* number;
  };
  std::array<Slot, std::size_t{1} << kSlotBits> slots_{};
};

// The keys of the first large mapping among siblings, kept for the large mappings after it
// that repeat them in the same order, as a netlist's placements repeat its instance names:
// they then share the str objects, made and hashed once.
class SiblingKeys {
 public:
  enum class Role { keeps, repeats, neither };

  SiblingKeys() = default;
  SiblingKeys(const SiblingKeys&) = delete;
  SiblingKeys& operator=(const SiblingKeys&) = delete;
  ~SiblingKeys() {
    for (PyObject* key : keys_) Py_DECREF(key);
  }

  // What a large mapping whose first key is `first_key` does with the kept keys. A mapping
  // repeats them when its first key is among the first few kept.
  Role start(std::string_view first_key) noexcept {
    next_ = 0;
    if (keys_.empty()) return Role::keeps;
    const bool repeats = position_of(first_key) < keys_.size();
    return repeats ? Role::repeats : Role::neither;
  }

  void keep(PyObject* key) { keys_.push_back(Py_NewRef(key)); }

  // A new reference to the kept str equal to `text`, looked for a few places past the last
  // one found (a repeating mapping may skip some), or nullptr.
  PyObject* find(std::string_view text) noexcept {
    const std::size_t at = position_of(text);
    if (at == keys_.size()) return nullptr;
    next_ = at + 1;
    return Py_NewRef(keys_[at]);
  }

 private:
  static constexpr std::size_t kLookAhead = 8;

  std::size_t position_of(std::string_view text) const noexcept {
    const std::size_t end = std::min(keys_.size(), next_ + kLookAhead);
    for (std::size_t i = next_; i < end; ++i) {
      if (holds(keys_[i], text)) return i;
    }
    return keys_.size();
  }

  static bool holds(PyObject* str, std::string_view text) noexcept {
    return PyUnicode_IS_COMPACT_ASCII(str) &&
           static_cast<std::size_t>(PyUnicode_GET_LENGTH(str)) == text.size() &&
           std::memcmp(PyUnicode_DATA(str), text.data(), text.size()) == 0;
  }

  std::vector<PyObject*> keys_;
  std::size_t next_ = 0;
};

// A netlist's mappings are either small (an instance, its settings, a placement) or large
// (instances, connections, placements, keyed by unique names). Only the small ones' texts
// repeat across the netlist.
constexpr std::size_t kSmallMapping = 16;

class TreeBuilder {
 public:
  PyObject* convert(Value& value, bool repeated_texts, SiblingKeys& siblings) {
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
        return value.as_map().size() <= kSmallMapping ? convert_small_map(value.as_map())
                                                      : convert_large_map(value.as_map(), siblings);
    }
    return Py_NewRef(Py_None);
  }

 private:
  struct Entry {
    PyObject* key;
    PyObject* value;
  };

  // As the JSON writer, which has no word for them, writes them.
  PyObject* convert_float(double number) {
    return std::isfinite(number) ? floats_.get(number) : Py_NewRef(Py_None);
  }

  PyObject* convert_list(List& list) {
    PyObject* result = PyList_New(static_cast<Py_ssize_t>(list.size()));
    if (result == nullptr) return nullptr;
    SiblingKeys items;
    for (std::size_t i = 0; i < list.size(); ++i) {
      PyObject* item = convert(list[i], true, items);
      list[i] = Value();
      if (item == nullptr) {
        Py_DECREF(result);
        return nullptr;
      }
      PyList_SET_ITEM(result, static_cast<Py_ssize_t>(i), item);
    }
    return result;
  }

  PyObject* convert_small_map(Map& map) {
    PyObject* result = PyDict_New();
    if (result == nullptr) return nullptr;
    SiblingKeys children;
    for (auto& [key, value] : map) {
      PyObject* py_key = texts_.get(key);
      PyObject* py_value = py_key != nullptr ? convert(value, true, children) : nullptr;
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

  // In two passes: every key and value is made first, then they go into a dict sized at once
  // in a tight loop that fetches each key a little ahead. Each insertion into a table of
  // megabytes waits on memory; in a tight loop the waits overlap.
  PyObject* convert_large_map(Map& map, SiblingKeys& siblings) {
    std::vector<Entry> entries;
    entries.reserve(map.size());
    PyObject* result = convert_entries(map, siblings, entries)
                           ? _PyDict_NewPresized(static_cast<Py_ssize_t>(map.size()))
                           : nullptr;
    constexpr std::size_t kFetchAhead = 16;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (i + kFetchAhead < entries.size()) __builtin_prefetch(entries[i + kFetchAhead].key);
      if (result != nullptr && PyDict_SetItem(result, entries[i].key, entries[i].value) != 0) {
        Py_CLEAR(result);
      }
      Py_DECREF(entries[i].key);
      Py_DECREF(entries[i].value);
    }
    return result;
  }

  // False, with a Python error set, when an entry cannot be made.
  bool convert_entries(Map& map, SiblingKeys& siblings, std::vector<Entry>& entries) {
    const SiblingKeys::Role role = siblings.start(map.begin()->first);
    SiblingKeys children;
    for (auto& [key, value] : map) {
      PyObject* py_key = role == SiblingKeys::Role::repeats ? siblings.find(key) : nullptr;
      if (py_key == nullptr) py_key = new_str(key);
      if (py_key == nullptr) return false;
      if (role == SiblingKeys::Role::keeps) siblings.keep(py_key);
      PyObject* py_value = convert(value, false, children);
      value = Value();
      if (py_value == nullptr) {
        Py_DECREF(py_key);
        return false;
      }
      entries.push_back({py_key, py_value});
    }
    return true;
  }

  TextCache texts_;
  FloatCache floats_;
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
  detail::SiblingKeys top;
  PyObject* result = builder.convert(value, false, top);
  value = Value();
  return result;
}

}  // namespace orvelle::python
