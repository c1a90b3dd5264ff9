#include "orvelle/core/netweave/ir.hpp"

#include <utility>

#include "orvelle/core/netweave/assembly.hpp"
#include "orvelle/core/netweave/finishing.hpp"
#include "orvelle/core/netweave/lines.hpp"
#include "orvelle/core/netweave/source.hpp"

namespace orvelle::core::netweave::detail {

namespace {

// The intermediate representation as a sink: records in the order they are completed.
class IrBuilder final : public StatementSink {
 public:
  explicit IrBuilder(ParsedIr& result) : result_(result) {}

  void comment(std::int64_t id, std::string_view text) override {
    result_.comments.emplace(id, Text(text));
  }
  void subckt_opened(const Subckt&, std::size_t) override {}
  void element(Element element, const Subckt& parent) override {
    Conn conn{element.id,
              std::string(element.name),
              std::move(element.component),
              {element.nets.begin(), element.nets.end()},
              std::move(element.settings),
              parent.id};
    result_.ir.emplace(element.id, std::move(conn));
  }
  void subckt_closed(Subckt subckt) override {
    const std::int64_t id = subckt.id;
    result_.ir.emplace(id, std::move(subckt));
  }

 private:
  ParsedIr& result_;
};

// The children of `subckt`, as records, into a builder.
NetlistBuilder builder_of(const Ir& ir, const Subckt& subckt, const Map& settings_keymap,
                          const Comments& comments, const SourceLines* source_lines) {
  NetlistBuilder builder(subckt.children_ids.size());
  std::vector<std::string_view> nets;
  for (const std::int64_t id : subckt.children_ids) {
    const Conn& conn = std::get<Conn>(ir.at(id));
    nets.assign(conn.ports.begin(), conn.ports.end());
    const auto comment = comments.find(id);
    const bool known_line =
        source_lines != nullptr && id >= 1 && static_cast<std::size_t>(id) <= source_lines->size();
    builder.add(Child{conn.name, conn.component, nets,
                      make_instance(conn.component, conn.settings, settings_keymap),
                      comment == comments.end() ? std::string_view() : comment->second.view(),
                      known_line ? (*source_lines)[static_cast<std::size_t>(id) - 1] : 0});
  }
  return builder;
}

}  // namespace

ParsedIr parse_into_ir(LineStream& lines, const Map& component_map, const Map& kwargs) {
  ParsedIr result;
  IrBuilder builder(result);
  parse_statements(lines, builder, component_map, kwargs, &result.source_lines);
  return result;
}

ParsedIr netweave_text_into_ir(std::string_view content, const Map& component_map,
                               const Map& kwargs) {
  const auto lines = iter_relevant_lines(checked_text(content));
  return parse_into_ir(*lines, component_map, kwargs);
}

ParsedIr netweave_into_ir(const std::filesystem::path& path, const Map& component_map,
                          const Map& kwargs) {
  return netweave_text_into_ir(read_file(path), component_map, kwargs);
}

ParsedIr netweave_into_ir(std::istream& stream, const Map& component_map, const Map& kwargs) {
  return netweave_text_into_ir(read_stream(stream), component_map, kwargs);
}

Map netlist_from_subckt(const Ir& ir, const Subckt& subckt, const Map& settings_keymap,
                        const Comments& comments, const SourceLines* source_lines) {
  AssembledSubcircuits one;
  file_closed_block(one, builder_of(ir, subckt, settings_keymap, comments, source_lines), subckt,
                    settings_keymap);
  AssembledSubcircuit& netlist = one.in_order().front();
  return std::move(netlist.builder).finish(std::move(netlist.settings));
}

RecursiveNetlist recursive_netlist_from_ir(const Ir& ir, const Map& settings_keymap,
                                           const Comments& comments,
                                           const SourceLines* source_lines) {
  AssembledSubcircuits subcircuits;
  for (const auto& [id, record] : ir) {
    const auto* subckt = std::get_if<Subckt>(&record);
    if (subckt == nullptr || subckt->children_ids.empty()) continue;
    file_closed_block(subcircuits, builder_of(ir, *subckt, settings_keymap, comments, source_lines),
                      *subckt, settings_keymap);
  }
  return finish_netlists(std::move(subcircuits));
}

}  // namespace orvelle::core::netweave::detail
