#pragma once
/// The least of the circuit simulator library that the netlist reader needs: normalising a
/// recursive netlist and listing a simulation model's ports.
///
///   auto dumped = sax::netlist(std::move(nets)).model_dump();
///   auto ports = sax::get_ports(model);

#include <string>
#include <vector>

#include "orvelle/value.hpp"

namespace sax {

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
