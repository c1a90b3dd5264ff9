#pragma once
// Statements: relevant lines read into subcircuit blocks and their elements, handed to a
// receiver as they are read.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "orvelle/core/netweave/lines.hpp"
#include "orvelle/core/netweave/netweave.hpp"

namespace orvelle::core::netweave::detail {

/// Source line of each line id (index id - 1), so late errors still point at the input.
using SourceLines = std::vector<std::size_t>;

/// One element line as the parser hands it on. The views live until the parser reads on.
struct Element {
  std::int64_t id;  // line id
  std::string_view name;
  std::string component;
  std::span<const std::string_view> nets;
  Map settings;
  std::size_t source_line = 0;
};

/// Receives the statements of a netlist in reading order. The intermediate representation
/// is built by one receiver; the reader's netlists by another.
class StatementSink {
 public:
  virtual ~StatementSink() = default;
  /// The comment split off line `id`, before that line's statement (if any).
  virtual void comment(std::int64_t id, std::string_view text) = 0;
  /// A block opens on source line `source_line`.
  virtual void subckt_opened(const Subckt& subckt, std::size_t source_line) = 0;
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

}  // namespace orvelle::core::netweave::detail
