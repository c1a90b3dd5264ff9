#pragma once
// Finishing: the closed blocks' netlists into the recursive netlist.

#include <cstddef>

#include "orvelle/core/netweave/assembly.hpp"

namespace orvelle::core::netweave::detail {

/// The recursive netlist, last-defined subcircuit first, with positional ports of subcircuit
/// instances named as that subcircuit's external ports. Throws std::invalid_argument where
/// the normaliser rejects a netlist, as it would reject the texts before renaming.
RecursiveNetlist finish_netlists(AssembledSubcircuits subcircuits,
                                 std::size_t two_threads_from = NetlistBuilder::kTwoThreadsFrom);

/// The same from netlists whose texts are not renamed yet (name -> netlist, in order of
/// definition): normalised by the simulator library, ports renamed by patch_ports, the
/// placements as they were built, and the order reversed.
RecursiveNetlist normalise_and_patch(Map nets);

}  // namespace orvelle::core::netweave::detail
