// The checks that need only the recursive netlist: how instance ports are used, and which
// subcircuits are used.

#include <algorithm>
#include <unordered_set>

#include "orvelle/core/check/detail.hpp"

namespace orvelle::check::detail {

std::string json_pointer(std::initializer_list<std::string_view> keys) {
  std::string pointer;
  for (const std::string_view key : keys) {
    pointer += '/';
    for (const char c : key) {
      if (c == '~') {
        pointer += "~0";
      } else if (c == '/') {
        pointer += "~1";
      } else {
        pointer += c;
      }
    }
  }
  return pointer;
}

std::string in_quotes(std::string_view text) {
  std::string out = "'";
  out += text;
  out += '\'';
  return out;
}

std::string concatenated(std::initializer_list<std::string_view> pieces) {
  std::size_t size = 0;
  for (const std::string_view piece : pieces) size += piece.size();
  std::string out;
  out.reserve(size);
  for (const std::string_view piece : pieces) out += piece;
  return out;
}

std::optional<std::size_t> ComponentPorts::find(std::string_view port) const {
  if (sorted_.empty()) {
    const auto at = std::find(ports.begin(), ports.end(), port);
    if (at == ports.end()) return std::nullopt;
    return static_cast<std::size_t>(at - ports.begin());
  }
  const auto at =
      std::lower_bound(sorted_.begin(), sorted_.end(), port,
                       [](const auto& entry, std::string_view p) { return entry.first < p; });
  if (at == sorted_.end() || at->first != port) return std::nullopt;
  return at->second;
}

void ComponentPorts::index() {
  constexpr std::size_t kLinearUpTo = 16;
  sorted_.clear();
  if (ports.size() <= kLinearUpTo) return;
  for (std::size_t i = 0; i < ports.size(); ++i) {
    sorted_.emplace_back(ports[i], static_cast<std::uint32_t>(i));
  }
  // Stable, so that of two equal names the first position is found, as a linear search would.
  std::stable_sort(sorted_.begin(), sorted_.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
}

Components::Components(const RecursiveNetlist& netlist, KitLookup kit, std::string kit_name,
                       std::vector<std::string_view> portless)
    : netlist_(netlist),
      kit_(std::move(kit)),
      kit_name_(std::move(kit_name)),
      portless_(std::move(portless)) {}

ComponentPorts Components::make(std::string_view component) const {
  ComponentPorts resolved;
  if (const auto subcircuit = netlist_.find(component); subcircuit != netlist_.end()) {
    resolved.kind = ComponentPorts::Kind::subcircuit;
    for (const auto& [port, target] : subcircuit->second.as_map().at("ports").as_map()) {
      resolved.ports.push_back(port.str());
    }
  } else if (std::find(portless_.begin(), portless_.end(), component) != portless_.end()) {
    resolved.kind = ComponentPorts::Kind::portless;
  } else if (const auto ports = kit_(component); ports && !ports->empty()) {
    resolved.kind = ComponentPorts::Kind::kit;
    resolved.ports = *ports;
  }
  return resolved;
}

const ComponentPorts& Components::resolve(std::string_view component) {
  // Neighbouring instances mostly share a component.
  if (last_ != nullptr && component == last_name_) return *last_;
  auto found = resolved_.find(component);
  if (found == resolved_.end()) {
    found = resolved_.emplace(std::string(component), make(component)).first;
    found->second.index();
  }
  last_name_ = found->first;
  last_ = &found->second;
  return *last_;
}

namespace {

// Some of a long list of names, for a message.
std::string listed(const std::vector<std::string>& names) {
  constexpr std::size_t kShown = 8;
  std::string out;
  for (std::size_t i = 0; i < names.size() && i < kShown; ++i) {
    out += (i == 0 ? "" : ", ") + names[i];
  }
  if (names.size() > kShown) out += ", ... (" + std::to_string(names.size()) + " in all)";
  return out;
}

// One use of an instance port: an end of a connection, or an external port.
struct Use {
  enum class Kind : std::uint8_t { connection_key, connection_value, port };
  Kind kind;
  std::uint32_t index;  // of the connection or the external port
};

// The uses of one netlist's instance ports, told apart by instance and port position.
class NetlistChecker {
 public:
  NetlistChecker(std::string_view name, const Map& netlist, Components& components, bool with_paths,
                 std::vector<Issue>& out)
      : with_paths_(with_paths),
        name_(name),
        instances_(netlist.at("instances").as_map()),
        connections_(netlist.at("connections").as_map()),
        ports_(netlist.at("ports").as_map()),
        components_(components),
        out_(out) {}

  void run() {
    resolve_instances();
    std::uint32_t index = 0;
    for (const auto& [from, to] : connections_) {
      use(from, {Use::Kind::connection_key, index});
      use(to.as_string(), {Use::Kind::connection_value, index});
      ++index;
    }
    index = 0;
    for (const auto& [port, target] : ports_) use(target.as_string(), {Use::Kind::port, index++});
    report_dangling();
  }

 private:
  static constexpr std::uint64_t kUnused = 0;

  static std::uint64_t packed(Use use) {
    return (std::uint64_t{use.index} << 2 | static_cast<std::uint64_t>(use.kind)) + 1;
  }
  static Use unpacked(std::uint64_t bits) {
    --bits;
    return {static_cast<Use::Kind>(bits & 3), static_cast<std::uint32_t>(bits >> 2)};
  }

  void resolve_instances() {
    kinds_.reserve(instances_.size());
    first_slot_.reserve(instances_.size() + 1);
    std::size_t slots = 0;
    std::size_t i = 0;
    for (const auto& [instance, fields] : instances_) {
      const std::string_view component = fields.as_map().at("component").as_string();
      const ComponentPorts& resolved = components_.resolve(component);
      if (resolved.kind == ComponentPorts::Kind::unknown) report_unknown(instance, component, i);
      kinds_.push_back(&resolved);
      first_slot_.push_back(slots);
      slots += resolved.ports.size();
      ++i;
    }
    first_slot_.push_back(slots);
    slot_uses_.assign(slots, kUnused);
  }

  void report_unknown(std::string_view instance, std::string_view component, std::size_t i) {
    out_.push_back(Issue{"unknown-component",
                         Severity::error,
                         std::string(name_),
                         pointer({name_, "instances", instance, "component"}),
                         "component " + in_quotes(component) + " of instance " +
                             in_quotes(instance) + " is neither in kit " +
                             in_quotes(components_.kit_name()) + " nor a subcircuit of this file",
                         i,
                         {}});
  }

  // Instances are looked up by name. Connections come mostly in the order of the instances
  // (a value's instance is the next key's, or the instance after it), so the last one found
  // and the one after it are tried before the table.
  std::optional<std::size_t> instance_index(std::string_view instance) {
    if (last_instance_) {
      if (instance == last_instance_name_) return last_instance_;
      const std::size_t next = *last_instance_ + 1;
      if (next < instances_.size() && instances_.nth(next)->first == instance) {
        last_instance_name_ = instances_.nth(next)->first;
        return last_instance_ = next;
      }
    }
    const auto found = instances_.find(instance);
    if (found == instances_.end()) return std::nullopt;
    last_instance_name_ = found->first;
    last_instance_ = static_cast<std::size_t>(found - instances_.begin());
    return last_instance_;
  }

  void use(std::string_view text, Use where) {
    const std::size_t comma = text.find(',');
    const std::string_view instance = text.substr(0, comma);
    const std::string_view port = comma == std::string_view::npos ? "" : text.substr(comma + 1);
    const auto i = instance_index(instance);
    if (!i) {
      report(where, "missing-instance", text,
             in_quotes(text) + " names instance " + in_quotes(instance) + ", which subcircuit " +
                 in_quotes(name_) + " does not have",
             std::nullopt);
      return;
    }
    const ComponentPorts& component = *kinds_[*i];
    std::uint64_t* slot = nullptr;
    if (const auto position = component.find(port)) {
      slot = &slot_uses_[first_slot_[*i] + *position];
    } else {
      if (component.kind == ComponentPorts::Kind::subcircuit ||
          component.kind == ComponentPorts::Kind::kit) {
        report_missing_port(where, text, instance, port, *i, component);
      }
      slot = &unlisted_uses_.try_emplace(std::string(text), kUnused).first->second;
    }
    if (*slot == kUnused) {
      *slot = packed(where);
    } else if (!reported_twice_.contains(text)) {
      reported_twice_.emplace(text);
      report_second_use(unpacked(*slot), where, text, *i);
    }
  }

  void report_missing_port(Use where, std::string_view text, std::string_view instance,
                           std::string_view port, std::size_t i, const ComponentPorts& component) {
    if (!reported_missing_.emplace(text).second) return;
    const std::string_view component_name =
        instances_.nth(i)->second.as_map().at("component").as_string();
    report(where, "missing-port", text,
           "instance " + in_quotes(instance) + " (" + std::string(component_name) +
               ") has no port " + in_quotes(port) + "; its ports are " + listed(component.ports),
           i);
  }

  void report_second_use(Use first, Use second, std::string_view text, std::size_t i) {
    const bool exposed_and_connected =
        (first.kind == Use::Kind::port) != (second.kind == Use::Kind::port);
    report(second, exposed_and_connected ? "connected-and-exposed" : "connected-twice", text,
           "instance port " + in_quotes(text) + " is " + described(first) + " and " +
               described(second),
           i);
  }

  std::string described(Use use) const {
    if (use.kind == Use::Kind::port) {
      return "exposed as port " + in_quotes(ports_.nth(use.index)->first);
    }
    const auto connection = connections_.nth(use.index);
    const std::string_view other = use.kind == Use::Kind::connection_key
                                       ? connection->second.as_string()
                                       : std::string_view(connection->first);
    return "connected to " + in_quotes(other);
  }

  std::string path_of(Use use) const {
    if (use.kind == Use::Kind::port) {
      return pointer({name_, "ports", ports_.nth(use.index)->first});
    }
    return pointer({name_, "connections", connections_.nth(use.index)->first});
  }

  void report(Use where, std::string_view check, std::string_view instance_port,
              std::string message, std::optional<std::size_t> instance) {
    out_.push_back(Issue{check, Severity::error, std::string(name_), path_of(where),
                         std::move(message), instance, std::string(instance_port)});
  }

  void report_dangling() {
    for (std::size_t i = 0; i < kinds_.size(); ++i) {
      const std::size_t first = first_slot_[i];
      if (std::find(slot_uses_.begin() + first, slot_uses_.begin() + first_slot_[i + 1], kUnused) ==
          slot_uses_.begin() + first_slot_[i + 1]) {
        continue;  // every port used: the usual case
      }
      const auto instance = instances_.nth(i);
      const std::string_view component = instance->second.as_map().at("component").as_string();
      const std::vector<std::string>& ports = kinds_[i]->ports;
      for (std::size_t p = 0; p < ports.size(); ++p) {
        if (slot_uses_[first + p] != kUnused) continue;
        const std::string_view name = instance->first;
        out_.push_back(Issue{"dangling-port", Severity::warning, std::string(name_),
                             pointer({name_, "instances", name}),
                             concatenated({"port '", ports[p], "' of instance '", name, "' (",
                                           component, ") is neither connected nor exposed"}),
                             i, concatenated({name, ",", ports[p]})});
      }
    }
  }

  // Paths are made only for findings that are located by them, not by source lines.
  std::string pointer(std::initializer_list<std::string_view> keys) const {
    return with_paths_ ? json_pointer(keys) : std::string();
  }

  bool with_paths_;
  std::string_view name_;
  const Map& instances_;
  const Map& connections_;
  const Map& ports_;
  Components& components_;
  std::vector<Issue>& out_;
  std::vector<const ComponentPorts*> kinds_;  // by instance
  std::vector<std::size_t> first_slot_;       // by instance, and the end
  std::vector<std::uint64_t> slot_uses_;      // first use of each known instance port
  std::unordered_map<std::string, std::uint64_t, StringHash, std::equal_to<>> unlisted_uses_;
  std::unordered_set<std::string, StringHash, std::equal_to<>> reported_twice_;
  std::unordered_set<std::string, StringHash, std::equal_to<>> reported_missing_;
  std::optional<std::size_t> last_instance_;
  std::string_view last_instance_name_;
};

}  // namespace

std::vector<Issue> check_connectivity(const RecursiveNetlist& netlist, Components& components,
                                      bool with_paths) {
  std::vector<Issue> issues;
  for (const auto& [name, subcircuit] : netlist) {
    NetlistChecker(name, subcircuit.as_map(), components, with_paths, issues).run();
  }
  return issues;
}

std::vector<Issue> check_hierarchy(const RecursiveNetlist& netlist) {
  std::unordered_set<std::string_view> used;
  std::string_view last;
  for (const auto& [name, subcircuit] : netlist) {
    for (const auto& [instance, fields] : subcircuit.as_map().at("instances").as_map()) {
      const std::string_view component = fields.as_map().at("component").as_string();
      if (component != last) used.insert(component);
      last = component;
    }
  }
  std::vector<Issue> issues;
  for (auto it = netlist.begin(); it != netlist.end(); ++it) {
    const std::string_view name = it->first;
    if (it != netlist.begin() && !used.contains(name)) {
      issues.push_back(Issue{"unused-subcircuit",
                             Severity::warning,
                             std::string(name),
                             json_pointer({name}),
                             "subcircuit " + in_quotes(name) +
                                 " is never used and is not the top (" +
                                 in_quotes(netlist.begin()->first) + ")",
                             std::nullopt,
                             {}});
    }
    if (it->second.as_map().at("instances").as_map().empty()) {
      issues.push_back(Issue{"empty-subcircuit",
                             Severity::warning,
                             std::string(name),
                             json_pointer({name, "instances"}),
                             "subcircuit " + in_quotes(name) + " has no instances",
                             std::nullopt,
                             {}});
    }
  }
  return issues;
}

}  // namespace orvelle::check::detail
