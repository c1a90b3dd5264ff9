#pragma once
/// Memory for the data model's many small blocks and few large ones.
///
///   {
///     orvelle::MapPool pool;   // small mappings made on this thread now share slabs
///     orvelle::Map placement{{"x", 1.0}, {"y", 2.0}};
///   }                          // ...and outlive the pool as any mapping would

#include <cstddef>
#include <cstdint>

namespace orvelle {

/// While a MapPool lives, the small mappings its thread makes (up to eight entries, as a
/// netlist's instances, settings and placements) are carved from shared 1 MiB slabs instead
/// of being allocated one by one. They behave as any other mapping and may be freed on any
/// thread, before or after the pool ends. A slab goes back to the system with its last
/// mapping, so a mapping kept after its neighbours are gone keeps its slab alive: for code
/// that makes many small mappings that live and die together. Pools nest; the innermost one
/// serves.
class MapPool {
 public:
  MapPool() noexcept;
  ~MapPool();
  MapPool(const MapPool&) = delete;
  MapPool& operator=(const MapPool&) = delete;

  /// This thread's innermost pool, or null. Always null under AddressSanitizer, so that its
  /// checks see every block on the heap.
  static MapPool* active() noexcept;
  /// A block of `bytes` from the current slab (a new slab when it is full).
  void* allocate(std::size_t bytes);
  /// Gives back a block that allocate() handed out; on any thread.
  static void free(void* block) noexcept;

 private:
  struct Slab;

  void retire() noexcept;

  MapPool* outer_;
  Slab* slab_ = nullptr;
  std::size_t used_ = 0;          // bytes of the slab carved so far
  std::uint64_t handed_out_ = 0;  // blocks carved from the slab
};

namespace detail {

/// Asks for huge pages behind a block of many megabytes, as a table looked into at random
/// or filled at once: fewer address-translation misses and fewer, cheaper page faults. A
/// hint, given before the block is first written; small blocks are left alone.
void advise_huge_pages(void* block, std::size_t bytes) noexcept;

}  // namespace detail

}  // namespace orvelle
