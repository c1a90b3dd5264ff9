#pragma once
// The intermediate representation (records of subcircuits and elements) and the reader's
// operations on it, each built from the same pieces as the reader itself.

#include <tsl/ordered_map.h>

#include <cstdint>
#include <filesystem>
#include <istream>
#include <string_view>
#include <variant>

#include "orvelle/core/netweave/netweave.hpp"
#include "orvelle/core/netweave/statements.hpp"

namespace orvelle::core::netweave::detail {

using Record = std::variant<Subckt, Conn>;
/// Line id -> record, in the order the records were completed.
using Ir = tsl::ordered_map<std::int64_t, Record>;
/// Line id -> comment split off that line.
using Comments = tsl::ordered_map<std::int64_t, Text>;

struct ParsedIr {
  Ir ir;
  Comments comments;
  SourceLines source_lines;
};

ParsedIr parse_into_ir(LineStream& lines, const Map& component_map = {}, const Map& kwargs = {});

ParsedIr netweave_into_ir(const std::filesystem::path& path, const Map& component_map = {},
                          const Map& kwargs = {});
ParsedIr netweave_into_ir(std::istream& stream, const Map& component_map = {},
                          const Map& kwargs = {});
/// Parses a netlist text already in memory.
ParsedIr netweave_text_into_ir(std::string_view content, const Map& component_map = {},
                               const Map& kwargs = {});

/// One subcircuit's netlist {instances, connections, ports, settings, placements}, its texts
/// not renamed. `source_lines`, when given, lets errors name the line of the instance at fault.
Map netlist_from_subckt(const Ir& ir, const Subckt& subckt, const Map& settings_keymap,
                        const Comments& comments, const SourceLines* source_lines = nullptr);

/// The recursive netlist of every subcircuit with children, last-defined first.
RecursiveNetlist recursive_netlist_from_ir(const Ir& ir, const Map& settings_keymap,
                                           const Comments& comments,
                                           const SourceLines* source_lines = nullptr);

}  // namespace orvelle::core::netweave::detail
