// `orvelle check`: checks netlist files and reports what it finds in the form compilers use.

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "orvelle/core/check/check.hpp"
#include "orvelle/core/cli/app.hpp"
#include "orvelle/core/cli/commands.hpp"
#include "orvelle/core/cli/options.hpp"

namespace orvelle::cli {

namespace {

struct CheckOptions {
  std::vector<std::string> files;
  std::string pdk;
  std::vector<std::string> defines;
  std::string format = "text";
  bool strict = false;
};

// A kit that cannot be had is the command line's fault, not the netlist's: status 2, so that
// status 1 always means "the netlist has errors".
void activate_kit_or_stop(const std::string& pdk) {
  try {
    activate_kit(pdk);
  } catch (const std::invalid_argument& e) {
    std::cerr << "error: " << e.what() << '\n';
    exit_with(2);
  }
}

bool counts_as_error(const check::Finding& finding, bool strict) {
  return finding.severity == check::Severity::error || strict;
}

void run_check(const CheckOptions& o) {
  const Map kwargs = assignments(o.defines, "-D", true);
  activate_kit_or_stop(o.pdk);
  print_warnings_once();
  std::vector<check::Finding> all;
  bool failed = false;
  for (const std::string& file : o.files) {
    std::vector<check::Finding> findings = check::check_file(file, kwargs);
    for (check::Finding& finding : findings) {
      failed = failed || counts_as_error(finding, o.strict);
      if (o.format == "text") {
        std::cout << check::to_text(finding) << '\n';
      } else {
        all.push_back(std::move(finding));
      }
    }
  }
  if (o.format == "json") std::cout << check::to_json(all) << '\n';
  std::cout << std::flush;
  if (!std::cout) throw std::runtime_error("cannot write to standard output");
  if (failed) exit_with(1);
}

}  // namespace

void register_check(CLI::App& app) {
  auto options = std::make_shared<CheckOptions>();
  CLI::App* cmd = app.add_subcommand(
      "check", "Check netlists (SPICE dialect, or recursive netlists as YAML or JSON).");
  cmd->add_option("files", options->files,
                  "Netlist files: .yaml/.yml and .json hold recursive netlists, any other the "
                  "SPICE dialect; - reads the dialect from standard input")
      ->required();
  cmd->add_option("--pdk", options->pdk,
                  "Registered kit name or kit file (default: the settings' active kit)");
  cmd->add_option("-D,--define", options->defines, "Named value NAME=VALUE for settings")
      ->allow_extra_args(false);
  cmd->add_option("--format", options->format, "text (default) or json")
      ->check(CLI::IsMember({"text", "json"}));
  cmd->add_flag("--strict", options->strict, "Count warnings as errors");
  cmd->callback([options] { run_check(*options); });
}

}  // namespace orvelle::cli
