#pragma once
// The reader's stages, one group per source file. Not installed: tests include it to check
// each stage on its own.

#include <tsl/ordered_map.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <istream>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "orvelle/core/netweave/netweave.hpp"
#include "orvelle/memory.hpp"

namespace orvelle::detail {

// ---- Text helpers (lines.cpp) ----

/// Byte length of the white-space character starting at `text[i]` (Unicode white space, as
/// netlist editors may leave non-breaking or ideographic blanks), or 0.
std::size_t whitespace_at(std::string_view text, std::size_t i) noexcept;
/// Byte length of the white-space character ending just before `text[end]`, or 0.
std::size_t whitespace_before(std::string_view text, std::size_t end) noexcept;
/// `text` without white space at either end.
std::string_view strip(std::string_view text) noexcept;

/// Passes `message` to the process-wide warning handler.
void warn(std::string message);

/// While alive, this thread's warnings are kept in `into` instead of being passed on.
class WarningCapture {
 public:
  explicit WarningCapture(std::vector<std::string>& into) noexcept;
  ~WarningCapture();
  WarningCapture(const WarningCapture&) = delete;
  WarningCapture& operator=(const WarningCapture&) = delete;

 private:
  std::vector<std::string>* previous_;
};

// ---- Line pipeline (lines.cpp) ----

/// One line on its way through the pipeline, with the 1-based source line where it starts.
struct Line {
  std::string_view text;
  std::size_t source_line = 0;
};

/// A lazy sequence of lines. Each stage pulls from the one before and holds at most one
/// logical line; a returned text stays valid until the next call of next().
class LineStream {
 public:
  virtual ~LineStream() = default;
  virtual std::optional<Line> next() = 0;
};
using LineStreamPtr = std::unique_ptr<LineStream>;
using LineStage = std::function<LineStreamPtr(LineStreamPtr)>;

/// Cuts `content` at every line boundary (LF, CR, CRLF, VT, FF, FS, GS, RS, NEL, LS, PS);
/// a boundary at the very end adds no empty line. Source lines count LF, CR and CRLF only,
/// as editors do. `content` must outlive the stream.
LineStreamPtr split_lines(std::string_view content);
/// A stream over given lines, numbered from 1 (for callers that already hold lines).
LineStreamPtr lines_from(std::vector<std::string> lines);

LineStreamPtr strip_lines(LineStreamPtr lines);
LineStreamPtr join_continuations(LineStreamPtr lines);
LineStreamPtr standardize_spaces(LineStreamPtr lines);
LineStreamPtr filter_empty(LineStreamPtr lines);
LineStreamPtr strip_comments(LineStreamPtr lines);

/// One stage that applies `stages` in order; no stages gives the identity.
LineStage chain(std::vector<LineStage> stages);

/// The relevant lines of a netlist text. `content` must outlive the stream.
LineStreamPtr iter_relevant_lines(std::string_view content);

/// (statement text, comment text with its marker). A "$" or "*" inside quotes starts no comment.
std::pair<std::string_view, std::string_view> split_comments(std::string_view line) noexcept;

/// Cuts `line` at blanks outside quotes; quotes stay in their words and empty words are kept.
void split_words(std::string_view line, std::vector<std::string_view>& words);
std::vector<std::string_view> split_words(std::string_view line);

// ---- Values (values.cpp, expression.cpp) ----

/// A plain decimal literal (sign, digits with an optional point, optional exponent) read as
/// the nearest double; underflow gives 0.0. Nothing for any other text or on overflow.
std::optional<double> parse_float(std::string_view text) noexcept;

/// A setting's text as a value: number (unit suffixes p, n, u, m), text, list or null.
Value parse_value(std::string_view value, const Map& kwargs = {});

/// The named value `key_or_value`, else the expression's value, else null after a warning.
Value eval(std::string_view key_or_value, const Map& kwargs = {});

/// Evaluates arithmetic on int and float literals and bracketed lists without running any
/// code. Nothing for any other input, division by zero, or a result outside int64 or the
/// finite doubles.
std::optional<Value> evaluate_expression(std::string_view expression);

// ---- Settings (settings.cpp) ----

/// name=value words as settings (other words are skipped). Throws ParseError for a word
/// that does not split into exactly two pieces at "=".
Map get_ir_settings(std::span<const std::string_view> words, const Map& kwargs = {});
/// A new mapping in sorted name order, names renamed through `settings_keymap`.
Map map_settings_keys(const Map& settings, const Map& settings_keymap);
/// Floats strictly between 1e-10 and 1e-2 are lengths in metres: made micrometres, in place.
Map& convert_um(Map& settings);
Map patch_settings(const Map& settings, const Map& settings_keymap);
/// The same, reusing `settings` when its names are already in order and none is renamed
/// (the usual case), so an instance's settings are not copied on their way to the netlist.
Map patch_settings(Map&& settings, const Map& settings_keymap);

// ---- Ports (ports.cpp) ----

using PortNames = std::vector<std::string>;
using SharedPortNames = std::shared_ptr<const PortNames>;

/// The words that hold no "=", in order.
std::vector<std::string_view> get_ir_ports(std::span<const std::string_view> words);
/// The same into `ports`, reusing its storage.
void get_ir_ports(std::span<const std::string_view> words, std::vector<std::string_view>& ports);
/// The component's ports in canonical order; remembered per (active kit, name).
SharedPortNames get_ports(std::string_view component);
PortNames get_ports_from_model(std::string_view component);
PortNames get_ports_from_component(std::string_view component);
/// Names beginning with "in" first, then the rest, each group in natural order.
PortNames sort_ports(PortNames ports);
/// Digit runs compare by value, other runs as text; a leading digit run sorts first.
bool natural_less(std::string_view a, std::string_view b) noexcept;
/// `ports[i]`, or "o" followed by i + 1 past the end.
std::string get_port(const PortNames& ports, std::size_t i);

// ---- Statement parser (parser.cpp) ----

using Record = std::variant<Subckt, Conn>;
/// Line id -> record, in the order the records were completed.
using Ir = tsl::ordered_map<std::int64_t, Record>;
/// Line id -> comment split off that line.
using Comments = tsl::ordered_map<std::int64_t, Text>;
/// Source line of each line id (index id - 1), so late errors still point at the input.
using SourceLines = std::vector<std::size_t>;

struct ParsedIr {
  Ir ir;
  Comments comments;
  SourceLines source_lines;
};

/// One element line as the parser hands it on. The views live until the parser reads on.
struct Element {
  std::int64_t id;  // line id
  std::string_view name;
  std::string component;
  std::span<const std::string_view> nets;
  Map settings;
};

/// Receives the statements of a netlist in reading order. The IR is built by one receiver;
/// the one-pass reader is another.
class StatementSink {
 public:
  virtual ~StatementSink() = default;
  /// The comment split off line `id`, before that line's statement (if any).
  virtual void comment(std::int64_t id, std::string_view text) = 0;
  virtual void subckt_opened(const Subckt& subckt) = 0;
  /// An element line; `parent` is the innermost open block.
  virtual void element(Element element, const Subckt& parent) = 0;
  /// `subckt.children_ids` holds every element read since the previous ".ends".
  virtual void subckt_closed(Subckt subckt) = 0;
};

/// Rewrites a controlled-source line (a word "vcvs", "vccs", "ccvs" or "cccs" in any case)
/// into nets, then the keyword in lower case, then the settings. Other lines pass unchanged.
std::vector<std::string_view> handle_sources(std::vector<std::string_view> words);
std::optional<std::int64_t> get_parent_id(const std::vector<Subckt>& parents) noexcept;
/// Reads every line into `sink`; a ParseError carries the source line of its statement.
void parse_statements(LineStream& lines, StatementSink& sink, const Map& component_map = {},
                      const Map& kwargs = {}, SourceLines* source_lines = nullptr);
ParsedIr parse_into_ir(LineStream& lines, const Map& component_map = {}, const Map& kwargs = {});

// ---- Location comments (location.cpp) ----

/// The placement {x, y, rotation, port} of a comment holding "location=", else nothing.
/// Throws ParseError for a location that cannot be read.
std::optional<Map> parse_location_comment(std::string_view comment);

// ---- Assembly (assembly.cpp) ----

/// Thrown by the one-pass reader for input that only the staged reader handles exactly as
/// written (nested blocks that share children, names holding commas, and any failure).
struct StagedReadingNeeded {};

/// For the texts of instance ports: the external port names of the subcircuit named
/// `component`, in order, or null when it is no subcircuit of the netlist being read.
using SubcircuitPorts = std::function<const Map*(std::string_view component)>;

/// One subcircuit's netlist while its children are added. The instance-port texts are made
/// only by finish(), so a caller that already knows every subcircuit's external ports can
/// have positional ports renamed as the texts are made, instead of rewriting them after.
class NetlistBuilder {
 public:
  /// Takes the subcircuit's name and external port names (copied).
  NetlistBuilder(const Subckt& subckt, const Map& settings_keymap,
                 std::size_t expected_children = 0);
  NetlistBuilder(NetlistBuilder&&) noexcept;
  NetlistBuilder& operator=(NetlistBuilder&&) noexcept;
  ~NetlistBuilder();

