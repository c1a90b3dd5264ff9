#pragma once
/// The least of the circuit simulator library that the netlist reader needs: normalising a
/// recursive netlist and listing a simulation model's ports.
///
///   auto dumped = sax::netlist(std::move(nets)).model_dump();
///   auto ports = sax::get_ports(model);

#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "orvelle/value.hpp"

namespace sax {

/// The keys of a netlist, in the order the library gives them back.
inline constexpr std::array<std::string_view, 5> netlist_keys = {"instances", "connections",
                                                                 "ports", "settings", "placements"};
/// The keys of an instance, in the order the library gives them back.
inline constexpr std::array<std::string_view, 2> instance_keys = {"component", "settings"};

/// An instance-port text: the instance name, a comma and the port name ("u1,o2").
orvelle::Text instance_port(std::string_view instance, std::string_view port);
/// Whether `part` may stand on either side of an instance-port text: not empty, no comma.
bool is_instance_port_part(std::string_view part) noexcept;
/// Whether `text` is an instance-port text the library accepts.
bool is_instance_port(std::string_view text) noexcept;
/// The instance and port of a text holding exactly one comma; throws std::invalid_argument
/// naming the text otherwise.
std::pair<std::string_view, std::string_view> split_instance_port(std::string_view text);

/// A simulation model, as far as the reader cares: its port names, as the model stores them.
struct Model {
  std::vector<std::string> ports;
};

/// A validated recursive netlist: subcircuit name -> netlist.
class Netlist {
 public:
  explicit Netlist(orvelle::Map nets);
  /// A plain mapping of the same names in which every netlist has the keys instances,
  /// connections, ports, settings and placements in that order (missing: empty mapping)
  /// and every instance has component then settings (missing settings: empty mapping).
  orvelle::Map model_dump() const&;
  orvelle::Map model_dump() &&;  // the same, without a copy

 private:
  orvelle::Map nets_;
};

/// Validates and normalises `nets`. Throws std::invalid_argument naming the text at fault
/// for an instance-port text (connection key or value, port value) that does not split at
/// "," into exactly two non-empty parts, and for an instance without a component.
Netlist netlist(orvelle::Map nets);

/// The model's port names, as stored.
std::vector<std::string> get_ports(const Model& model);

}  // namespace sax
