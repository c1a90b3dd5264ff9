#pragma once
// Positional ports of subcircuit instances, renamed to the subcircuit's external ports.

#include <functional>
#include <string_view>

#include "orvelle/value.hpp"

namespace orvelle::core::netweave::detail {

/// The external ports (names as keys, in order) of the subcircuit named `component`, or null
/// when it is no subcircuit of the netlist being read.
using SubcircuitPorts = std::function<const Map*(std::string_view component)>;

/// The name port `port` of an instance of a subcircuit goes by: "oK" with K within the
/// subcircuit's port count is its K-th external port; any other port, and any port of an
/// instance of no subcircuit (null `external_ports`), keeps its name.
std::string_view renamed_port(const Map* external_ports, std::string_view port) noexcept;

/// Renames, in place, the positional ports of subcircuit instances in the instance-port
/// texts of a finished recursive netlist. Throws std::invalid_argument for a text that does
/// not split into instance and port; the connections of that netlist are then as they were.
void patch_ports(Map& recursive_netlist);

}  // namespace orvelle::core::netweave::detail
