#pragma once
// The checker's parts. Not installed: tests include it to check each part on its own.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "orvelle/core/check/check.hpp"
#include "orvelle/core/netweave/netweave.hpp"
#include "orvelle/value.hpp"

namespace orvelle::check::detail {

// ---- What the reader tells about a dialect text (dialect_source.cpp) ----
// The one place that knows the reader's internals: every check works on these records and
// on the finished recursive netlist.

/// One element line of a subcircuit, as written.
struct SourceElement {
  std::string_view name;
  std::string_view component;
  std::size_t line = 0;
};

/// A net of an element that is one of its subcircuit's declared port nets.
struct PortNetUse {
  std::size_t element;     // in the subcircuit's elements
  std::uint32_t position;  // among the element's nets
  std::uint32_t port;      // among the subcircuit's declared ports
};

/// One subcircuit definition, with the elements the reader gives it.
struct SourceSubcircuit {
  std::string_view name;
  std::span<const std::string_view> ports;  // the declared port nets
  std::size_t line = 0;
  std::span<const SourceElement> elements;
  std::span<const PortNetUse> port_net_uses;  // in the order written
};

/// The declared ports of a subcircuit, looked up as often as its instances have nets.
class DeclaredPorts {
 public:
  DeclaredPorts() = default;
  explicit DeclaredPorts(std::span<const std::string_view> ports);
  /// The position of `net` among the ports (the first, for a name declared twice), or nothing.
  std::optional<std::size_t> find(std::string_view net) const;

 private:
  std::span<const std::string_view> ports_;
  std::unordered_map<std::string_view, std::size_t> index_;
};

/// A dialect text read once: its subcircuits in the order the reader completes them (at
/// ".ends"), and the recursive netlist exactly as netweave returns it for the same kit and
/// named values. The views point into the text read, which must outlive them, or into
/// `texts` for the names of lines the reader rewrote.
struct DialectSource {
  std::vector<SourceSubcircuit> subcircuits;
  RecursiveNetlist netlist;
  std::shared_ptr<const void> texts;
};

/// The whole file, as the reader reads it; std::runtime_error saying which step failed and
/// why ("cannot open the file: ...", "cannot read the file: ...").
std::string read_file(const std::string& path);

/// Reads a dialect text. Throws orvelle::ParseError (with its line) as netweave does; the
/// reader's warnings reach the warning handler once each, as netweave gives them.
DialectSource read_dialect(std::string_view text, const Map& kwargs);

/// The same, keeping each element's nets until its block closes, as read_dialect does when a
/// block opens inside another after some of its elements; for tests to compare the two.
DialectSource read_dialect_keeping_nets(std::string_view text, const Map& kwargs);

/// The ports the active kit gives `component`, in the reader's order; empty when the kit
/// does not know it (or knows it without ports, which no instance can then use).
std::shared_ptr<const std::vector<std::string>> kit_ports(std::string_view component);

/// The port name that the reader gives the net at `position` of an instance of
/// `component`, in the finished `netlist` (subcircuit ports renamed as there).
std::string port_at(const RecursiveNetlist& netlist, std::string_view component,
                    std::size_t position);

// ---- Findings as the checks make them (netlist_checks.cpp) ----

/// The findings of one file, in the order the checks make them. Each one keeps the index of
/// the instance at fault in its netlist's instances, if any, by which the dialect locates it
/// at the instance's source line.
class Report {
 public:
  explicit Report(std::string file) : file_(std::move(file)) {}

  /// `path` is the JSON pointer of the element at fault, or empty.
  void add(std::string_view check, Severity severity, std::string_view subcircuit, std::string path,
           std::string message, std::optional<std::size_t> instance = std::nullopt);

  std::size_t size() const noexcept { return instances_.size(); }
  Finding& operator[](std::size_t i) noexcept { return blocks_[i / kBlock][i % kBlock]; }
  std::optional<std::size_t> instance(std::size_t i) const noexcept { return instances_[i]; }
  /// The findings in the order made.
  std::vector<Finding> take() &&;

