#include "orvelle/core/netweave/ports.hpp"

#include <algorithm>
#include <list>
#include <mutex>
#include <unordered_map>

#include "orvelle/pdk/pdk.hpp"
#include "sax/sax.hpp"

namespace orvelle::core::netweave::detail {

namespace {

bool is_digit(char c) noexcept {
  return c >= '0' && c <= '9';
}

std::string_view run_at(std::string_view text, std::size_t begin) noexcept {
  const bool digits = is_digit(text[begin]);
  std::size_t end = begin + 1;
  while (end < text.size() && is_digit(text[end]) == digits) ++end;
  return text.substr(begin, end - begin);
}

// Compares digit runs by value without converting them, so no run is too long.
int compare_numbers(std::string_view a, std::string_view b) noexcept {
  a.remove_prefix(std::min(a.find_first_not_of('0'), a.size()));
  b.remove_prefix(std::min(b.find_first_not_of('0'), b.size()));
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return a.compare(b);
}

template <class Lookup>
auto find_with_prefix(Lookup& table, std::string_view component) {
  auto found = table.find(component);
  if (found == table.end() && component.starts_with("wg_")) found = table.find(component.substr(3));
  return found;
}

// Least-recently-used memo of port lists, keyed by kit serial and component name, so a switch
// of kits never serves the old kit's ports.
class PortCache {
 public:
  SharedPortNames get(std::uint64_t serial, std::string_view component) {
    std::lock_guard lock(mutex_);
    const auto found = index_.find(Key{serial, component});
    if (found == index_.end()) return nullptr;
    order_.splice(order_.begin(), order_, found->second);
    return found->second->ports;
  }

  void put(std::uint64_t serial, std::string_view component, SharedPortNames ports) {
    std::lock_guard lock(mutex_);
    if (index_.contains(Key{serial, component})) return;
    order_.push_front(Entry{serial, std::string(component), std::move(ports)});
    index_.emplace(Key{serial, order_.front().name}, order_.begin());
    if (order_.size() > kCapacity) {
      index_.erase(Key{order_.back().serial, order_.back().name});
      order_.pop_back();
    }
  }

 private:
  static constexpr std::size_t kCapacity = 128;
  struct Entry {
    std::uint64_t serial;
    std::string name;
    SharedPortNames ports;
  };
  struct Key {
    std::uint64_t serial;
    std::string_view name;  // points into the entry's own name
    bool operator==(const Key&) const = default;
  };
  struct KeyHash {
    std::size_t operator()(const Key& key) const noexcept {
      return std::hash<std::string_view>{}(key.name) ^ (key.serial * 0x9E3779B97F4A7C15ULL);
    }
  };
  std::mutex mutex_;
  std::list<Entry> order_;  // most recently used first
  std::unordered_map<Key, std::list<Entry>::iterator, KeyHash> index_;
};

PortCache& port_cache() {
  static PortCache cache;
  return cache;
}

}  // namespace

void get_ir_ports(std::span<const std::string_view> words, std::vector<std::string_view>& ports) {
  ports.clear();
  for (const std::string_view word : words) {
    if (word.find('=') == std::string_view::npos) ports.push_back(word);
  }
}

std::vector<std::string_view> get_ir_ports(std::span<const std::string_view> words) {
  std::vector<std::string_view> ports;
  ports.reserve(words.size());
  get_ir_ports(words, ports);
  return ports;
}

bool natural_less(std::string_view a, std::string_view b) noexcept {
  // A name that begins with a digit sorts as if it began with an empty text run.
  const bool a_digit = !a.empty() && is_digit(a.front());
  const bool b_digit = !b.empty() && is_digit(b.front());
  if (a_digit != b_digit && !a.empty() && !b.empty()) return a_digit;
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    const std::string_view run_a = run_at(a, i);
    const std::string_view run_b = run_at(b, j);
    const int order =
        is_digit(run_a.front()) ? compare_numbers(run_a, run_b) : run_a.compare(run_b);
    if (order != 0) return order < 0;
    i += run_a.size();
    j += run_b.size();
  }
  return i >= a.size() && j < b.size();
}

PortNames sort_ports(PortNames ports) {
  const auto outputs = std::stable_partition(
      ports.begin(), ports.end(), [](const std::string& port) { return port.starts_with("in"); });
  const auto less = [](const std::string& a, const std::string& b) { return natural_less(a, b); };
  std::stable_sort(ports.begin(), outputs, less);
  std::stable_sort(outputs, ports.end(), less);
  return ports;
}

std::string get_port(const PortNames& ports, std::size_t i) {
  if (i < ports.size()) return ports[i];
  std::string positional = "o";  // appended, not concatenated: g++ 12 misreads the latter
  positional += std::to_string(i + 1);
  return positional;
}

PortNames get_ports_from_model(std::string_view component) {
  const auto& kit = pdk::get_active_pdk();
  const auto found = find_with_prefix(kit.models, component);
  if (found == kit.models.end()) return {};
  return sort_ports(sax::get_ports(found->second));
}

PortNames get_ports_from_component(std::string_view component) {
  const auto& kit = pdk::get_active_pdk();
  const auto found = find_with_prefix(kit.cells, component);
  if (found == kit.cells.end()) return {};
  pdk::Component built;
  try {
    built = found->second();
  } catch (...) {  // a cell that cannot be built counts as unknown
    return {};
  }
  PortNames names;
  names.reserve(built.ports.size());
  for (auto& port : built.ports) names.push_back(std::move(port.name));
  return sort_ports(std::move(names));
}

SharedPortNames get_ports(std::string_view component) {
  static const auto sources =
      std::make_shared<const PortNames>(PortNames{"minus", "plus", "out", "gnd_"});
  static const auto two_terminal = std::make_shared<const PortNames>(PortNames{"minus", "plus"});
  if (component == "vcvs" || component == "vccs" || component == "ccvs" || component == "cccs") {
    return sources;
  }
  if (component == "resistor" || component == "capacitor") return two_terminal;
  const std::uint64_t serial = pdk::get_active_pdk().serial;
  if (auto cached = port_cache().get(serial, component)) return cached;
  PortNames ports = get_ports_from_model(component);
  if (ports.empty()) ports = get_ports_from_component(component);
  auto shared = std::make_shared<const PortNames>(std::move(ports));
  port_cache().put(serial, component, shared);
  return shared;
}

}  // namespace orvelle::core::netweave::detail
