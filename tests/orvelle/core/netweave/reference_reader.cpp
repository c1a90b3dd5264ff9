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

std::span<const ReaderTuning> every_schedule() {
  static const ReaderTuning schedules[] = {
      {},
      {.two_threads_from = 0},
      {.two_threads_from = 0,
       .slabs_from = 0,
       .size_tables_after = 1,
       .finish_on_two_threads_from = 1,
       .chunk_statements = 1,
       .most_chunks = 1},
      {.two_threads_from = SIZE_MAX,
       .slabs_from = 0,
       .size_tables_after = 2,
       .finish_on_two_threads_from = 2},
      {.two_threads_from = 0, .size_tables_after = 3, .chunk_statements = 3, .most_chunks = 2},
  };
  return schedules;
}

}  // namespace orvelle::core::netweave::detail