 private:
  // Blocks never grow past their first capacity, so a finding never moves as more come: a
  // large netlist can give hundreds of thousands.
  static constexpr std::size_t kBlock = 4096;
  std::string file_;
  std::vector<std::vector<Finding>> blocks_;
  std::vector<std::optional<std::size_t>> instances_;  // by finding
};

/// True when `a` and `b` are the same name. Names are short: comparing their bytes in a loop
/// beats a call to memcmp, which the checks would make by the million.
inline bool same_name(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

/// The component of an instance of a recursive netlist.
std::string_view component_of(const Value& instance);

/// Looks the instances of one netlist up by name. Connections and ports mostly come in the
/// order of the instances, so the last one found and the few after it are tried before the
/// mapping's index, whose lookups in a large netlist wait on memory.
class InstanceFinder {
 public:
  explicit InstanceFinder(const Map& instances) noexcept : instances_(instances) {}
  std::optional<std::size_t> find(std::string_view name) noexcept;

 private:
  const Map& instances_;
  std::size_t last_ = 0;
};

/// `text` in single quotes, for messages.
std::string in_quotes(std::string_view text);
/// The pieces one after another, in one allocation: for the messages that come by the
/// hundred thousand.
std::string concatenated(std::initializer_list<std::string_view> pieces);

/// The JSON pointer (RFC 6901) of the element reached by `keys` from the document's root.
std::string json_pointer(std::initializer_list<std::string_view> keys);

/// What a component is, for its instances' ports.
struct ComponentPorts {
  enum class Kind {
    subcircuit,  // a netlist of the recursive netlist: its external ports
    kit,         // a part of the active kit: its ports
    portless,    // a subcircuit the file defines but the netlist leaves out (empty)
    unknown,     // neither
  };
  Kind kind = Kind::unknown;
  std::vector<std::string> ports;
  /// The position of `port` in `ports`, or nothing.
  std::optional<std::size_t> find(std::string_view port) const;
  /// Makes find() fast for components with many ports; call once `ports` is complete.
  void index();

 private:
  std::vector<std::pair<std::string_view, std::uint32_t>> sorted_;  // (port, position)
};

/// Resolves components once each: subcircuits of the netlist first (as a simulator resolves
/// them), then names in `portless`, then the kit named `kit_name`.
class Components {
 public:
  using KitLookup =
      std::function<std::shared_ptr<const std::vector<std::string>>(std::string_view)>;
  Components(const RecursiveNetlist& netlist, KitLookup kit, std::string kit_name,
             std::vector<std::string_view> portless = {});
  const ComponentPorts& resolve(std::string_view component);
  const std::string& kit_name() const noexcept { return kit_name_; }

 private:
  ComponentPorts make(std::string_view component) const;

  const RecursiveNetlist& netlist_;
  KitLookup kit_;
  std::string kit_name_;
  std::vector<std::string_view> portless_;
  std::unordered_map<std::string, ComponentPorts, StringHash, std::equal_to<>> resolved_;
  std::vector<std::pair<std::string_view, const ComponentPorts*>> first_few_;
};

/// Instance ports whose dangling is already explained by another finding, asked with the
/// subcircuit, the instance and the port's name.
using Explained = std::function<bool(std::string_view subcircuit, std::string_view instance,
                                     std::string_view port)>;

/// The checks that need no source text, on every netlist of `netlist`: instance ports
/// connected and exposed, connected or exposed twice, naming a missing instance or a port
/// the component lacks, or dangling (unless `explained`); components nobody defines. Without
/// `with_paths`, the findings' paths are left empty (for findings located otherwise).
void check_connectivity(const RecursiveNetlist& netlist, Components& components, Report& report,
                        bool with_paths = true, const Explained& explained = {});

class NetlistUses;

/// The same checks in two steps, so that the second can be shared out between threads: the
/// instance ports' uses, then the dangling ports, in shares of the instances.
class Connectivity {
 public:
  Connectivity(const RecursiveNetlist& netlist, Components& components, bool with_paths,
               Explained explained);
  ~Connectivity();
  /// Every finding but the dangling ports.
  void check_uses(Report& report);
  /// The dangling ports of share `part` of `parts` of every netlist's instances; after
  /// check_uses(), and safe to call for different shares at once.
  void report_dangling(std::size_t part, std::size_t parts, Report& report) const;

 private:
  const RecursiveNetlist& netlist_;
  Components& components_;
  bool with_paths_;
  Explained explained_;
  std::vector<std::unique_ptr<NetlistUses>> netlists_;
};

/// Netlists that no instance uses (other than the top, the first) and netlists with no
/// instances.
void check_hierarchy(const RecursiveNetlist& netlist, Report& report);

// ---- Dialect (dialect_checks.cpp) ----

/// Every check of a dialect text read by read_dialect, located by source line, in line order.
std::vector<Finding> check_dialect_source(const DialectSource& source, const std::string& file);

/// For each name, the first other name one edit away (a character added, dropped or
/// changed, or two neighbours swapped), as its index; nothing when there is none.
std::vector<std::optional<std::size_t>> nearest_names(std::span<const std::string_view> names);

/// True when `a` and `b` differ by at most one edit (see nearest_names).
bool one_edit_apart(std::string_view a, std::string_view b) noexcept;

// ---- Schema (schema.cpp) ----

/// The places where `document` breaks the recursive netlist's schema, with a message each;
/// empty when it conforms.
struct SchemaViolation {
  std::string path;
  std::string message;
};
std::vector<SchemaViolation> schema_violations(const Value& document);

}  // namespace orvelle::check::detail
