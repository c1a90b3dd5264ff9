#pragma once
// The open-addressing index behind Orvelle's large tables (a mapping's index, the reader's
// nets). The entries stay elsewhere, in insertion order; a slot holds an entry's 32-bit key
// hash above its position + 1, and 0 when empty. Most misses are thus rejected without
// touching the entries, and the index grows without reading a key again.

#include <array>
#include <cstddef>
#include <cstdint>

namespace orvelle::detail {

/// A view of a power-of-two array of slots.
class HashSlots {
 public:
  HashSlots(std::uint64_t* slots, std::size_t count) noexcept : slots_(slots), mask_(count - 1) {}

  static std::uint64_t slot(std::uint32_t hash, std::size_t position) noexcept {
    return (std::uint64_t{hash} << 32) | (position + 1);
  }
  static std::size_t position(std::uint64_t slot) noexcept { return (slot & UINT32_MAX) - 1; }
  static std::uint32_t hash(std::uint64_t slot) noexcept {
    return static_cast<std::uint32_t>(slot >> 32);
  }

  void prefetch(std::uint32_t hash) const noexcept { __builtin_prefetch(slots_ + (hash & mask_)); }

  /// Records a position whose key is known to be absent.
  void insert(std::uint32_t hash, std::size_t position) noexcept {
    std::size_t i = hash & mask_;
    while (slots_[i] != 0) i = (i + 1) & mask_;
    slots_[i] = slot(hash, position);
  }

  /// The slot of the entry whose position `same_key` accepts, else the empty slot where
  /// that key belongs.
  template <class SameKey>
  std::uint64_t& find(std::uint32_t hash, SameKey same_key) const {
    for (std::size_t i = hash & mask_;; i = (i + 1) & mask_) {
      std::uint64_t& s = slots_[i];
      if (s == 0 || (HashSlots::hash(s) == hash && same_key(position(s)))) return s;
    }
  }

  /// Calls visit(i, hash_at(i)) for each i in [from, to). A large index is mostly out of
  /// cache, so each hash is worked out a few keys ahead and its slot fetched then.
  template <class HashAt, class Visit>
  void for_each_hashed(std::size_t from, std::size_t to, HashAt hash_at, Visit visit) const {
    constexpr std::size_t kAhead = 8;
    std::array<std::uint32_t, kAhead> hashes{};
    const auto fetch = [&](std::size_t i) {
      hashes[i % kAhead] = hash_at(i);
      prefetch(hashes[i % kAhead]);
    };
    for (std::size_t i = from; i < to && i < from + kAhead; ++i) fetch(i);
    for (std::size_t i = from; i < to; ++i) {
      const std::uint32_t hash = hashes[i % kAhead];
      if (i + kAhead < to) fetch(i + kAhead);
      visit(i, hash);
    }
  }

  /// Records every filled slot of an older, smaller index.
  void insert_all(const std::uint64_t* old, std::size_t old_count) noexcept {
    constexpr std::size_t kAhead = 8;
    for (std::size_t j = 0; j < old_count; ++j) {
      if (j + kAhead < old_count && old[j + kAhead] != 0) prefetch(hash(old[j + kAhead]));
      if (old[j] != 0) insert(hash(old[j]), position(old[j]));
    }
  }

 private:
  std::uint64_t* slots_;
  std::size_t mask_;
};

}  // namespace orvelle::detail
