#include "orvelle/memory.hpp"

#include <sys/mman.h>

#include <atomic>
#include <new>
#include <utility>

namespace orvelle {

namespace detail {

void advise_huge_pages(void* block, std::size_t bytes) noexcept {
  constexpr std::size_t kWorthIt = std::size_t{4} << 20;
  constexpr std::uintptr_t kHugePage = std::uintptr_t{1} << 21;
  if (bytes < kWorthIt) return;
  const auto start = reinterpret_cast<std::uintptr_t>(block);
  const std::uintptr_t from = (start + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t to = (start + bytes) & ~(kHugePage - 1);
  if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
}

}  // namespace detail

namespace {

// Aligned to their size, so a block finds its slab by masking its address.
constexpr std::size_t kSlabBytes = std::size_t{1} << 20;
// Added to a slab's count while its pool carves from it: more than a slab can ever hand out,
// so frees never bring the count to zero before the pool is done with the slab.
constexpr std::uint64_t kCarvingCredit = std::uint64_t{1} << 40;

thread_local MapPool* active_pool = nullptr;

void* map_aligned_slab() {
  void* region =
      mmap(nullptr, 2 * kSlabBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (region == MAP_FAILED) throw std::bad_alloc();
  const auto start = reinterpret_cast<std::uintptr_t>(region);
  const std::uintptr_t aligned = (start + kSlabBytes - 1) & ~(kSlabBytes - 1);
  if (aligned != start) munmap(region, aligned - start);
  munmap(reinterpret_cast<void*>(aligned + kSlabBytes), start + kSlabBytes - aligned);
  // A slab is filled at once: asking for its pages together costs much less than taking a
  // fault on each. Where the kernel cannot, the pages come one fault at a time as usual.
  madvise(reinterpret_cast<void*>(aligned), kSlabBytes, MADV_POPULATE_WRITE);
  return reinterpret_cast<void*>(aligned);
}

}  // namespace

struct MapPool::Slab {
  std::atomic<std::uint64_t> live;  // blocks not yet freed, plus the credit while carving

  static Slab* of(void* block) noexcept {
    return reinterpret_cast<Slab*>(reinterpret_cast<std::uintptr_t>(block) & ~(kSlabBytes - 1));
  }
  void release(std::uint64_t blocks) noexcept {
    if (live.fetch_sub(blocks, std::memory_order_acq_rel) == blocks) {
      this->~Slab();
      munmap(this, kSlabBytes);
    }
  }
};

MapPool::MapPool() noexcept : outer_(std::exchange(active_pool, this)) {}

MapPool::~MapPool() {
  retire();
  active_pool = outer_;
}

MapPool* MapPool::active() noexcept {
#if defined(__SANITIZE_ADDRESS__)
  return nullptr;  // every mapping on the heap, where the address checks see each one
#else
  return active_pool;
#endif
}

void* MapPool::allocate(std::size_t bytes) {
  bytes = (bytes + alignof(Slab) - 1) & ~(alignof(Slab) - 1);
  if (slab_ == nullptr || used_ + bytes > kSlabBytes) {
    retire();
    slab_ = new (map_aligned_slab()) Slab{kCarvingCredit};
    used_ = sizeof(Slab);
  }
  void* block = reinterpret_cast<char*>(slab_) + used_;
  used_ += bytes;
  ++handed_out_;
  return block;
}

void MapPool::free(void* block) noexcept {
  Slab::of(block)->release(1);
}

void MapPool::retire() noexcept {
  if (slab_ == nullptr) return;
  std::exchange(slab_, nullptr)->release(kCarvingCredit - std::exchange(handed_out_, 0));
}

}  // namespace orvelle
