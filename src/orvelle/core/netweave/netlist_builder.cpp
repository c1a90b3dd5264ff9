#include "orvelle/core/netweave/netlist_builder.hpp"

#include <algorithm>
#include <bit>
#include <future>
#include <optional>
#include <system_error>
#include <unordered_map>

#include "orvelle/core/netweave/location.hpp"
#include "orvelle/core/netweave/ports.hpp"
#include "orvelle/core/netweave/settings.hpp"
#include "orvelle/core/netweave/warnings.hpp"
#include "orvelle/hash_index.hpp"
#include "orvelle/memory.hpp"
#include "sax/sax.hpp"

namespace orvelle::core::netweave::detail {

using orvelle::detail::HashSlots;

namespace {

// A text as a scripting language prints it inside a list: quoted, with escapes.
std::string printed_text(std::string_view text) {
  const bool has_single = text.find('\'') != std::string_view::npos;
  const char quote = has_single && text.find('"') == std::string_view::npos ? '"' : '\'';
  std::string out(1, quote);
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\' || c == quote) {
      out += '\\';
      out += c;
    } else if (c == '\n' || c == '\r' || c == '\t') {
      out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += c;
    }
  }
  out += quote;
  return out;
}

// One instance port: the child's index and the position on its line.
struct PortRef {
  std::uint32_t child;
  std::uint32_t position;
};

// External ports hold their instance port as an integer until the texts are made.
Value packed(PortRef ref) {
  return static_cast<std::int64_t>((std::uint64_t{ref.child} << 32) | ref.position);
}

PortRef unpacked(const Value& value) {
  const auto bits = static_cast<std::uint64_t>(value.as_int());
  return {static_cast<std::uint32_t>(bits >> 32), static_cast<std::uint32_t>(bits)};
}

// The instance ports on one net. A net with more than two ports is an error unless it is a
// declared port, so only the first two are kept here; any further ones go to a side list.
struct Net {
  std::uint32_t count = 0;
  PortRef first{};
  PortRef second{};
};

// Net name -> the instance ports on it, in order of first sight. Each name's hash is kept in
// its slot, so the slot a name will probe can be fetched ahead of its use.
class NetTable {
 public:
  struct Entry {
    Text name;
    Net net;
    bool declared = false;  // a declared port of the subcircuit: its instance ports join no net
  };

  void reserve(std::size_t n) {
    reserve_entries(n);
    if (slots_for(n) > slot_count_) rebuild(slots_for(n));
  }

  void prefetch(std::string_view name) const noexcept {
    if (slots_) index().prefetch(hash32(name));
  }

  Entry& find_or_add(std::string_view name) {
    if (entries_.size() == entries_.capacity()) {
      reserve_entries(std::max<std::size_t>(16, 2 * entries_.size()));
    }
    if (slots_for(entries_.size() + 1) > slot_count_) rebuild(slots_for(entries_.size() + 1));
    const std::uint32_t hash = hash32(name);
    std::uint64_t& slot = find(name, hash);
    if (slot != 0) return entries_[HashSlots::position(slot)];
    slot = HashSlots::slot(hash, entries_.size());
    return entries_.emplace_back(Entry{Text(name), Net{}});
  }

  Entry* find(std::string_view name) {
    if (!slots_) return nullptr;
    const std::uint64_t slot = find(name, hash32(name));
    return slot == 0 ? nullptr : &entries_[HashSlots::position(slot)];
  }

  std::vector<Entry>& entries() noexcept { return entries_; }
  const std::vector<Entry>& entries() const noexcept { return entries_; }

 private:
  static std::size_t slots_for(std::size_t n) noexcept {
    return std::bit_ceil(std::max<std::size_t>(16, n * 2));
  }
  HashSlots index() const noexcept { return HashSlots(slots_.get(), slot_count_); }

  std::uint64_t& find(std::string_view name, std::uint32_t hash) const {
    return index().find(hash, [&](std::size_t at) { return entries_[at].name == name; });
  }

  void reserve_entries(std::size_t n) {
    if (n <= entries_.capacity()) return;
    entries_.reserve(n);
    orvelle::detail::advise_huge_pages(entries_.data(), n * sizeof(Entry));
  }

