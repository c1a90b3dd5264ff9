#include "orvelle/core/netweave/assembly.hpp"

#include <algorithm>
#include <utility>

#include "orvelle/core/netweave/settings.hpp"
#include "orvelle/core/netweave/warnings.hpp"

namespace orvelle::core::netweave::detail {

void AssembledSubcircuits::add(AssembledSubcircuit subcircuit) {
  const auto [at, fresh] = positions_.try_emplace(subcircuit.name, subcircuits_.size());
  if (fresh) {
    subcircuits_.push_back(std::move(subcircuit));
  } else {
    subcircuits_[at->second] = std::move(subcircuit);
  }
}

const Map* AssembledSubcircuits::ports_of(std::string_view name) const {
  const auto found = positions_.find(name);
  return found == positions_.end() ? nullptr : &subcircuits_[found->second].port_names;
}

void file_closed_block(AssembledSubcircuits& into, NetlistBuilder builder, const Subckt& subckt,
                       const Map& settings_keymap) {
  try {
    builder.close(subckt);
  } catch (const ParseError&) {
    warn_all(builder.warnings());
    throw;
  }
  warn_all(builder.warnings());
  Map port_names = builder.ports();
  into.add({subckt.component, std::move(builder), patch_settings(subckt.settings, settings_keymap),
            std::move(port_names)});
}

NetlistAssembly::NetlistAssembly(const Map& settings_keymap, std::size_t text_size,
                                 std::size_t size_tables_after)
    : settings_keymap_(settings_keymap),
      text_size_(text_size),
      size_tables_after_(std::max<std::size_t>(size_tables_after, 1)) {}

void NetlistAssembly::element(Child child, std::size_t read_at) {
  if (fault_) return;  // nothing more is assembled past a fault
  if (!block_) {
    block_.emplace();
    block_began_at_ = read_at;
    block_children_ = 0;
  }
  if (++block_children_ == size_tables_after_) reserve_for_the_rest(read_at);
  block_->add(std::move(child));
}

void NetlistAssembly::prefetch(std::string_view name,
                               std::span<const std::string_view> nets) const noexcept {
  if (block_) block_->prefetch(name, nets);
}

// A large block most likely goes on as it began: room for as many children as the rest of
// the text holds at the rate so far spares its tables their doublings, each a stall that
// holds up the reading too. Lines too short to be likely leave the tables to grow as usual.
void NetlistAssembly::reserve_for_the_rest(std::size_t read_at) {
  constexpr std::size_t kShortestLikelyLine = 16;
  const std::size_t spanned = read_at - block_began_at_;
  if (spanned == 0 || text_size_ <= block_began_at_) return;
  const double rest = static_cast<double>(text_size_ - block_began_at_) / spanned;
  const auto expected = static_cast<std::size_t>(rest * size_tables_after_ * (1 + 1.0 / 32));
  block_->reserve(std::min(expected, (text_size_ - block_began_at_) / kShortestLikelyLine));
}

// The location warnings wait for their block to close: a block that never closes is never
// assembled, and its comments say nothing.
void NetlistAssembly::closed(const Subckt& subckt) {
  if (fault_ || !block_) return;  // a block without children has no netlist
  NetlistBuilder builder = std::move(*block_);
  block_.reset();
  const WarningCapture capture(warnings_);
  try {
    file_closed_block(subcircuits_, std::move(builder), subckt, settings_keymap_);
  } catch (ParseError& error) {
    fault_ = std::move(error);
  }
}

AssembledSubcircuits NetlistAssembly::take() && {
  block_.reset();
  warn_all(warnings_);
  if (fault_) throw std::move(*fault_);
  return std::move(subcircuits_);
}

}  // namespace orvelle::core::netweave::detail
