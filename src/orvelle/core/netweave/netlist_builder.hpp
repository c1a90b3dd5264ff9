#pragma once
// One subcircuit's netlist {instances, connections, ports, settings, placements}, built as
// its children come.

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "orvelle/core/netweave/netweave.hpp"
#include "orvelle/core/netweave/renames.hpp"

namespace orvelle::core::netweave::detail {

/// One child of a subcircuit as the builder takes it; the views need live only through add().
struct Child {
  std::string_view name;
  std::string_view component;
  std::span<const std::string_view> nets;
  Map instance;              // as make_instance gives it
  std::string_view comment;  // the comment of its line; a location comment places it
  std::size_t source_line = 0;
};

/// An instance mapping {component, settings}, its settings patched.
Map make_instance(std::string_view component, Map settings, const Map& settings_keymap);

/// One subcircuit's netlist while its children are added. The block they belong to, and so
/// which of their nets are its declared ports, is known only when it closes. The texts of
/// instance ports are made only by finish(), once every subcircuit's external ports are
/// known, so positional ports are renamed as the texts are made, never rewritten after.
class NetlistBuilder {
 public:
  /// Connections from which finish() makes their texts on two threads.
  static constexpr std::size_t kTwoThreadsFrom = std::size_t{1} << 16;

  explicit NetlistBuilder(std::size_t expected_children = 0);
  NetlistBuilder(NetlistBuilder&&) noexcept;
  NetlistBuilder& operator=(NetlistBuilder&&) noexcept;
  ~NetlistBuilder();

  /// Adds a child. A fault of the text (a repeated instance name, an unreadable location
  /// comment) is kept for close(), and the children after it are left out.
  void add(Child child);
  /// Room for this many children in all, so that the tables need not grow as they come.
  void reserve(std::size_t children);
  /// A hint that a child of this name on these nets comes soon.
  void prefetch(std::string_view name, std::span<const std::string_view> nets) const noexcept;
  /// Closes the netlist as that of block `subckt` and joins the nets. Throws ParseError,
  /// with the source line of the child at fault, for the first fault of the children or a
  /// net on more than two instance ports.
  void close(const Subckt& subckt);
  /// The warnings of the children's location comments, in order, for the caller to pass on.
  std::vector<std::string>& warnings() noexcept;
  /// The external ports (keys, in order); complete once closed.
  const Map& ports() const noexcept;
  /// Whether the normaliser accepts every text finish() makes: each instance has a component
  /// and every instance and port name may stand in an instance-port text. Once closed.
  bool normal() const noexcept;
  /// The netlist; with `renames`, ports o1, o2, ... of subcircuit instances are named as
  /// that subcircuit's external ports.
  Map finish(Map settings, const SubcircuitPorts* renames = nullptr,
             std::size_t two_threads_from = kTwoThreadsFrom) &&;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace orvelle::core::netweave::detail
