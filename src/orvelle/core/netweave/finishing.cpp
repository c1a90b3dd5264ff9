#include "orvelle/core/netweave/finishing.hpp"

#include <utility>

#include "orvelle/core/netweave/renames.hpp"
#include "sax/sax.hpp"

namespace orvelle::core::netweave::detail {

namespace {

// Takes the placements out before normalisation and gives them back after it, so they stand
// exactly as built, and so they are not copied on the way.
Map take_placements(Map& nets) {
  Map placements;
  placements.reserve(nets.size());
  for (auto it = nets.begin(); it != nets.end(); ++it) {
    Value& slot = it.value().as_map().at("placements");
    placements.insert_or_assign(it.key(), std::move(slot));
    slot = Map{};
  }
  return placements;
}

RecursiveNetlist reversed(Map nets) {
  RecursiveNetlist result;
  result.reserve(nets.size());
  for (std::size_t i = nets.size(); i-- > 0;) {
    auto it = nets.nth(i);
    result.insert_or_assign(it->first, std::move(it.value()));
  }
  return result;
}

bool all_normal(AssembledSubcircuits& subcircuits) {
  for (const AssembledSubcircuit& subcircuit : subcircuits.in_order()) {
    if (!subcircuit.builder.normal()) return false;
  }
  return true;
}

}  // namespace

RecursiveNetlist normalise_and_patch(Map nets) {
  Map placements = take_placements(nets);
  Map normalised = sax::netlist(std::move(nets)).model_dump();
  patch_ports(normalised);
  for (auto it = normalised.begin(); it != normalised.end(); ++it) {
    if (auto placed = placements.find(it->first); placed != placements.end()) {
      it.value().as_map().insert_or_assign("placements", std::move(placed.value()));
    }
  }
  return reversed(std::move(normalised));
}

// What the normaliser might reject takes the way through it; everything else has its
// texts made renamed, checked as the normaliser would check them before renaming.
RecursiveNetlist finish_netlists(AssembledSubcircuits subcircuits, std::size_t two_threads_from) {
  auto& in_order = subcircuits.in_order();
  if (!all_normal(subcircuits)) {
    Map nets;
    for (AssembledSubcircuit& subcircuit : in_order) {
      nets.insert_or_assign(subcircuit.name,
                            std::move(subcircuit.builder)
                                .finish(std::move(subcircuit.settings), nullptr, two_threads_from));
    }
    return normalise_and_patch(std::move(nets));
  }
  const SubcircuitPorts renames = [&subcircuits](std::string_view component) {
    return subcircuits.ports_of(component);
  };
  Map nets;
  nets.reserve(in_order.size());
  for (AssembledSubcircuit& subcircuit : in_order) {
    nets.emplace(subcircuit.name,
                 std::move(subcircuit.builder)
                     .finish(std::move(subcircuit.settings), &renames, two_threads_from));
  }
  return reversed(std::move(nets));
}

}  // namespace orvelle::core::netweave::detail
