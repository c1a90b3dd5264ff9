#pragma once
// Scheduling: the one reading of a netlist text, on the calling thread alone or with the
// statements read on a second thread while the calling thread assembles them. Either way the
// same statement parser feeds the same assembly and finishing.

#include <cstddef>
#include <string_view>

#include "orvelle/core/netweave/netlist_builder.hpp"
#include "orvelle/core/netweave/statements.hpp"

namespace orvelle::core::netweave::detail {

/// The sizes at which the reader changes its ways; tests and fuzzers lower them to reach
/// every way with small texts.
struct ReaderTuning {
  /// Bytes of text from which the statements are read on a second thread (never on a
  /// machine of one core).
  std::size_t two_threads_from = default_two_threads_from();
  /// Bytes of text from which small mappings are carved from shared slabs (MapPool).
  std::size_t slabs_from = std::size_t{1} << 18;
  /// Children of a block after which its tables are sized for the rest of the text.
  std::size_t size_tables_after = std::size_t{1} << 14;
  /// Connections of a netlist from which their texts are made on two threads.
  std::size_t finish_on_two_threads_from = NetlistBuilder::kTwoThreadsFrom;
  /// Statements handed over at a time between the threads, and such chunks in flight.
  std::size_t chunk_statements = 1024;
  std::size_t most_chunks = 64;

  static std::size_t default_two_threads_from() noexcept;
};

/// Told of the statements of the reader's one reading as they are read, before the reader
/// assembles them, on the thread that reads them; for callers that want more of the text
/// than the netlist keeps (a checker wants lines and nets as written).
class StatementObserver {
 public:
  virtual ~StatementObserver() = default;
  virtual void subckt_opened(const Subckt& subckt, std::size_t source_line) = 0;
  virtual void element(const Element& element) = 0;
  virtual void subckt_closed(const Subckt& subckt) = 0;
};

/// The recursive netlist of a netlist text. Warnings reach the handler, and the kit is
/// asked for ports, on the calling thread only. Throws ParseError for a fault of the text;
/// any other error passes through as it was thrown.
RecursiveNetlist read_netlist(std::string_view content, const Map& settings_keymap = {},
                              const Map& component_map = {}, const Map& kwargs = {},
                              const ReaderTuning& tuning = {},
                              StatementObserver* observer = nullptr);

}  // namespace orvelle::core::netweave::detail
