// `orvelle netweave`: reads a netlist file (or standard input) and writes the recursive
// netlist as YAML or JSON.

#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "orvelle/codec/json.hpp"
#include "orvelle/codec/yaml.hpp"
#include "orvelle/core/cli/app.hpp"
#include "orvelle/core/cli/commands.hpp"
#include "orvelle/core/cli/options.hpp"
#include "orvelle/core/netweave/netweave.hpp"

namespace orvelle::cli {

namespace {

struct NetweaveOptions {
  std::string netlist;
  std::string output;
  std::string format;
  std::string pdk;
  std::vector<std::string> defines;
  std::vector<std::string> settings_keymap;
  std::vector<std::string> component_map;
};

bool wants_yaml(const NetweaveOptions& o) {
  if (!o.format.empty()) return o.format == "yaml";
  if (o.output.empty() || o.output == "-") return true;
  return o.output.ends_with(".yaml") || o.output.ends_with(".yml");
}

// Every text of a netlist comes from the netlist, which the reader checked is UTF-8, or
// from these options; only they can make a writer fail halfway.
bool options_are_utf8(const NetweaveOptions& o) {
  for (const auto* texts : {&o.defines, &o.settings_keymap, &o.component_map}) {
    for (const std::string& text : *texts) {
      if (!is_valid_utf8(text)) return false;
    }
  }
  return true;
}

// Streamed in blocks as it is made; made whole first only when it might fail halfway, so
// that standard output never gets half a netlist.
void write_netlist(const NetweaveOptions& o, const RecursiveNetlist& nets) {
  const bool yaml = wants_yaml(o);
  const auto write = [&](std::ostream& out) {
    if (!options_are_utf8(o)) {
      out << (yaml ? to_yaml(nets) : to_json(nets) + "\n");
    } else if (yaml) {
      write_yaml(out, nets);
    } else {
      write_json(out, nets);
      out << '\n';
    }
  };
  write_output(o.output, write);
}

void run_netweave(const NetweaveOptions& o) {
  const Map keymap = assignments(o.settings_keymap, "--settings-keymap", false);
  const Map components = assignments(o.component_map, "--component-map", false);
  const Map kwargs = assignments(o.defines, "-D", true);
  activate_kit(o.pdk);
  print_warnings_once();
  const RecursiveNetlist nets = read_netlist(o.netlist, keymap, components, kwargs);
  write_netlist(o, nets);
}

}  // namespace

void register_netweave(CLI::App& app) {
  auto options = std::make_shared<NetweaveOptions>();
  CLI::App* cmd = app.add_subcommand("netweave", "Read a SPICE netlist into a recursive netlist.");
  cmd->add_option("netlist", options->netlist, "Netlist file, or - for standard input")->required();
  cmd->add_option("-o,--output", options->output,
                  "Output file (default: standard output); atomic for regular files");
  cmd->add_option("--format", options->format,
                  "yaml or json (default: from the output's suffix; yaml on standard output)")
      ->check(CLI::IsMember({"yaml", "json"}));
  cmd->add_option("--pdk", options->pdk,
                  "Registered kit name or kit file (default: the settings' active kit)");
  cmd->add_option("-D,--define", options->defines, "Named value NAME=VALUE for settings")
      ->allow_extra_args(false);
  cmd->add_option("--settings-keymap", options->settings_keymap, "Rename a setting: OLD=NEW")
      ->allow_extra_args(false);
  cmd->add_option("--component-map", options->component_map, "Rename a component: OLD=NEW")
      ->allow_extra_args(false);
  cmd->callback([options] { run_netweave(*options); });
}

}  // namespace orvelle::cli
