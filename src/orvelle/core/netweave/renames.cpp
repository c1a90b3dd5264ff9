#include "orvelle/core/netweave/renames.hpp"

#include <charconv>
#include <string>
#include <system_error>
#include <unordered_map>

#include "sax/sax.hpp"

namespace orvelle::core::netweave::detail {

namespace {

// K when `port` reads "o" followed by K written as positional names are, else 0.
std::size_t positional_number(std::string_view port) noexcept {
  if (port.size() < 2 || port.size() > 20 || port[0] != 'o' || port[1] == '0') return 0;
  std::size_t k = 0;
  const auto [end, error] = std::from_chars(port.data() + 1, port.data() + port.size(), k);
  return error == std::errc() && end == port.data() + port.size() ? k : 0;
}

// The external ports of every subcircuit as they stood before any renaming.
using PortsBefore = std::unordered_map<std::string, Map, StringHash, std::equal_to<>>;

// Instance name -> the external ports of its subcircuit. Usually far smaller than the
// instances, so looking up every instance port in it stays cheap.
using SubcircuitInstances =
    std::unordered_map<std::string_view, const Map*, std::hash<std::string_view>>;

// Gives an instance-port text with its port renamed.
class Translator {
 public:
  explicit Translator(const SubcircuitInstances& subcircuits) : subcircuits_(subcircuits) {}

  Text operator()(std::string_view text) {
    const auto [instance, port] = sax::split_instance_port(text);
    const std::string_view renamed = renamed_port(ports_of(instance), port);
    return renamed == port ? Text(text) : sax::instance_port(instance, renamed);
  }

 private:
  // A connection's value is usually the next one's key: the last lookup serves half of them.
  const Map* ports_of(std::string_view instance) {
    if (!looked_up_ || instance != last_instance_) {
      const auto found = subcircuits_.find(instance);
      last_ports_ = found == subcircuits_.end() ? nullptr : found->second;
      last_instance_ = instance;
      looked_up_ = true;
    }
    return last_ports_;
  }

  const SubcircuitInstances& subcircuits_;
  bool looked_up_ = false;
  std::string last_instance_;
  const Map* last_ports_ = nullptr;
};

SubcircuitInstances subcircuit_instances(const Map& instances, const PortsBefore& ports) {
  SubcircuitInstances found;
  for (const auto& [name, instance] : instances) {
    const Map* fields = instance.get_if<Map>();
    const auto component = fields ? fields->find("component") : Map::const_iterator();
    const Text* text =
        fields && component != fields->end() ? component->second.get_if<Text>() : nullptr;
    if (text == nullptr) continue;
    if (const auto external = ports.find(text->view()); external != ports.end())
      found.emplace(name.view(), &external->second);
  }
  return found;
}

void patch_netlist(Map& netlist, const PortsBefore& ports_before) {
  const SubcircuitInstances subcircuits =
      subcircuit_instances(netlist.at("instances").as_map(), ports_before);
  if (subcircuits.empty()) return;  // nothing could be renamed
  Translator translated(subcircuits);
  Map& connections = netlist.at("connections").as_map();
  MapBuilder patched;  // merges keys that a rename makes equal, as assignment would
  patched.reserve(connections.size());
  for (const auto& [from, to] : connections) {
    Text key = translated(from);
    patched.add(std::move(key), translated(to.as_string()));
  }
  connections = std::move(patched).finish();
  Map& ports = netlist.at("ports").as_map();
  for (auto it = ports.begin(); it != ports.end(); ++it) {
    it.value() = translated(it->second.as_string());
  }
}

}  // namespace

std::string_view renamed_port(const Map* external_ports, std::string_view port) noexcept {
  if (external_ports == nullptr) return port;
  const std::size_t k = positional_number(port);
  if (k == 0 || k > external_ports->size()) return port;
  return external_ports->nth(k - 1).key();
}

void patch_ports(Map& recursive_netlist) {
  PortsBefore ports_before;
  for (const auto& [name, netlist] : recursive_netlist) {
    ports_before.insert_or_assign(name.str(), netlist.as_map().at("ports").as_map());
  }
  for (auto it = recursive_netlist.begin(); it != recursive_netlist.end(); ++it) {
    patch_netlist(it.value().as_map(), ports_before);
  }
}

}  // namespace orvelle::core::netweave::detail
