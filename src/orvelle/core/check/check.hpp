#pragma once
/// The netlist checker: finds the mistakes that reading lets through (ports both connected
/// and exposed, dangling ports, unknown components, misspelt nets...) and names the line, or
/// for YAML and JSON netlists the element, at fault.
///
///   auto findings = orvelle::check::check_file("examples/mzi.sp");
///   for (const auto& finding : findings) std::cout << orvelle::check::to_text(finding) << '\n';
///
/// Components are looked up in the active kit (orvelle::pdk::activate_pdk).

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "orvelle/core/netweave/netweave.hpp"
#include "orvelle/value.hpp"

namespace orvelle::check {

enum class Severity { warning, error };

/// "warning" or "error".
std::string_view severity_name(Severity severity) noexcept;

/// One finding. A dialect netlist's findings carry a source line, a YAML or JSON netlist's
/// the JSON pointer of the element at fault (for example /mzi/connections/u1,o2).
struct Finding {
  std::string file;
  std::size_t line = 0;  // 1-based; 0 when the finding has none
  std::string path;      // empty for dialect input
  Severity severity = Severity::error;
  std::string check;       // the stable check name, for example "dangling-port"
  std::string subcircuit;  // empty when the finding is about the whole file
  std::string message;
  friend bool operator==(const Finding&, const Finding&) = default;
};

/// What a file holds, from its name: `.yaml`/`.yml` and `.json` files hold a recursive
/// netlist, anything else (standard input too) the SPICE dialect.
enum class InputKind { dialect, yaml, json };
InputKind input_kind(std::string_view file_name) noexcept;

/// Checks the netlist file `path`; "-" reads the dialect from standard input, named
/// "<stdin>". `kwargs` are the named values the dialect's settings may refer to. A file
/// that cannot be read gives one finding of check "read-error"; a YAML or JSON netlist that
/// breaks the schema gives findings of check "schema" and no others.
///
///   auto findings = orvelle::check::check_file("circuit.sp", {{"delta", 30e-6}});
std::vector<Finding> check_file(const std::string& path, const Map& kwargs = {});

/// The same for a text already in memory; `file` names it, and its suffix says its kind.
///
///   auto findings = orvelle::check::check_text(".subckt top a\nX1 a b straight\n.ends\n", "t.sp");
std::vector<Finding> check_text(std::string_view text, const std::string& file,
                                const Map& kwargs = {});

/// Checks a recursive netlist held in memory (as YAML or JSON would give it) against the
/// schema, then, if it conforms, for every other check that needs no source text.
///
///   auto findings = orvelle::check::check_document(orvelle::from_json(text), "net.json");
std::vector<Finding> check_document(const Value& document, const std::string& file);

/// The schema's findings alone (check "schema"), for tools that only need the shape right.
///
///   if (!orvelle::check::check_schema(document, "net.json").empty()) return 1;
std::vector<Finding> check_schema(const Value& document, const std::string& file);

/// The ports an instance of `component` has in `netlist`: that subcircuit's external ports,
/// else the active kit's ports in the reader's order; empty when neither knows it.
///
///   auto ports = orvelle::check::component_ports(nets, "mmi1x2");  // o1, o2, o3
std::vector<std::string> component_ports(const RecursiveNetlist& netlist,
                                         std::string_view component);

/// One line in the form compilers use: "FILE:LINE: error: MESSAGE [check]", with the path
/// in place of the line for YAML and JSON input, and neither when the finding has none.
///
///   std::cout << orvelle::check::to_text(finding) << '\n';
std::string to_text(const Finding& finding);

/// The findings as a JSON list of {file, line or path, severity, check, subcircuit, message}.
///
///   std::cout << orvelle::check::to_json(findings) << '\n';
std::string to_json(const std::vector<Finding>& findings);

/// The JSON Schema (draft 2020-12) of the recursive netlist, the text installed as
/// recursive-netlist.schema.json.
///
///   std::cout << orvelle::check::recursive_netlist_schema();
std::string_view recursive_netlist_schema() noexcept;

}  // namespace orvelle::check
