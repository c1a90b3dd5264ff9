// One subcircuit's netlist from its IR records, and the renaming of positional ports.

#include <array>
#include <bit>
#include <charconv>
#include <cstring>
#include <future>
#include <system_error>
#include <unordered_map>

#include "orvelle/core/netweave/detail.hpp"

namespace orvelle::detail {

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

// Declared ports hold their instance port as an integer until the texts are made.
Value packed(PortRef ref) {
  return static_cast<std::int64_t>((std::uint64_t{ref.child} << 32) | ref.position);
}

PortRef unpacked(const Value& value) {
  const auto bits = static_cast<std::uint64_t>(value.as_int());
  return {static_cast<std::uint32_t>(bits >> 32), static_cast<std::uint32_t>(bits)};
}

// The instance ports on one net. Nets with more than two ports are errors, so only the first
// two are kept here; any further ones go to a side list, for the message.
struct Net {
  std::uint32_t count = 0;
  PortRef first{};
  PortRef second{};
};

// Net name -> the instance ports on it, in order of first sight. Open addressing with each
// name's 32-bit hash kept in its slot, so the slot a name will probe can be fetched ahead of
// its use, and growing never reads the names again.
class NetTable {
 public:
  struct Entry {
    Text name;
    Net net;
    bool external;  // a declared port of the subcircuit: its instance ports join no net
  };

  static std::uint32_t hash(std::string_view name) noexcept { return hash32(name); }

  void reserve(std::size_t n) {
    reserve_entries(n);
    if (slots_for(n) > slot_count_) rebuild(slots_for(n));
  }

  void prefetch(std::string_view name) const noexcept {
    if (slots_) __builtin_prefetch(slots_.get() + (hash(name) & mask()));
  }

  Entry& find_or_add(std::string_view name) {
    if (entries_.size() == entries_.capacity()) {
      reserve_entries(std::max<std::size_t>(16, 2 * entries_.size()));
    }
    if (slots_for(entries_.size() + 1) > slot_count_) rebuild(slots_for(entries_.size() + 1));
    const std::uint32_t h = hash(name);
    for (std::size_t i = h & mask();; i = (i + 1) & mask()) {
      const std::uint64_t slot = slots_[i];
      if (slot == 0) {
        slots_[i] = (std::uint64_t{h} << 32) | (entries_.size() + 1);
        return entries_.emplace_back(Entry{Text(name), Net{}, false});
      }
      Entry& entry = entries_[(slot & UINT32_MAX) - 1];
      if ((slot >> 32) == h && entry.name == name) return entry;
    }
  }

  std::vector<Entry>& entries() noexcept { return entries_; }

 private:
  static std::size_t slots_for(std::size_t n) noexcept {
    return std::bit_ceil(std::max<std::size_t>(16, n * 2));
  }
  std::size_t mask() const noexcept { return slot_count_ - 1; }

  void reserve_entries(std::size_t n) {
    if (n <= entries_.capacity()) return;
    entries_.reserve(n);
    detail::advise_huge_pages(entries_.data(), n * sizeof(Entry));
  }

  void rebuild(std::size_t count) {
    // Not zeroed on allocation: a large table gets its huge pages before it is first written.
    std::unique_ptr<std::uint64_t[]> old(new std::uint64_t[count]);
    detail::advise_huge_pages(old.get(), count * sizeof(std::uint64_t));
    std::fill_n(old.get(), count, 0);
    old.swap(slots_);
    const std::size_t old_count = std::exchange(slot_count_, count);
    constexpr std::size_t kAhead = 8;
    for (std::size_t j = 0; j < old_count; ++j) {
      if (j + kAhead < old_count && old[j + kAhead] != 0)
        __builtin_prefetch(slots_.get() + ((old[j + kAhead] >> 32) & mask()));
      if (old[j] == 0) continue;
      std::size_t i = (old[j] >> 32) & mask();
      while (slots_[i] != 0) i = (i + 1) & mask();
      slots_[i] = old[j];
    }
  }

