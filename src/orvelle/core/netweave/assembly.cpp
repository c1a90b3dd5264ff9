// One subcircuit's netlist from its IR records, and the renaming of positional ports.

#include <unordered_set>

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

// The instance ports on one net. Nets with more than two ports are errors, so only the first
// two are kept here; any further ones go to a side list, for the message.
struct Net {
  std::uint32_t count = 0;
  PortRef first{};
  PortRef second{};
};

struct Child {
  const Conn* conn;
  const PortNames* ports;  // kept alive by the assembler's `port_lists_`
};

class Assembler {
 public:
  Assembler(const Ir& ir, const Subckt& subckt, const Map& settings_keymap,
            const Comments& comments, const SourceLines* source_lines)
      : ir_(ir),
        subckt_(subckt),
        settings_keymap_(settings_keymap),
        comments_(comments),
        source_lines_(source_lines),
        external_(subckt.ports.begin(), subckt.ports.end()) {}

  void consume(Ir& ir, Comments& comments) {
    owned_ir_ = &ir;
    owned_comments_ = &comments;
  }

  Map build() {
    children_.reserve(subckt_.children_ids.size());
    instances_.reserve(subckt_.children_ids.size());
    placements_.reserve(subckt_.children_ids.size());
    // A chain has about one net per child; room for a quarter more (three-port parts, dangling
    // nets) spares the table a doubling that would leave most of it empty.
    nets_.reserve(subckt_.children_ids.size() + subckt_.children_ids.size() / 4);
    const auto& ids = subckt_.children_ids;
    for (std::size_t k = 0; k < ids.size(); ++k) {
      const std::int64_t id = ids[k];
      if (k + kLookahead < ids.size()) prefetch_child(ids[k + kLookahead]);
      try {
        if (owned_ir_ != nullptr) {
          Conn& conn = std::get<Conn>(owned_ir_->at(id));
          add_child(conn, std::move(conn.settings));
        } else {
          const Conn& conn = std::get<Conn>(ir_.at(id));
          add_child(conn, conn.settings);
        }
      } catch (ParseError& error) {
        throw located(std::move(error), id);
      }
      if (owned_ir_ != nullptr) release(id);
    }
    Map netlist;
    netlist.reserve(5);
    netlist.emplace("instances", std::move(instances_));
    netlist.emplace("connections", connect_nets());
    netlist.emplace("ports", std::move(ports_));
    netlist.emplace("settings", patch_settings(subckt_.settings, settings_keymap_));
    netlist.emplace("placements", std::move(placements_).finish());
    return netlist;
  }

 private:
  // `settings` are the child's own, copied or taken from the IR.
  void add_child(const Conn& conn, Map settings) {
    const auto child = static_cast<std::uint32_t>(children_.size());
    children_.push_back(Child{&conn, ports_of(conn.component).get()});
    // One lookup both refuses a repeated name and places the new instance.
    auto [slot, fresh] = instances_.try_emplace(conn.name);
    if (!fresh) {
      throw ParseError("Instance '" + conn.name + "' is defined more than once in subcircuit '" +
                       subckt_.component + "'.");
    }
    Map instance;
    instance.reserve(2);
    instance.emplace("component", conn.component);
    instance.emplace("settings", patch_settings(std::move(settings), settings_keymap_));
    slot.value() = std::move(instance);
    if (const auto comment = comments_.find(conn.id); comment != comments_.end()) {
      if (auto placement = parse_location_comment(comment->second)) {
        placements_.add(conn.name, std::move(*placement));  // the name is new: checked above
      }
    }
    for (std::size_t i = 0; i < conn.ports.size(); ++i) {
      const PortRef ref{child, static_cast<std::uint32_t>(i)};
      const std::string_view net = conn.ports[i];
      if (external_.contains(net)) {
        ports_.insert_or_assign(net, port_text(ref));
      } else {
        add_to_net(net, ref);
      }
    }
  }

