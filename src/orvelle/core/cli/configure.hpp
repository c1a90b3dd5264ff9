#pragma once
/// The `configure` command: stores the user's service API key and nickname in the per-user
/// file ~/.kelvara/orvelle.toml, under the table [tool.orvelle.api], and asks before it
/// overwrites a stored value.
///
///   orvelle configure --api-key KEY --organization NAME [--force]
///
/// The command ends through orvelle::cli::exit_with: 2 when the file's path is a folder,
/// 1 when the file cannot be read as TOML, 0 when the user declines an overwrite.

#include <toml++/toml.h>

#include <filesystem>
#include <iosfwd>
#include <string>
#include <string_view>

namespace orvelle::cli {

struct ConfigureOptions {
  /// The API key to store; empty leaves the stored key alone.
  std::string api_key;
  /// The nickname to store; empty leaves the stored nickname alone.
  std::string organization;
  /// Overwrite stored values without asking.
  bool force = false;
};

/// The streams a command talks through; the command line passes the standard ones.
struct Console {
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
};

/// Returns when the value at the dotted path `full_key` of `config` may be overwritten:
/// `force` is set, nothing is stored there, or the user consents to the prompt written to
/// `out` ("y", "yes" or an empty line read from `in`). Otherwise it ends the command:
/// "Aborted." and exit code 0 on any other answer or the end of input, exit code 1 when a
/// table on the way to the key is missing.
///
///   check_existing(config, "tool.orvelle.api.key", false, std::cin, std::cout);
void check_existing(const toml::table& config, std::string_view full_key, bool force,
                    std::istream& in, std::ostream& out);

/// Runs the command with the configuration file "orvelle.toml" in `folder`, which is
/// created (mode 0700) when missing. The file is rewritten atomically with mode 0600 unless
/// the command ends early, in which case it is left as it was.
///
///   configure({.api_key = "sk-123"}, configuration_folder(), {std::cin, std::cout, std::cerr});
void configure(const ConfigureOptions& options, const std::filesystem::path& folder,
               const Console& console);

/// ~/.kelvara, with the home folder taken from HOME, else from the user database.
std::filesystem::path configuration_folder();

}  // namespace orvelle::cli
