#pragma once
// Synthetic netlists for the benchmarks: realistic line shapes at any size.

#include <cstddef>
#include <string>

namespace orvelle::bench {

/// A netlist of `instance_lines` instance lines: two leaf subcircuits and one large top-level
/// chain that uses them and kit parts. Settings carry unit suffixes, some statements continue
/// on "+" lines, comment lines are sprinkled in, most instances carry a location comment, and
/// every net joins at most two ports.
std::string generate_netlist(std::size_t instance_lines);

}  // namespace orvelle::bench
