#pragma once
// Assembly: the statements of a netlist text into one netlist builder per closed block, in
// the order the finished netlists keep.

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "orvelle/core/netweave/netlist_builder.hpp"

namespace orvelle::core::netweave::detail {

/// A closed block's netlist, waiting for the others to be finished.
struct AssembledSubcircuit {
  std::string name;
  NetlistBuilder builder;
  Map settings;    // patched
  Map port_names;  // the external ports, kept apart: the builder gives its own up when done
};

/// The closed blocks with children, in the order of the first block of each name; a later
/// block of a name takes the earlier one's place.
class AssembledSubcircuits {
 public:
  void add(AssembledSubcircuit subcircuit);
  std::vector<AssembledSubcircuit>& in_order() noexcept { return subcircuits_; }
  /// The external ports of the subcircuit `name`, or null.
  const Map* ports_of(std::string_view name) const;

 private:
  std::vector<AssembledSubcircuit> subcircuits_;
  std::unordered_map<std::string, std::size_t, StringHash, std::equal_to<>> positions_;
};

/// Closes `builder` as the netlist of `subckt` and files it. Passes the location warnings of
/// its children on through warn(), in order, also when the block fails.
void file_closed_block(AssembledSubcircuits& into, NetlistBuilder builder, const Subckt& subckt,
                       const Map& settings_keymap);

/// Statements to netlists, the way the reader's records would be assembled: an element joins
/// the netlist of the block that the next ".ends" closes, whichever block it stands in. The
/// first fault of a block's children is kept, not thrown, so that an error the statement
/// parser finds later in the text still wins, as it would in reading the text first.
class NetlistAssembly {
 public:
  NetlistAssembly(const Map& settings_keymap, std::size_t text_size, std::size_t size_tables_after);

  /// An element, with `read_at` how far into the text the statements have been read.
  void element(Child child, std::size_t read_at);
  /// A hint that this element comes soon.
  void prefetch(std::string_view name, std::span<const std::string_view> nets) const noexcept;
  void closed(const Subckt& subckt);

  /// The netlists of the closed blocks. Passes the location warnings on, then throws the
  /// first fault of the children, if any.
  AssembledSubcircuits take() &&;

 private:
  void reserve_for_the_rest(std::size_t read_at);

  const Map& settings_keymap_;
  std::size_t text_size_;
  std::size_t size_tables_after_;
  std::optional<NetlistBuilder> block_;  // the netlist of the block the next ".ends" closes
  std::size_t block_began_at_ = 0;
  std::size_t block_children_ = 0;
  AssembledSubcircuits subcircuits_;
  std::vector<std::string> warnings_;  // of the location comments of closed blocks
  std::optional<ParseError> fault_;
};

}  // namespace orvelle::core::netweave::detail
