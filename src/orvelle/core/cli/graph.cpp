// `orvelle graph`: a picture of one subcircuit, as DOT text or rendered by Graphviz.

#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "orvelle/codec/json.hpp"
#include "orvelle/codec/yaml.hpp"
#include "orvelle/core/check/check.hpp"
#include "orvelle/core/cli/app.hpp"
#include "orvelle/core/cli/commands.hpp"
#include "orvelle/core/cli/options.hpp"
#include "orvelle/core/graph/graph.hpp"

namespace orvelle::cli {

namespace {

struct GraphOptions {
  std::string file;
  std::string output;
  std::string subckt;
  std::string format;
  std::string pdk;
};

graph::Format format_of(const GraphOptions& o) {
  std::string name = o.format;
  if (name.empty() && (o.output.empty() || o.output == "-")) name = "svg";
  if (name.empty()) {
    const auto dot = o.output.rfind('.');
    const std::string suffix = dot == std::string::npos ? "" : o.output.substr(dot + 1);
    name = suffix == "gv" ? "dot" : suffix;
  }
  if (name == "dot") return graph::Format::dot;
  if (name == "svg") return graph::Format::svg;
  if (name == "png") return graph::Format::png;
  throw CLI::ValidationError(
      "--format", "cannot tell the format from '" + o.output + "': give --format dot, svg or png");
}

std::string read_text(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  if (!in) throw std::runtime_error("cannot read '" + file + "'");
  return text.str();
}

// A YAML or JSON netlist must have the recursive netlist's shape to be drawn.
RecursiveNetlist read_recursive_netlist(const std::string& file, check::InputKind kind) {
  const std::string text = read_text(file);
  Value document = kind == check::InputKind::json ? from_json(text) : from_yaml(text);
  const auto findings = check::check_schema(document, file);
  for (const auto& finding : findings) std::cerr << check::to_text(finding) << '\n';
  if (!findings.empty()) exit_with(1);
  return std::move(document.as_map());
}

void run_graph(const GraphOptions& o) {
  const graph::Format format = format_of(o);
  activate_kit(o.pdk);
  print_warnings_once();
  const check::InputKind kind =
      o.file == "-" ? check::InputKind::dialect : check::input_kind(o.file);
  const RecursiveNetlist netlist = kind == check::InputKind::dialect
                                       ? read_netlist(o.file)
                                       : read_recursive_netlist(o.file, kind);
  write_output(o.output, graph::render(graph::to_dot(netlist, o.subckt), format));
}

}  // namespace

void register_graph(CLI::App& app) {
  auto options = std::make_shared<GraphOptions>();
  CLI::App* cmd = app.add_subcommand("graph", "Draw one subcircuit of a netlist.");
  cmd->add_option("file", options->file,
                  "Netlist: the SPICE dialect (- for standard input), or a recursive netlist as "
                  ".yaml/.yml or .json")
      ->required();
  cmd->add_option("-o,--output", options->output,
                  "Output file (default: standard output); atomic for regular files");
  cmd->add_option("--subckt", options->subckt, "The subcircuit to draw (default: the top)");
  cmd->add_option("--format", options->format,
                  "dot, svg or png (default: from the output's suffix; svg on standard output)")
      ->check(CLI::IsMember({"dot", "svg", "png"}));
  cmd->add_option("--pdk", options->pdk,
                  "Registered kit name or kit file (default: the settings' active kit)");
  cmd->callback([options] { run_graph(*options); });
}

}  // namespace orvelle::cli
