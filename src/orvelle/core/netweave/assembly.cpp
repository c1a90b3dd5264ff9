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
// two are kept inline.
struct Net {
  std::uint32_t count = 0;
  PortRef first{};
  PortRef second{};
  std::vector<PortRef> more;
};

struct Child {
  const Conn* conn;
  SharedPortNames ports;
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

  Map build() {
    children_.reserve(subckt_.children_ids.size());
    instances_.reserve(subckt_.children_ids.size());
    for (const std::int64_t id : subckt_.children_ids) {
      try {
        add_child(std::get<Conn>(ir_.at(id)));
      } catch (ParseError& error) {
        throw located(std::move(error), id);
      }
    }
    Map netlist;
    netlist.reserve(5);
    netlist.emplace("instances", std::move(instances_));
    netlist.emplace("connections", connect_nets());
    netlist.emplace("ports", std::move(ports_));
    netlist.emplace("settings", patch_settings(subckt_.settings, settings_keymap_));
    netlist.emplace("placements", std::move(placements_));
    return netlist;
  }

 private:
  void add_child(const Conn& conn) {
    const auto child = static_cast<std::uint32_t>(children_.size());
    children_.push_back(Child{&conn, get_ports(conn.component)});
    if (instances_.contains(conn.name)) {
      throw ParseError("Instance '" + conn.name + "' is defined more than once in subcircuit '" +
                       subckt_.component + "'.");
    }
    Map instance;
    instance.reserve(2);
    instance.emplace("component", conn.component);
    instance.emplace("settings", patch_settings(conn.settings, settings_keymap_));
    instances_.emplace(conn.name, std::move(instance));
    if (const auto comment = comments_.find(conn.id); comment != comments_.end()) {
      if (auto placement = parse_location_comment(comment->second)) {
        placements_.insert_or_assign(conn.name, std::move(*placement));
      }
    }
    for (std::size_t i = 0; i < conn.ports.size(); ++i) {
      const PortRef ref{child, static_cast<std::uint32_t>(i)};
      const std::string& net = conn.ports[i];
      if (external_.contains(net)) {
        ports_.insert_or_assign(net, port_text(ref));
      } else {
        add_to_net(net, ref);
      }
    }
  }

  void add_to_net(std::string_view name, PortRef ref) {
    Net& net = nets_[name];
    if (net.count == 0) {
      net.first = ref;
    } else if (net.count == 1) {
      net.second = ref;
    } else {
      net.more.push_back(ref);
    }
    ++net.count;
  }

  Map connect_nets() {
    Map connections;
    connections.reserve(nets_.size() / 2 + 1);
    for (const auto& [name, net] : nets_) {
      if (net.count == 1) {
        ports_.insert_or_assign(std::string(name), port_text(net.first));
      } else if (net.count == 2) {
        connections.insert_or_assign(port_text(net.first), port_text(net.second));
      } else {
        throw overcrowded(name, net);
      }
    }
    return connections;
  }

  ParseError overcrowded(std::string_view name, const Net& net) const {
    std::string list =
        "[" + printed_text(port_text(net.first)) + ", " + printed_text(port_text(net.second));
    for (const PortRef ref : net.more) list += ", " + printed_text(port_text(ref));
    list += "]";
    ParseError error("Net '" + std::string(name) + "' is connected to more than two ports: " +
                     list + ". This is currently not supported.");
    return located(std::move(error), children_[net.more.front().child].conn->id);
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
  const Subckt& subckt_;
  const Map& settings_keymap_;
  const Comments& comments_;
  const SourceLines* source_lines_;
  std::unordered_set<std::string_view> external_;
  std::vector<Child> children_;
  tsl::ordered_map<std::string_view, Net> nets_;
  Map instances_;
  Map ports_;
  Map placements_;
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

class PortPatcher {
 public:
  explicit PortPatcher(const Map& recursive_netlist) {
    for (const auto& [name, netlist] : recursive_netlist) {
      Map& renames = renames_[name];
      std::size_t i = 0;
      for (const auto& entry : netlist.as_map().at("ports").as_map()) {
        renames.emplace(get_port({}, i++), entry.first);
      }
    }
  }

  void patch(Map& netlist) const {
    const Map& instances = netlist.at("instances").as_map();
    if (!uses_subcircuit(instances)) return;  // nothing could be renamed
    Map connections;
    for (const auto& [key, value] : netlist.at("connections").as_map()) {
      connections.insert_or_assign(translate(instances, key),
                                   translate(instances, value.as_string()));
    }
    Map ports;
    for (const auto& [name, text] : netlist.at("ports").as_map()) {
      ports.insert_or_assign(name, translate(instances, text.as_string()));
    }
    netlist.at("connections") = std::move(connections);
    netlist.at("ports") = std::move(ports);
  }

 private:
  bool uses_subcircuit(const Map& instances) const {
    for (const auto& [name, instance] : instances) {
      if (const Value* component = component_of(instance)) {
        if (const auto* text = component->get_if<std::string>(); text && renames_.contains(*text)) {
          return true;
        }
      }
    }
    return false;
  }

  static const Value* component_of(const Value& instance) {
    const Map* fields = instance.get_if<Map>();
    if (fields == nullptr) return nullptr;
    const auto found = fields->find("component");
    return found == fields->end() ? nullptr : &found->second;
  }

  std::string translate(const Map& instances, std::string_view text) const {
    const auto [instance, port] = split_instance_port(text);
    std::string out(instance);
    out += ',';
    out += renamed(instances, instance, port);
    return out;
  }

  std::string_view renamed(const Map& instances, std::string_view instance,
                           std::string_view port) const {
    const auto found = instances.find(instance);
    if (found == instances.end()) return port;
    const Value* component = component_of(found->second);
    const auto* name = component ? component->get_if<std::string>() : nullptr;
    if (name == nullptr) return port;
    const auto renames = renames_.find(*name);
    if (renames == renames_.end()) return port;
    const auto to = renames->second.find(port);
    return to == renames->second.end() ? port : std::string_view(to->second.as_string());
  }

  PortRenames renames_;
};

}  // namespace

Map netlist_from_subckt(const Ir& ir, const Subckt& subckt, const Map& settings_keymap,
                        const Comments& comments, const SourceLines* source_lines) {
  return Assembler(ir, subckt, settings_keymap, comments, source_lines).build();
}

void patch_ports(Map& recursive_netlist) {
  const PortPatcher patcher(recursive_netlist);
  for (auto it = recursive_netlist.begin(); it != recursive_netlist.end(); ++it) {
    patcher.patch(it.value().as_map());
  }
}

}  // namespace orvelle::detail
