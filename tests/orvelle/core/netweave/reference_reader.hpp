#pragma once
// The reader's operations composed one after another, each on the whole of the previous
// one's result: the reference its tests and fuzzer hold the reader to on every schedule.

#include <span>
#include <string_view>

#include "orvelle/core/netweave/netweave.hpp"
#include "orvelle/core/netweave/scheduling.hpp"

namespace orvelle::core::netweave::detail {

/// The text read into records, each subcircuit's netlist assembled from them, the whole
/// normalised, its ports patched, the placements put back and the order reversed.
RecursiveNetlist composed_reading(std::string_view text, const Map& settings_keymap = {},
                                  const Map& component_map = {}, const Map& kwargs = {});

/// Every way the reader can take (one thread or two, slabs, early table sizing, finishing on
/// two threads, chunks of any size), each reached with small texts; the first is the default.
std::span<const ReaderTuning> every_schedule();

}  // namespace orvelle::core::netweave::detail