  /// Throws ParseError for a repeated instance name or an unreadable location comment.
  void add_child(std::string_view name, std::string_view component,
                 std::span<const std::string_view> nets, Map settings, std::string_view comment);
  /// The same with the instance mapping made by instance() and the location comment read.
  void add_child(std::string_view name, std::string_view component,
                 std::span<const std::string_view> nets, Map instance,
                 std::optional<Map> placement);
  /// An instance mapping {component, settings}, its settings patched.
  static Map instance(std::string_view component, Map settings, const Map& settings_keymap);
  /// Room for this many children in all, so that the tables need not grow as they come.
  void reserve(std::size_t children);
  /// A hint that a child of this name on these nets comes soon.
  void prefetch(std::string_view name, std::span<const std::string_view> nets) const noexcept;
  /// Joins the nets. Throws ParseError for a net on more than two instance ports;
  /// failed_child() then names the child that added the third.
  void close();
  std::size_t failed_child() const noexcept;
  /// The external ports, in order; complete once closed.
  const Map& ports() const noexcept;
  /// The netlist {instances, connections, ports, settings, placements}. With `renames`,
  /// ports o1, o2, ... of subcircuit instances are named as that subcircuit's external
  /// ports; throws StagedReadingNeeded where that would not match renaming afterwards.
  Map finish(Map settings, const SubcircuitPorts* renames = nullptr) &&;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

/// One subcircuit's netlist {instances, connections, ports, settings, placements}.
/// `source_lines`, when given, lets errors name the line of the instance at fault.
Map netlist_from_subckt(const Ir& ir, const Subckt& subckt, const Map& settings_keymap,
                        const Comments& comments, const SourceLines* source_lines = nullptr);
/// The same, releasing each child's settings and comment once they are copied: lets a
/// caller that owns the IR hold it and the netlists at once only briefly.
Map take_netlist_from_subckt(Ir& ir, const Subckt& subckt, const Map& settings_keymap,
                             Comments& comments, const SourceLines* source_lines = nullptr);
/// Renames positional ports (o1, o2, ...) of subcircuit instances to the subcircuit's
/// external port names, in place.
void patch_ports(Map& recursive_netlist);

// ---- Entry (netweave.cpp) ----

ParsedIr netweave_into_ir(const std::filesystem::path& path, const Map& component_map = {},
                          const Map& kwargs = {});
ParsedIr netweave_into_ir(std::istream& stream, const Map& component_map = {},
                          const Map& kwargs = {});
/// Parses a netlist text already in memory.
ParsedIr netweave_text_into_ir(std::string_view content, const Map& component_map = {},
                               const Map& kwargs = {});
/// The recursive netlist read in one pass, or nothing when the text needs the staged reader
/// (which then gives the same result or error): the fast way through, same warnings too.
std::optional<RecursiveNetlist> weave_text(std::string_view content,
                                           const Map& settings_keymap = {},
                                           const Map& component_map = {}, const Map& kwargs = {});
/// Takes the IR and comments by value: the children's inputs are released as they are used.
RecursiveNetlist recursive_netlist_from_ir(Ir ir, const Map& settings_keymap, Comments comments,
                                           const SourceLines* source_lines = nullptr);

}  // namespace orvelle::detail