  void rebuild(std::size_t count) {
    // Not zeroed on allocation: a large table gets its huge pages before it is first written.
    std::unique_ptr<std::uint64_t[]> old(new std::uint64_t[count]);
    orvelle::detail::advise_huge_pages(old.get(), count * sizeof(std::uint64_t));
    std::fill_n(old.get(), count, 0);
    old.swap(slots_);
    const std::size_t old_count = std::exchange(slot_count_, count);
    index().insert_all(old.get(), old_count);
  }

  std::vector<Entry> entries_;
  std::unique_ptr<std::uint64_t[]> slots_;
  std::size_t slot_count_ = 0;
};

// A component the children use, with the port names its instance-port texts get.
struct Component {
  Text name;
  SharedPortNames ports;
  std::uint32_t positions = 0;    // how many ports its children use
  std::vector<Text> plain_names;  // by position, once closed
  std::vector<Text> text_names;   // the same renamed, once finishing
};

// An instance port past the second on one net: for the message, should the net be no port.
struct Crowding {
  std::uint32_t net;
  PortRef ref;
  std::size_t source_line;
};

// The first fault of the text among the children.
struct Fault {
  std::string message;   // empty for a repeated instance, named once the block is known
  std::string instance;  // the repeated instance
  std::size_t source_line;
};

constexpr std::uint32_t kRepeated = UINT32_MAX;

}  // namespace

Map make_instance(std::string_view component, Map settings, const Map& settings_keymap) {
  Map instance;
  instance.reserve(sax::instance_keys.size());
  instance.emplace(sax::instance_keys[0], component);
  instance.emplace(sax::instance_keys[1], patch_settings(std::move(settings), settings_keymap));
  return instance;
}

struct NetlistBuilder::State {
  std::vector<Component> components;
  std::unordered_map<std::string, std::uint32_t, StringHash, std::equal_to<>> component_index;
  std::uint32_t last_component = UINT32_MAX;
  std::vector<std::uint32_t> children;  // component of each child, in order
  NetTable nets;
  std::vector<Crowding> crowded;
  std::vector<std::pair<PortRef, PortRef>> connections;
  std::optional<Fault> fault;
  bool names_normal = true;  // every instance name and component so far
  Map instances;
  Map ports;
  MapBuilder placements;
  std::vector<std::string> warnings;

  void reserve(std::size_t expected_children) {
    children.reserve(expected_children);
    instances.reserve(expected_children);
    placements.reserve(expected_children);
    // A chain has about one net per child; room for a quarter more (three-port parts,
    // dangling nets) spares the table a doubling that would leave most of it empty.
    nets.reserve(expected_children + expected_children / 4);
  }

  // Neighbouring instances mostly share a component: skip the table for repeats.
  std::uint32_t component_of(std::string_view name) {
    if (last_component != UINT32_MAX && components[last_component].name == name) {
      return last_component;
    }
    auto found = component_index.find(name);
    if (found == component_index.end()) {
      components.push_back(Component{Text(name), get_ports(name), 0, {}, {}});
      found = component_index.emplace(std::string(name), components.size() - 1).first;
    }
    return last_component = found->second;
  }

  // The new child's index, or kRepeated for a name already taken.
  std::uint32_t add_instance(std::string_view name, std::string_view component, Map instance) {
    const std::uint32_t component_index = component_of(component);
    auto [slot, fresh] = instances.try_emplace(name);
    if (!fresh) return kRepeated;
    slot.value() = std::move(instance);
    names_normal = names_normal && sax::is_instance_port_part(name) && !component.empty();
    children.push_back(component_index);
    return static_cast<std::uint32_t>(children.size() - 1);
  }

  void add_nets(std::uint32_t child, std::span<const std::string_view> names, std::size_t line) {
    std::uint32_t& positions = components[children[child]].positions;
    positions = std::max(positions, static_cast<std::uint32_t>(names.size()));
    for (std::size_t i = 0; i < names.size(); ++i) {
      NetTable::Entry& entry = nets.find_or_add(names[i]);
      const PortRef ref{child, static_cast<std::uint32_t>(i)};
      Net& net = entry.net;
      if (net.count == 0) {
        net.first = ref;
      } else if (net.count == 1) {
        net.second = ref;
      } else {
        crowded.push_back({static_cast<std::uint32_t>(&entry - nets.entries().data()), ref, line});
      }
      ++net.count;
    }
  }

