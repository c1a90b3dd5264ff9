#pragma once
/// Pictures of a netlist: one subcircuit as a graph of instances (boxes with a cell per
/// port), connections (edges between port cells) and external ports, written as DOT text
/// and rendered to SVG or PNG by Graphviz.
///
///   auto nets = orvelle::netweave("examples/mzi.sp");
///   std::string dot = orvelle::graph::to_dot(nets);                     // the top
///   std::string svg = orvelle::graph::render(dot, orvelle::graph::Format::svg);

#include <stdexcept>
#include <string>
#include <string_view>

#include "orvelle/core/netweave/netweave.hpp"

namespace orvelle::graph {

enum class Format { dot, svg, png };

/// A subcircuit that is not there, or DOT text Graphviz cannot lay out. what() is the message.
class GraphError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// The DOT text of the subcircuit `subcircuit` of `netlist` (empty: the top, the first).
/// Instances list every port their component has (the subcircuit's external ports, else the
/// active kit's) and any other port the netlist names. When the subcircuit has placements,
/// the placed instances are pinned at their positions, scaled so that no two overlap, and
/// Graphviz's neato places the rest; otherwise dot lays out everything, left to right.
/// `netlist` must have the recursive netlist's shape (see check::check_schema). Throws
/// GraphError for a subcircuit it does not have.
///
///   std::string dot = orvelle::graph::to_dot(nets, "delay_arm");
std::string to_dot(const RecursiveNetlist& netlist, std::string_view subcircuit = {});

/// Lays out DOT text with the engine its "layout" attribute names (dot by default) and
/// renders it through Graphviz's library; Format::dot gives the text back unchanged.
/// Throws GraphError with Graphviz's message when it cannot.
///
///   std::string png = orvelle::graph::render(dot, orvelle::graph::Format::png);
std::string render(std::string_view dot, Format format);

}  // namespace orvelle::graph
