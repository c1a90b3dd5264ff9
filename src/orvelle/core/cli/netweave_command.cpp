// `orvelle netweave`: reads a netlist file (or standard input) and writes the recursive
// netlist as YAML or JSON.

#include <charconv>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "orvelle/codec/json.hpp"
#include "orvelle/codec/yaml.hpp"
#include "orvelle/core/cli/app.hpp"
#include "orvelle/core/cli/commands.hpp"
#include "orvelle/core/netweave/netweave.hpp"
#include "orvelle/core/netweave/values.hpp"
#include "orvelle/core/shared.hpp"
#include "orvelle/pdk/pdk.hpp"

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

std::pair<std::string, std::string> split_assignment(const std::string& text,
                                                     const std::string& option) {
  const auto eq = text.find('=');
  if (eq == std::string::npos || eq == 0)
    throw CLI::ValidationError(option, "expected NAME=VALUE, got '" + text + "'");
  return {text.substr(0, eq), text.substr(eq + 1)};
}

// -D values: an integer when the text is one, a float when it is a decimal literal, else text.
Value define_value(const std::string& text) {
  // from_chars takes no "+": skip it, but only before a digit, so "+-5" stays text.
  const bool plus = text.size() > 1 && text[0] == '+' && text[1] >= '0' && text[1] <= '9';
  const char* first = text.data() + (plus ? 1 : 0);
  const char* last = text.data() + text.size();
  std::int64_t i = 0;
  if (auto [end, ec] = std::from_chars(first, last, i);
      ec == std::errc{} && end == last && first != last)
    return i;
  // The same literal rule as setting values in the netlist.
  if (const auto d = core::netweave::detail::parse_float(text)) return *d;
  return text;
}

Map assignments(const std::vector<std::string>& texts, const std::string& option, bool typed) {
  Map map;
  for (const auto& text : texts) {
    auto [name, value] = split_assignment(text, option);
    map[name] = typed ? define_value(value) : Value(value);
  }
  return map;
}

void activate_kit(const std::string& name_or_file) {
  if (name_or_file.empty()) return;
  try {
    pdk::activate_pdk(name_or_file);
  } catch (const std::invalid_argument&) {
    if (!std::filesystem::exists(name_or_file)) throw;
    pdk::activate_pdk(pdk::register_pdk(pdk::load_pdk_file(name_or_file)).name);
  }
}

bool wants_yaml(const NetweaveOptions& o) {
  if (!o.format.empty()) return o.format == "yaml";
  if (o.output.empty() || o.output == "-") return true;
  return o.output.ends_with(".yaml") || o.output.ends_with(".yml");
}

// Each distinct warning once: a large netlist may repeat one unresolved name thousands of times.
void print_warnings_once() {
  auto seen = std::make_shared<std::unordered_set<std::string>>();
  set_warning_handler([seen](const ParseWarning& w) {
    if (seen->insert(w.message).second) std::cerr << "warning: " << w.message << '\n';
  });
}

RecursiveNetlist read_netlist(const NetweaveOptions& o, const Map& keymap, const Map& components,
                              const Map& kwargs) {
  const bool from_stdin = o.netlist == "-";
  try {
    if (from_stdin) return netweave(std::cin, keymap, components, kwargs);
    return netweave(std::filesystem::path(o.netlist), keymap, components, kwargs);
  } catch (const ParseError& e) {
    std::cerr << "error: " << (from_stdin ? "<stdin>" : o.netlist);
    if (e.line() > 0) std::cerr << ':' << e.line();
    std::cerr << ": " << e.what() << '\n';
    exit_with(1);
  }
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
  if (o.output.empty() || o.output == "-") {
    write(std::cout);
    std::cout.flush();
    if (!std::cout) throw std::runtime_error("cannot write to standard output");
  } else {
    write_file_atomic(o.output, write);
  }
}

void run_netweave(const NetweaveOptions& o) {
  const Map keymap = assignments(o.settings_keymap, "--settings-keymap", false);
  const Map components = assignments(o.component_map, "--component-map", false);
  const Map kwargs = assignments(o.defines, "-D", true);
  activate_kit(o.pdk);
  print_warnings_once();
  const RecursiveNetlist nets = read_netlist(o, keymap, components, kwargs);
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