  // Frees what the netlist no longer needs of a child: its settings and comment were taken,
  // and the nets table holds its own copies of the net names. Its name stays: the texts of
  // its ports are made from it at the end.
  void release(std::int64_t id) {
    Conn& conn = std::get<Conn>(owned_ir_->at(id));
    conn.settings = Map{};
    std::vector<std::string>().swap(conn.ports);  // assigning {} would keep the capacity
    if (auto comment = owned_comments_->find(id); comment != owned_comments_->end()) {
      comment.value() = Text();
    }
  }

  // Neighbouring instances mostly share a component: skip the shared memo for repeats.
  const SharedPortNames& ports_of(const std::string& component) {
    if (!last_ports_ || component != last_component_) {
      last_ports_ = get_ports(component);
      last_component_ = component;
      port_lists_.insert(last_ports_);
    }
    return last_ports_;
  }

  // The instances table is far larger than the cache: start fetching a later child's slot
  // while this one is assembled.
  static constexpr std::size_t kLookahead = 4;
  void prefetch_child(std::int64_t id) const {
    instances_.prefetch(std::get<Conn>(ir_.at(id)).name);
  }

  void add_to_net(std::string_view name, PortRef ref) {
    auto found = nets_.find(name);
    if (found == nets_.end()) found = nets_.emplace(Text(name), Net{}).first;
    Net& net = found.value();
    if (net.count == 0) {
      net.first = ref;
    } else if (net.count == 1) {
      net.second = ref;
    } else {
      crowded_.emplace_back(static_cast<std::uint32_t>(found - nets_.begin()), ref);
    }
    ++net.count;
  }

  Map connect_nets() {
    MapBuilder connections;  // each instance port is on one net: keys are unique
    connections.reserve(nets_.size() / 2 + 1);
    for (auto it = nets_.begin(); it != nets_.end(); ++it) {
      const Net& net = it->second;
      if (net.count == 1) {
        ports_.insert_or_assign(it->first, port_text(net.first));
      } else if (net.count == 2) {
        connections.add(port_text(net.first), port_text(net.second));
      } else {
        throw overcrowded(static_cast<std::size_t>(it - nets_.begin()));
      }
    }
    return std::move(connections).finish();
  }

  ParseError overcrowded(std::size_t position) const {
    const auto& [name, net] = *(nets_.begin() + static_cast<std::ptrdiff_t>(position));
    std::string list =
        "[" + printed_text(port_text(net.first)) + ", " + printed_text(port_text(net.second));
    std::int64_t third_id = 0;
    for (const auto& [net_position, ref] : crowded_) {
      if (net_position != position) continue;
      if (third_id == 0) third_id = children_[ref.child].conn->id;
      list += ", " + printed_text(port_text(ref));
    }
    list += "]";
    ParseError error("Net '" + name.str() + "' is connected to more than two ports: " + list +
                     ". This is currently not supported.");
    return located(std::move(error), third_id);
  }

  std::string port_text(PortRef ref) const {
    const Child& child = children_[ref.child];
    std::string text = child.conn->name;
    text += ',';
    if (ref.position < child.ports->size()) {
      text += (*child.ports)[ref.position];
    } else {
      text += get_port(*child.ports, ref.position);
    }
    return text;
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
  std::unordered_set<std::string_view> external_;
  std::vector<Child> children_;
  std::string last_component_;
  SharedPortNames last_ports_;
  std::unordered_set<SharedPortNames> port_lists_;  // every list a child points into
  // Entries in one reserved vector: tsl's default deque allocates block after block.
  tsl::ordered_map<Text, Net, StringHash, std::equal_to<>, std::allocator<std::pair<Text, Net>>,
                   std::vector<std::pair<Text, Net>>>
      nets_;
  std::vector<std::pair<std::uint32_t, PortRef>> crowded_;  // (net position, third+ port)
  Map instances_;
  Map ports_;
  MapBuilder placements_;
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