  std::string_view instance_name(std::uint32_t child) const { return instances.nth(child).key(); }

  // The text as assembled, before any renaming: for messages.
  std::string plain_text(PortRef ref) const {
    const Component& component = components[children[ref.child]];
    return sax::instance_port(instance_name(ref.child), get_port(*component.ports, ref.position))
        .str();
  }

  ParseError crowded_net(std::uint32_t position) const {
    const auto& [name, net, declared] = nets.entries()[position];
    std::string list = "[";  // appended, not concatenated: g++ 12 misreads the latter
    list += printed_text(plain_text(net.first));
    list += ", ";
    list += printed_text(plain_text(net.second));
    std::size_t line = 0;
    for (const Crowding& extra : crowded) {
      if (extra.net != position) continue;
      if (line == 0) line = extra.source_line;
      list += ", " + printed_text(plain_text(extra.ref));
    }
    list += "]";
    return ParseError("Net '" + name.str() + "' is connected to more than two ports: " + list +
                          ". This is currently not supported.",
                      line);
  }

  // The last instance port on each crowded net, which a declared port keeps.
  std::unordered_map<std::uint32_t, PortRef> last_of_crowded() const {
    std::unordered_map<std::uint32_t, PortRef> last;
    for (const Crowding& extra : crowded) last.insert_or_assign(extra.net, extra.ref);
    return last;
  }

  // Declared ports in the order instances first touch them, each with the last instance
  // port on it; then the other nets: one port makes an external port, two a connection.
  void join_nets(const Subckt& subckt) {
    for (const std::string& port : subckt.ports) {
      if (NetTable::Entry* entry = nets.find(port)) entry->declared = true;
    }
    auto& entries = nets.entries();
    const auto last = crowded.empty() ? decltype(last_of_crowded()){} : last_of_crowded();
    for (std::uint32_t position = 0; position < entries.size(); ++position) {
      const auto& [name, net, declared] = entries[position];
      if (!declared) continue;
      const PortRef ref = net.count == 1   ? net.first
                          : net.count == 2 ? net.second
                                           : last.at(position);
      ports.insert_or_assign(name, packed(ref));
    }
    connections.reserve(entries.size() / 2 + 1);
    for (std::uint32_t position = 0; position < entries.size(); ++position) {
      const auto& [name, net, declared] = entries[position];
      if (declared) continue;
      if (net.count == 1) {
        ports.insert_or_assign(name, packed(net.first));
      } else if (net.count == 2) {
        connections.emplace_back(net.first, net.second);
      } else {
        throw crowded_net(position);
      }
    }
    nets = NetTable();
  }

  // The port name of every position the children use, as the texts would have it unrenamed.
  void name_ports() {
    for (Component& component : components) {
      component.plain_names.reserve(component.positions);
      for (std::uint32_t i = 0; i < component.positions; ++i) {
        component.plain_names.emplace_back(get_port(*component.ports, i));
        names_normal = names_normal && sax::is_instance_port_part(component.plain_names.back());
      }
    }
  }

  void rename_ports(const SubcircuitPorts* renames) {
    for (Component& component : components) {
      const Map* external_ports = renames ? (*renames)(component.name) : nullptr;
      component.text_names.reserve(component.plain_names.size());
      for (const Text& plain : component.plain_names) {
        component.text_names.emplace_back(renamed_port(external_ports, plain));
      }
    }
  }

  Text port_text(PortRef ref) const {
    const Component& component = components[children[ref.child]];
    return sax::instance_port(instance_name(ref.child), component.text_names[ref.position]);
  }

  MapBuilder connection_texts(std::size_t from, std::size_t to) const {
    MapBuilder texts;
    texts.reserve(to - from);
    for (std::size_t i = from; i < to; ++i) {
      texts.add(port_text(connections[i].first), port_text(connections[i].second));
    }
    return texts;
  }
};