  std::vector<Entry> entries_;
  std::unique_ptr<std::uint64_t[]> slots_;  // hash << 32 | position + 1; 0 when empty
  std::size_t slot_count_ = 0;
};

// A component the children use, with the port names its instance-port texts get.
struct Component {
  Text name;
  SharedPortNames ports;
  std::vector<Text> text_names;  // by position, filled before the texts are made
  const Map* subcircuit_ports = nullptr;
  std::uint32_t positions = 0;  // how many ports its children use
};

Text joined(std::string_view instance, std::string_view port) {
  const std::size_t size = instance.size() + 1 + port.size();
  if (size <= Text::max_inline) {
    std::array<char, Text::max_inline> buffer;
    std::memcpy(buffer.data(), instance.data(), instance.size());
    buffer[instance.size()] = ',';
    std::memcpy(buffer.data() + instance.size() + 1, port.data(), port.size());
    return Text(std::string_view(buffer.data(), size));
  }
  std::string text;
  text.reserve(size);
  text += instance;
  text += ',';
  text += port;
  return Text(text);
}

// k when `port` reads "o" followed by k written as get_port writes it, else 0.
std::size_t positional_number(std::string_view port) noexcept {
  if (port.size() < 2 || port.size() > 20 || port[0] != 'o' || port[1] == '0') return 0;
  std::size_t k = 0;
  const auto [end, error] = std::from_chars(port.data() + 1, port.data() + port.size(), k);
  return error == std::errc() && end == port.data() + port.size() ? k : 0;
}

}  // namespace

struct NetlistBuilder::State {
  State(const Subckt& subckt, const Map& keymap)
      : subcircuit(subckt.component), settings_keymap(keymap), external_ports(subckt.ports.size()) {
    for (const std::string& port : subckt.ports) nets.find_or_add(port).external = true;
  }

  void reserve(std::size_t expected_children) {
    children.reserve(expected_children);
    instances.reserve(expected_children);
    placements.reserve(expected_children);
    // A chain has about one net per child; room for a quarter more (three-port parts,
    // dangling nets) spares the table a doubling that would leave most of it empty.
    nets.reserve(external_ports + expected_children + expected_children / 4);
  }

  std::string subcircuit;
  const Map& settings_keymap;
  std::size_t external_ports;
  std::vector<Component> components;
  std::unordered_map<std::string, std::uint32_t, StringHash, std::equal_to<>> component_index;
  std::uint32_t last_component = UINT32_MAX;
  std::vector<std::uint32_t> children;  // component of each child, in order
  NetTable nets;
  std::vector<std::pair<std::uint32_t, PortRef>> crowded;  // (net position, third+ port)
  std::vector<std::pair<PortRef, PortRef>> connections;
  std::size_t failed_child = 0;
  Map instances;
  Map ports;
  MapBuilder placements;
  std::size_t placed = 0;

  // Neighbouring instances mostly share a component: skip the table for repeats.
  std::uint32_t component_of(std::string_view name) {
    if (last_component != UINT32_MAX && components[last_component].name == name) {
      return last_component;
    }
    auto found = component_index.find(name);
    if (found == component_index.end()) {
      components.push_back(Component{Text(name), get_ports(name), {}, nullptr});
      found = component_index.emplace(std::string(name), components.size() - 1).first;
    }
    return last_component = found->second;
  }

  // The new child's index. One lookup both refuses a repeated name and places the instance
  // that `make` gives.
  template <class MakeInstance>
  std::uint32_t add_instance(std::string_view name, std::string_view component,
                             MakeInstance&& make) {
    const std::uint32_t component_index = component_of(component);
    auto [slot, fresh] = instances.try_emplace(name);
    if (!fresh) {
      throw ParseError("Instance '" + std::string(name) +
                       "' is defined more than once in subcircuit '" + subcircuit + "'.");
    }
    slot.value() = make();
    children.push_back(component_index);
    return static_cast<std::uint32_t>(children.size() - 1);
  }

  // The name is new: add_instance checked it.
  void place(std::string_view name, Map placement) {
    placements.add(name, std::move(placement));
    ++placed;
  }

