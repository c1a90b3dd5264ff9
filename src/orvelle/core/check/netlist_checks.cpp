// The checks that need only the recursive netlist: how instance ports are used, and which
// subcircuits are used.

#include <algorithm>
#include <iterator>
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

std::string_view component_of(const Value& instance) {
  // The reader and the schema's order put the component first.
  const Map& fields = instance.as_map();
  if (!fields.empty() && same_name(fields.begin()->first, "component")) {
    return fields.begin()->second.as_string();
  }
  return fields.at("component").as_string();
}

void Report::add(std::string_view check, Severity severity, std::string_view subcircuit,
                 std::string path, std::string message, std::optional<std::size_t> instance) {
  if (blocks_.empty() || blocks_.back().size() == kBlock) blocks_.emplace_back().reserve(kBlock);
  Finding& finding = blocks_.back().emplace_back();
  finding.file = file_;
  finding.path = std::move(path);
  finding.severity = severity;
  finding.check = check;
  finding.subcircuit = subcircuit;
  finding.message = std::move(message);
  instances_.push_back(instance);
}

std::vector<Finding> Report::take() && {
  std::vector<Finding> findings;
  findings.reserve(size());
  for (std::vector<Finding>& block : blocks_) {
    std::move(block.begin(), block.end(), std::back_inserter(findings));
  }
  return findings;
}

std::optional<std::size_t> InstanceFinder::find(std::string_view name) noexcept {
  constexpr std::size_t kLookAhead = 16;
  const std::size_t end = std::min(instances_.size(), last_ + kLookAhead + 1);
  for (std::size_t i = last_; i < end; ++i) {
    if (same_name(instances_.nth(i)->first, name)) return last_ = i;
  }
  const auto found = instances_.find(name);
  if (found == instances_.end()) return std::nullopt;
  return last_ = static_cast<std::size_t>(found - instances_.begin());
}

std::optional<std::size_t> ComponentPorts::find(std::string_view port) const {
  if (sorted_.empty()) {
    for (std::size_t i = 0; i < ports.size(); ++i) {
      if (same_name(ports[i], port)) return i;
    }
    return std::nullopt;
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
  // A netlist uses few components: a short list finds them before the table is asked.
  constexpr std::size_t kFirstFew = 16;
  for (const auto& [name, ports] : first_few_) {
    if (same_name(name, component)) return *ports;
  }
  auto found = resolved_.find(component);
  if (found == resolved_.end()) {
    found = resolved_.emplace(std::string(component), make(component)).first;
    found->second.index();
    if (first_few_.size() < kFirstFew) first_few_.emplace_back(found->first, &found->second);
  }
  return found->second;
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

// The instance and port of an instance port's text; the port is empty without a comma.
std::pair<std::string_view, std::string_view> instance_and_port(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == ',') return {text.substr(0, i), text.substr(i + 1)};
  }
  return {text, {}};
}

// One use of an instance port: an end of a connection, or an external port.
struct Use {
  enum class Kind : std::uint8_t { connection_key, connection_value, port };
  Kind kind;
  std::uint32_t index;  // of the connection or the external port
};

}  // namespace

// The uses of one netlist's instance ports, told apart by instance and port position.
class NetlistUses {
 public:
  NetlistUses(std::string_view name, const Map& netlist, Components& components, bool with_paths,
              const Explained& explained, Report& report)
      : with_paths_(with_paths),
        name_(name),
        instances_(netlist.at("instances").as_map()),
        connections_(netlist.at("connections").as_map()),
        ports_(netlist.at("ports").as_map()),
        components_(components),
        explained_(explained),
        report_(report),
        finder_(instances_) {}

  // Every use of an instance port, reporting what is wrong with it.
  void check() {
    resolve_instances();
    std::uint32_t index = 0;
    for (const auto& [from, to] : connections_) {
      use(from, {Use::Kind::connection_key, index});
      use(to.as_string(), {Use::Kind::connection_value, index});
      ++index;
    }
    index = 0;
    for (const auto& [port, target] : ports_) use(target.as_string(), {Use::Kind::port, index++});
  }

  // The ports of instances [first, end) that check() found unused, in instance order.
  void report_dangling(std::size_t first_instance, std::size_t end_instance, Report& report) const {
    for (std::size_t i = first_instance; i < end_instance; ++i) {
      const auto first = slot_uses_.begin() + static_cast<std::ptrdiff_t>(first_slot_[i]);
      const auto end = slot_uses_.begin() + static_cast<std::ptrdiff_t>(first_slot_[i + 1]);
      if (std::find(first, end, kUnused) == end) continue;  // every port used: the usual case
      const auto instance = instances_.nth(i);
      const std::string_view name = instance->first;
      const std::string_view component = component_of(instance->second);
      const std::vector<std::string>& ports = kinds_[i]->ports;
      for (std::size_t p = 0; p < ports.size(); ++p) {
        if (first[static_cast<std::ptrdiff_t>(p)] != kUnused) continue;
        if (explained_ && explained_(name_, name, ports[p])) continue;
        report.add("dangling-port", Severity::warning, name_, pointer({name_, "instances", name}),
                   concatenated({"port '", ports[p], "' of instance '", name, "' (", component,
                                 ") is neither connected nor exposed"}),
                   i);
      }
    }
  }

