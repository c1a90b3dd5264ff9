#include "reference_reader.hpp"

#include "orvelle/core/netweave/finishing.hpp"
#include "orvelle/core/netweave/ir.hpp"

namespace orvelle::core::netweave::detail {

RecursiveNetlist composed_reading(std::string_view text, const Map& settings_keymap,
                                  const Map& component_map, const Map& kwargs) {
  const ParsedIr parsed = netweave_text_into_ir(text, component_map, kwargs);
  Map nets;
  for (const auto& [id, record] : parsed.ir) {
    const auto* subckt = std::get_if<Subckt>(&record);
    if (subckt == nullptr || subckt->children_ids.empty()) continue;
    nets.insert_or_assign(subckt->component,
                          netlist_from_subckt(parsed.ir, *subckt, settings_keymap, parsed.comments,
                                              &parsed.source_lines));
  }
  return normalise_and_patch(std::move(nets));
}

}  // namespace orvelle::core::netweave::detail