  void add_nets(std::uint32_t child, std::span<const std::string_view> names) {
    std::uint32_t& positions = components[children[child]].positions;
    positions = std::max(positions, static_cast<std::uint32_t>(names.size()));
    for (std::size_t i = 0; i < names.size(); ++i) {
      const PortRef ref{child, static_cast<std::uint32_t>(i)};
      NetTable::Entry& net = nets.find_or_add(names[i]);
      if (net.external) {
        ports.insert_or_assign(names[i], packed(ref));
      } else {
        add_to_net(net, ref);
      }
    }
  }

  void add_to_net(NetTable::Entry& entry, PortRef ref) {
    Net& net = entry.net;
    if (net.count == 0) {
      net.first = ref;
    } else if (net.count == 1) {
      net.second = ref;
    } else {
      crowded.emplace_back(static_cast<std::uint32_t>(&entry - nets.entries().data()), ref);
    }
    ++net.count;
  }

  std::string_view instance_name(std::uint32_t child) const { return instances.nth(child).key(); }

  // The text as assembled, before any renaming: for messages.
  std::string plain_text(PortRef ref) const {
    const Component& component = components[children[ref.child]];
    return joined(instance_name(ref.child), get_port(*component.ports, ref.position)).str();
  }

  ParseError overcrowded(std::size_t position) {
    const auto& [name, net, external] = nets.entries()[position];
    std::string list = "[";  // appended, not concatenated: g++ 12 misreads the latter
    list += printed_text(plain_text(net.first));
    list += ", ";
    list += printed_text(plain_text(net.second));
    bool first_extra = true;
    for (const auto& [net_position, ref] : crowded) {
      if (net_position != position) continue;
      if (first_extra) failed_child = ref.child;
      first_extra = false;
      list += ", " + printed_text(plain_text(ref));
    }
    list += "]";
    return ParseError("Net '" + name.str() + "' is connected to more than two ports: " + list +
                      ". This is currently not supported.");
  }

  // Names every port the children use, so that making the texts reads the components only.
  void name_ports(const SubcircuitPorts* renames) {
    for (Component& component : components) {
      component.text_names.reserve(component.positions);
      while (component.text_names.size() < component.positions) {
        component.text_names.push_back(
            renamed(component, get_port(*component.ports, component.text_names.size()), renames));
      }
    }
  }

  static Text renamed(Component& component, std::string port, const SubcircuitPorts* renames) {
    if (renames == nullptr) return Text(port);
    // The normaliser checks the texts before renaming; such a text is the staged reader's.
    if (port.empty() || port.find(',') != std::string::npos) throw StagedReadingNeeded{};
    if (component.text_names.empty()) component.subcircuit_ports = (*renames)(component.name);
    const Map* external_ports = component.subcircuit_ports;
    const std::size_t k = positional_number(port);
    if (external_ports == nullptr || k == 0 || k > external_ports->size()) return Text(port);
    return external_ports->nth(k - 1).key();
  }

