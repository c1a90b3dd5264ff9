#include "orvelle/core/cli/app.hpp"

#include <iostream>
#include <string>

#include "orvelle/core/cli/commands.hpp"
#include "orvelle/version.hpp"

namespace orvelle::cli {

CLI::App& app() {
  static CLI::App application{"Orvelle: design automation for photonic integrated circuits.",
                              "orvelle"};
  return application;
}

void exit_with(int code) {
  throw CLI::RuntimeError(code);
}

namespace {

void register_commands(CLI::App& application) {
  application.require_subcommand(1);
  application.set_version_flag("--version", "orvelle " + std::string(version));
  register_netweave(application);
  register_configure(application);
  register_draftbot(application);
  register_check(application);
  register_graph(application);
}

}  // namespace

int run(int argc, const char* const* argv) {
  CLI::App& application = app();
  try {
    register_commands(application);
    application.parse(argc, argv);
    return 0;
  } catch (const CLI::RuntimeError& request) {
    return request.get_exit_code();
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return application.exit(e);  // --help, --version
    std::cerr << "error: " << e.what() << "\nRun with --help for more information.\n";
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "error: " << e.what() << '\n';
    return 1;
  }
}

}  // namespace orvelle::cli