  std::size_t instance_count() const noexcept { return instances_.size(); }

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
      const std::string_view component = component_of(fields);
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
    report_.add("unknown-component", Severity::error, name_,
                pointer({name_, "instances", instance, "component"}),
                "component " + in_quotes(component) + " of instance " + in_quotes(instance) +
                    " is neither in kit " + in_quotes(components_.kit_name()) +
                    " nor a subcircuit of this file",
                i);
  }

  void use(std::string_view text, Use where) {
    const auto [instance, port] = instance_and_port(text);
    const auto i = finder_.find(instance);
    if (!i) {
      report(where, "missing-instance",
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
    const std::string_view component_name = component_of(instances_.nth(i)->second);
    report(where, "missing-port",
           "instance " + in_quotes(instance) + " (" + std::string(component_name) +
               ") has no port " + in_quotes(port) + "; its ports are " + listed(component.ports),
           i);
  }

  void report_second_use(Use first, Use second, std::string_view text, std::size_t i) {
    const bool exposed_and_connected =
        (first.kind == Use::Kind::port) != (second.kind == Use::Kind::port);
    report(second, exposed_and_connected ? "connected-and-exposed" : "connected-twice",
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

  void report(Use where, std::string_view check, std::string message,
              std::optional<std::size_t> instance) {
    report_.add(check, Severity::error, name_, path_of(where), std::move(message), instance);
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
  const Explained& explained_;
  Report& report_;
  InstanceFinder finder_;
  std::vector<const ComponentPorts*> kinds_;  // by instance
  std::vector<std::size_t> first_slot_;       // by instance, and the end
  std::vector<std::uint64_t> slot_uses_;      // first use of each known instance port
  std::unordered_map<std::string, std::uint64_t, StringHash, std::equal_to<>> unlisted_uses_;
  std::unordered_set<std::string, StringHash, std::equal_to<>> reported_twice_;
  std::unordered_set<std::string, StringHash, std::equal_to<>> reported_missing_;
};

Connectivity::Connectivity(const RecursiveNetlist& netlist, Components& components, bool with_paths,
                           Explained explained)
    : netlist_(netlist),
      components_(components),
      with_paths_(with_paths),
      explained_(std::move(explained)) {}

Connectivity::~Connectivity() = default;

void Connectivity::check_uses(Report& report) {
  for (const auto& [name, subcircuit] : netlist_) {
    netlists_.push_back(std::make_unique<NetlistUses>(name, subcircuit.as_map(), components_,
                                                      with_paths_, explained_, report));
    netlists_.back()->check();
  }
}

void Connectivity::report_dangling(std::size_t part, std::size_t parts, Report& report) const {
  for (const auto& uses : netlists_) {
    const std::size_t count = uses->instance_count();
    uses->report_dangling(count * part / parts, count * (part + 1) / parts, report);
  }
}

void check_connectivity(const RecursiveNetlist& netlist, Components& components, Report& report,
                        bool with_paths, const Explained& explained) {
  // Netlist by netlist: each one's dangling ports after its other findings.
  for (const auto& [name, subcircuit] : netlist) {
    NetlistUses uses(name, subcircuit.as_map(), components, with_paths, explained, report);
    uses.check();
    uses.report_dangling(0, uses.instance_count(), report);
  }
}

void check_hierarchy(const RecursiveNetlist& netlist, Report& report) {
  std::unordered_set<std::string_view> used;
  std::string_view last;
  for (const auto& [name, subcircuit] : netlist) {
    for (const auto& [instance, fields] : subcircuit.as_map().at("instances").as_map()) {
      const std::string_view component = component_of(fields);
      if (component != last) used.insert(component);
      last = component;
    }
  }
  for (auto it = netlist.begin(); it != netlist.end(); ++it) {
    const std::string_view name = it->first;
    if (it != netlist.begin() && !used.contains(name)) {
      report.add("unused-subcircuit", Severity::warning, name, json_pointer({name}),
                 "subcircuit " + in_quotes(name) + " is never used and is not the top (" +
                     in_quotes(netlist.begin()->first) + ")");
    }
    if (it->second.as_map().at("instances").as_map().empty()) {
      report.add("empty-subcircuit", Severity::warning, name, json_pointer({name, "instances"}),
                 "subcircuit " + in_quotes(name) + " has no instances");
    }
  }
}

}  // namespace orvelle::check::detail