  Text port_text(PortRef ref) const {
    const Component& component = components[children[ref.child]];
    return joined(instance_name(ref.child), component.text_names[ref.position]);
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

NetlistBuilder::NetlistBuilder(const Subckt& subckt, const Map& settings_keymap,
                               std::size_t expected_children)
    : state_(std::make_unique<State>(subckt, settings_keymap)) {
  state_->reserve(expected_children);
}

NetlistBuilder::NetlistBuilder(NetlistBuilder&&) noexcept = default;
NetlistBuilder& NetlistBuilder::operator=(NetlistBuilder&&) noexcept = default;
NetlistBuilder::~NetlistBuilder() = default;

Map NetlistBuilder::instance(std::string_view component, Map settings, const Map& settings_keymap) {
  Map instance;
  instance.reserve(2);
  instance.emplace("component", component);
  instance.emplace("settings", patch_settings(std::move(settings), settings_keymap));
  return instance;
}

void NetlistBuilder::add_child(std::string_view name, std::string_view component,
                               std::span<const std::string_view> nets, Map settings,
                               std::string_view comment) {
  State& s = *state_;
  const std::uint32_t child = s.add_instance(
      name, component, [&] { return instance(component, std::move(settings), s.settings_keymap); });
  if (auto placement = parse_location_comment(comment)) s.place(name, std::move(*placement));
  s.add_nets(child, nets);
}

void NetlistBuilder::add_child(std::string_view name, std::string_view component,
                               std::span<const std::string_view> nets, Map instance,
                               std::optional<Map> placement) {
  State& s = *state_;
  const std::uint32_t child = s.add_instance(name, component, [&] { return std::move(instance); });
  if (placement) s.place(name, std::move(*placement));
  s.add_nets(child, nets);
}

void NetlistBuilder::reserve(std::size_t children) {
  state_->reserve(children);
}

void NetlistBuilder::prefetch(std::string_view name,
                              std::span<const std::string_view> nets) const noexcept {
  state_->instances.prefetch(name);
  for (const std::string_view net : nets) state_->nets.prefetch(net);
}

void NetlistBuilder::close() {
  State& s = *state_;
  auto& nets = s.nets.entries();
  s.connections.reserve(nets.size() / 2 + 1);
  for (std::size_t position = 0; position < nets.size(); ++position) {
    const auto& [name, net, external] = nets[position];
    if (external) continue;
    if (net.count == 1) {
      s.ports.insert_or_assign(name, packed(net.first));
    } else if (net.count == 2) {
      s.connections.emplace_back(net.first, net.second);
    } else {
      throw s.overcrowded(position);
    }
  }
  s.nets = NetTable();
}

std::size_t NetlistBuilder::failed_child() const noexcept {
  return state_->failed_child;
}

const Map& NetlistBuilder::ports() const noexcept {
  return state_->ports;
}

namespace {

constexpr std::size_t kWorthAThread = 1 << 16;

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
Map NetlistBuilder::finish(Map settings, const SubcircuitPorts* renames) && {
  State& s = *state_;
  s.name_ports(renames);
  const std::size_t n = s.connections.size();
  std::future<MapBuilder> second_half;
  if (n >= kWorthAThread)
    second_half = on_the_side([&s, n] { return s.connection_texts(n / 2, n); });
  MapBuilder texts = s.connection_texts(0, second_half.valid() ? n / 2 : n);
  if (second_half.valid()) texts.add(second_half.get());
  std::future<Map> indexed;
  if (n >= kWorthAThread) indexed = on_the_side([&texts] { return std::move(texts).finish(); });
  for (auto it = s.ports.begin(); it != s.ports.end(); ++it) {
    it.value() = s.port_text(unpacked(it->second));
  }
  Map placements = std::move(s.placements).finish();
  Map connections = indexed.valid() ? indexed.get() : std::move(texts).finish();
  // Renaming two keys into one merges them otherwise than renaming afterwards would.
  if (renames != nullptr && connections.size() != n) throw StagedReadingNeeded{};
  Map netlist;
  netlist.reserve(5);
  netlist.emplace("instances", std::move(s.instances));
  netlist.emplace("connections", std::move(connections));
  netlist.emplace("ports", std::move(s.ports));
  netlist.emplace("settings", std::move(settings));
  netlist.emplace("placements", std::move(placements));
  state_.reset();
  return netlist;
}

namespace {

class Assembler {
 public:
  Assembler(const Ir& ir, const Subckt& subckt, const Map& settings_keymap,
            const Comments& comments, const SourceLines* source_lines)
      : ir_(ir),
        subckt_(subckt),
        settings_keymap_(settings_keymap),
        comments_(comments),
        source_lines_(source_lines) {}

  void consume(Ir& ir, Comments& comments) {
    owned_ir_ = &ir;
    owned_comments_ = &comments;
  }

  Map build() {
    const auto& ids = subckt_.children_ids;
    NetlistBuilder builder(subckt_, settings_keymap_, ids.size());
    for (std::size_t k = 0; k < ids.size(); ++k) {
      const std::int64_t id = ids[k];
      // The instances table is far larger than the cache: start fetching a later child's
      // slot while this one is assembled.
      if (k + kLookahead < ids.size()) {
        const Conn& later = conn(ids[k + kLookahead]);
        builder.prefetch(later.name, {});
      }
      try {
        add_child(builder, id);
      } catch (ParseError& error) {
        throw located(std::move(error), id);
      }
      if (owned_ir_ != nullptr) release(id);
    }
    try {
      builder.close();
    } catch (ParseError& error) {
      throw located(std::move(error), ids[builder.failed_child()]);
    }
    return std::move(builder).finish(patch_settings(subckt_.settings, settings_keymap_));
  }

 private:
  static constexpr std::size_t kLookahead = 4;

  const Conn& conn(std::int64_t id) const { return std::get<Conn>(ir_.at(id)); }

  void add_child(NetlistBuilder& builder, std::int64_t id) {
    const Conn& child = conn(id);
    nets_.assign(child.ports.begin(), child.ports.end());
    const auto comment = comments_.find(id);
    const std::string_view comment_text =
        comment == comments_.end() ? std::string_view() : comment->second.view();
    // Settings are taken from a record the caller gave up, else copied.
    Map settings = owned_ir_ != nullptr ? std::move(std::get<Conn>(owned_ir_->at(id)).settings)
                                        : child.settings;
    builder.add_child(child.name, child.component, nets_, std::move(settings), comment_text);
  }

  // Frees what the netlist no longer needs of a child: its settings and comment were taken,
  // and the builder holds its own copies of the names.
  void release(std::int64_t id) {
    Conn& conn = std::get<Conn>(owned_ir_->at(id));
    conn.settings = Map{};
    std::vector<std::string>().swap(conn.ports);  // assigning {} would keep the capacity
    std::string().swap(conn.name);
    if (auto comment = owned_comments_->find(id); comment != owned_comments_->end()) {
      comment.value() = Text();
    }
  }

  ParseError located(ParseError error, std::int64_t id) const {
    if (error.line() == 0 && source_lines_ != nullptr && id >= 1 &&
        static_cast<std::size_t>(id) <= source_lines_->size()) {
      error.set_line((*source_lines_)[static_cast<std::size_t>(id) - 1]);
    }
    return error;
  }

  const Ir& ir_;
  Ir* owned_ir_ = nullptr;  // set when the caller gives up the children's inputs
  Comments* owned_comments_ = nullptr;
  const Subckt& subckt_;
  const Map& settings_keymap_;
  const Comments& comments_;
  const SourceLines* source_lines_;
  std::vector<std::string_view> nets_;  // kept to reuse its storage
};

// Positional name ("o1", "o2", ...) -> external port name, per subcircuit.
using PortRenames = tsl::ordered_map<std::string, Map, StringHash, std::equal_to<>>;

std::pair<std::string_view, std::string_view> split_instance_port(std::string_view text) {
  const std::size_t comma = text.find(',');
  if (comma == std::string_view::npos || text.find(',', comma + 1) != std::string_view::npos) {
    throw std::invalid_argument("Cannot split instance port '" + std::string(text) +
                                "' into instance and port.");
  }
  return {text.substr(0, comma), text.substr(comma + 1)};
}

// Instance name -> renames of its subcircuit's ports. Usually far smaller than the
// instances, so looking up every instance port in it stays cheap.
using SubcircuitInstances =
    tsl::ordered_map<std::string_view, const Map*, std::hash<std::string_view>, std::equal_to<>,
                     std::allocator<std::pair<std::string_view, const Map*>>,
                     std::vector<std::pair<std::string_view, const Map*>>>;

// Gives an instance port with its port renamed, or nothing when the name stays.
class Translator {
 public:
  explicit Translator(const SubcircuitInstances& subcircuits) : subcircuits_(subcircuits) {}

  std::optional<std::string> operator()(std::string_view text) {
    const auto [instance, port] = split_instance_port(text);
    const Map* renames = renames_of(instance);
    if (renames == nullptr) return std::nullopt;
    const auto to = renames->find(port);
    if (to == renames->end() || to->second.as_string() == port) return std::nullopt;
    std::string out;
    out.reserve(instance.size() + 1 + to->second.as_string().size());
    out += instance;
    out += ',';
    out += to->second.as_string();
    return out;
  }

 private:
  const Map* renames_of(std::string_view instance) {
    if (!looked_up_ || instance != last_instance_) {
      const auto found = subcircuits_.find(instance);
      last_renames_ = found == subcircuits_.end() ? nullptr : found->second;
      last_instance_ = instance;
      looked_up_ = true;
    }
    return last_renames_;
  }

  const SubcircuitInstances& subcircuits_;
  bool looked_up_ = false;
  std::string last_instance_;
  const Map* last_renames_ = nullptr;
};

class PortPatcher {
 public:
  explicit PortPatcher(const Map& recursive_netlist) {
    for (const auto& [name, netlist] : recursive_netlist) {
      Map& renames = renames_[name.str()];
      std::size_t i = 0;
      for (const auto& entry : netlist.as_map().at("ports").as_map()) {
        renames.emplace(get_port({}, i++), entry.first);
      }
    }
  }

  // A netlist without subcircuit instances is left as it is; otherwise its connections are
  // rebuilt and its ports rewritten where a name changes.
  void patch(Map& netlist) const {
    const SubcircuitInstances subcircuits = subcircuit_instances(netlist.at("instances").as_map());
    if (subcircuits.empty()) return;  // nothing could be renamed
    Translator translated(subcircuits);
    patch_connections(translated, netlist.at("connections").as_map());
    Map& ports = netlist.at("ports").as_map();
    for (auto it = ports.begin(); it != ports.end(); ++it) {
      if (auto text = translated(it->second.as_string())) it.value() = std::move(*text);
    }
  }

 private:
  SubcircuitInstances subcircuit_instances(const Map& instances) const {
    SubcircuitInstances found;
    for (const auto& [name, instance] : instances) {
      const Value* component = component_of(instance);
      const auto* text = component ? component->get_if<Text>() : nullptr;
      if (text == nullptr) continue;
      if (const auto renames = renames_.find(*text); renames != renames_.end())
        found.emplace(name, &renames->second);
    }
    return found;
  }

  // Rebuilt in one pass: a connection's value is usually the next one's key, so the
  // translator's last lookup serves half of them.
  static void patch_connections(Translator& translated, Map& connections) {
    MapBuilder patched;  // merges keys that a rename makes equal, as assignment would
    patched.reserve(connections.size());
    for (const auto& [from, to] : connections) {
      auto key = translated(from);
      auto value = translated(to.as_string());
      patched.add(key ? Text(*key) : from, value ? Value(*value) : to);
    }
    connections = std::move(patched).finish();
  }

  static const Value* component_of(const Value& instance) {
    const Map* fields = instance.get_if<Map>();
    if (fields == nullptr) return nullptr;
    const auto found = fields->find("component");
    return found == fields->end() ? nullptr : &found->second;
  }

  PortRenames renames_;
};

}  // namespace

Map netlist_from_subckt(const Ir& ir, const Subckt& subckt, const Map& settings_keymap,
                        const Comments& comments, const SourceLines* source_lines) {
  return Assembler(ir, subckt, settings_keymap, comments, source_lines).build();
}

Map take_netlist_from_subckt(Ir& ir, const Subckt& subckt, const Map& settings_keymap,
                             Comments& comments, const SourceLines* source_lines) {
  Assembler assembler(ir, subckt, settings_keymap, comments, source_lines);
  assembler.consume(ir, comments);
  return assembler.build();
}

void patch_ports(Map& recursive_netlist) {
  const PortPatcher patcher(recursive_netlist);
  for (auto it = recursive_netlist.begin(); it != recursive_netlist.end(); ++it) {
    patcher.patch(it.value().as_map());
  }
}

}  // namespace orvelle::detail
