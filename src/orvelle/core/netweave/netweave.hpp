#pragma once
/// The netlist reader: a SPICE-dialect circuit description in, a recursive netlist out
/// (subcircuit name -> {instances, connections, ports, settings, placements}).
///
///   orvelle::RecursiveNetlist nets = orvelle::netweave("circuit.sp");
///   std::cout << orvelle::to_yaml(nets);

#include <cstdint>
#include <filesystem>
#include <functional>
#include <istream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "orvelle/value.hpp"

namespace orvelle {

/// Subcircuit name -> netlist, last-defined subcircuit first.
using RecursiveNetlist = Map;

/// Input the reader cannot read. what() is the exact message; line() is the source line
/// (1-based) where the offending statement starts, 0 when unknown.
class ParseError : public std::runtime_error {
 public:
  explicit ParseError(const std::string& message, std::size_t line = 0)
      : std::runtime_error(message), line_(line) {}
  std::size_t line() const noexcept { return line_; }
  void set_line(std::size_t line) noexcept { line_ = line; }

 private:
  std::size_t line_;
};

/// A recoverable oddity; reading goes on.
struct ParseWarning {
  std::string message;
};

using WarningHandler = std::function<void(const ParseWarning&)>;

/// Replaces the process-wide warning handler and returns the previous one. The default
/// prints one line "warning: MESSAGE" on standard error. An empty handler restores it.
WarningHandler set_warning_handler(WarningHandler handler);

/// While alive, the warnings of reading on this thread are kept in `into`, in order, instead
/// of reaching the handler: for a caller that passes them on later, as a language binding
/// that reads without its interpreter's lock does. Captures nest; the innermost keeps them.
///
///   std::vector<std::string> warnings;
///   {
///     orvelle::WarningCapture capture(warnings);
///     nets = orvelle::netweave(path);
///   }
class WarningCapture {
 public:
  explicit WarningCapture(std::vector<std::string>& into) noexcept;
  ~WarningCapture();
  WarningCapture(const WarningCapture&) = delete;
  WarningCapture& operator=(const WarningCapture&) = delete;

 private:
  std::vector<std::string>* previous_;
};

/// One subcircuit definition of the intermediate representation.
struct Subckt {
  std::int64_t id;
  std::string component;
  std::vector<std::string> ports;
  Map settings;
  std::optional<std::int64_t> parent_id;  // none at top level
  std::vector<std::int64_t> children_ids;
  friend bool operator==(const Subckt&, const Subckt&) = default;
};

/// One element or instance line inside a subcircuit.
struct Conn {
  std::int64_t id;
  std::string name;
  std::string component;
  std::vector<std::string> ports;
  Map settings;
  std::int64_t parent_id;
  friend bool operator==(const Conn&, const Conn&) = default;
};

/// Reads the netlist file at `path`. `settings_keymap` renames settings (old -> new name),
/// `component_map` renames components, `kwargs` are named values that settings may refer to.
/// Throws ParseError for unreadable input, std::system_error when the file cannot be read,
/// and std::invalid_argument when the normalised netlist is rejected.
RecursiveNetlist netweave(const std::filesystem::path& path, const Map& settings_keymap = {},
                          const Map& component_map = {}, const Map& kwargs = {});

/// The same for an open stream, which is read to its end and not closed.
RecursiveNetlist netweave(std::istream& stream, const Map& settings_keymap = {},
                          const Map& component_map = {}, const Map& kwargs = {});

}  // namespace orvelle
