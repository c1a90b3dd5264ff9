#pragma once
// Options that several commands share: named values, renames, the kit, reader warnings.

#include <CLI/CLI.hpp>

#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "orvelle/core/netweave/netweave.hpp"
#include "orvelle/value.hpp"

namespace orvelle::cli {

/// NAME=VALUE texts as a mapping. With `typed`, a value that reads as an integer or a float
/// becomes one (as -D gives them), else it stays text. Throws CLI::ValidationError naming
/// `option` for a text without "=" or without a name.
Map assignments(const std::vector<std::string>& texts, const std::string& option, bool typed);

/// Activates a registered kit by name, or else loads and activates the kit file of that
/// name. Nothing for an empty name. Throws std::invalid_argument for neither.
void activate_kit(const std::string& name_or_file);

/// Reads the dialect netlist `file` ("-": standard input) as netweave does. A netlist the
/// reader cannot read ends the command with "error: FILE:LINE: MESSAGE" and status 1.
RecursiveNetlist read_netlist(const std::string& file, const Map& settings_keymap = {},
                              const Map& component_map = {}, const Map& kwargs = {});

/// Writes `text` to standard output when `output` is empty or "-", else atomically to the
/// file `output`. Throws std::runtime_error or std::system_error when it cannot.
void write_output(const std::string& output, std::string_view text);
/// The same for a text that `produce` writes, in blocks as it is made, to the stream it is
/// given.
void write_output(const std::string& output, const std::function<void(std::ostream&)>& produce);

/// From now on, the reader's warnings print once each as "warning: MESSAGE".
void print_warnings_once();

}  // namespace orvelle::cli