NetlistBuilder::NetlistBuilder(std::size_t expected_children) : state_(std::make_unique<State>()) {
  state_->reserve(expected_children);
}

NetlistBuilder::NetlistBuilder(NetlistBuilder&&) noexcept = default;
NetlistBuilder& NetlistBuilder::operator=(NetlistBuilder&&) noexcept = default;
NetlistBuilder::~NetlistBuilder() = default;

void NetlistBuilder::add(Child child) {
  State& s = *state_;
  if (s.fault) return;
  const std::uint32_t index =
      s.add_instance(child.name, child.component, std::move(child.instance));
  if (index == kRepeated) {
    s.fault = Fault{{}, std::string(child.name), child.source_line};
    return;
  }
  if (!child.comment.empty()) {
    try {
      const WarningCapture capture(s.warnings);
      if (auto placement = parse_location_comment(child.comment)) {
        s.placements.add(child.name, std::move(*placement));  // the name is new: checked above
      }
    } catch (const ParseError& error) {
      s.fault = Fault{error.what(), {}, child.source_line};
      return;
    }
  }
  s.add_nets(index, child.nets, child.source_line);
}

void NetlistBuilder::reserve(std::size_t children) {
  state_->reserve(children);
}

void NetlistBuilder::prefetch(std::string_view name,
                              std::span<const std::string_view> nets) const noexcept {
  state_->instances.prefetch(name);
  for (const std::string_view net : nets) state_->nets.prefetch(net);
}

void NetlistBuilder::close(const Subckt& subckt) {
  State& s = *state_;
  if (s.fault) {
    Fault& fault = *s.fault;
    if (fault.message.empty()) {
      fault.message = "Instance '" + fault.instance +
                      "' is defined more than once in subcircuit '" + subckt.component + "'.";
    }
    throw ParseError(fault.message, fault.source_line);
  }
  s.join_nets(subckt);
  s.name_ports();
}

std::vector<std::string>& NetlistBuilder::warnings() noexcept {
  return state_->warnings;
}

const Map& NetlistBuilder::ports() const noexcept {
  return state_->ports;
}

bool NetlistBuilder::normal() const noexcept {
  return state_->names_normal;
}

namespace {

// Runs `work` on a thread of its own where one can be had; else leaves it to the caller.
template <class Work>
auto on_the_side(Work work) -> std::future<decltype(work())> {
  try {
    return std::async(std::launch::async, std::move(work));
  } catch (const std::system_error&) {
    return {};
  }
}

}  // namespace

// A large netlist is finished on two threads: each makes half the connection texts, then
// one indexes the connections while the other makes the external ports' texts and indexes
// the placements.
Map NetlistBuilder::finish(Map settings, const SubcircuitPorts* renames,
                           std::size_t two_threads_from) && {
  State& s = *state_;
  s.rename_ports(renames);
  const std::size_t n = s.connections.size();
  const bool split = n >= two_threads_from && n >= 2;
  std::future<MapBuilder> second_half;
  if (split) second_half = on_the_side([&s, n] { return s.connection_texts(n / 2, n); });
  MapBuilder texts = s.connection_texts(0, second_half.valid() ? n / 2 : n);
  if (second_half.valid()) texts.add(second_half.get());
  std::future<Map> indexed;
  if (split) indexed = on_the_side([&texts] { return std::move(texts).finish(); });
  for (auto it = s.ports.begin(); it != s.ports.end(); ++it) {
    it.value() = s.port_text(unpacked(it->second));
  }
  Map placements = std::move(s.placements).finish();
  Map connections = indexed.valid() ? indexed.get() : std::move(texts).finish();
  Map netlist;
  netlist.reserve(sax::netlist_keys.size());
  netlist.emplace(sax::netlist_keys[0], std::move(s.instances));
  netlist.emplace(sax::netlist_keys[1], std::move(connections));
  netlist.emplace(sax::netlist_keys[2], std::move(s.ports));
  netlist.emplace(sax::netlist_keys[3], std::move(settings));
  netlist.emplace(sax::netlist_keys[4], std::move(placements));
  state_.reset();
  return netlist;
}

}  // namespace orvelle::core::netweave::detail
