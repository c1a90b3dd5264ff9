#include "orvelle/map.hpp"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

#include "orvelle/hash_index.hpp"
#include "orvelle/memory.hpp"
#include "orvelle/value.hpp"

namespace orvelle {

namespace {

constexpr std::size_t kScanLimit = 8;  // mappings of up to this capacity have no index

std::size_t index_capacity(std::size_t capacity) noexcept {
  return std::bit_ceil(capacity * 2);
}

void* allocate(std::size_t bytes) {
  void* block = std::malloc(bytes);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

}  // namespace

// One block: this header, the entries, then (past kScanLimit) a hash index of the entries.
// Entries are relocated with realloc: a Text and a Value hold no pointer into themselves, so
// moving their bytes moves them.
struct Map::Rep {
  std::uint32_t size;
  std::uint32_t capacity : 30;
  std::uint32_t indexed : 1;  // clear only while a MapBuilder fills the block
  std::uint32_t pooled : 1;   // carved from a MapPool's slab

  static constexpr std::size_t kMaxCapacity = (std::size_t{1} << 30) - 1;

  static std::size_t bytes(std::size_t capacity, bool indexed) noexcept {
    return sizeof(Rep) + capacity * sizeof(value_type) +
           (indexed ? index_capacity(capacity) * sizeof(std::uint64_t) : 0);
  }

  // An empty block of that shape, from the thread's pool when it is small enough.
  static Rep* make(std::size_t capacity, bool indexed) {
    MapPool* pool = indexed || capacity > kScanLimit ? nullptr : MapPool::active();
    const std::size_t size = bytes(capacity, indexed);
    Rep* rep;
    if (pool != nullptr) {
      rep = static_cast<Rep*>(pool->allocate(size));
    } else {
      rep = static_cast<Rep*>(allocate(size));
      detail::advise_huge_pages(rep, size);
    }
    rep->size = 0;
    rep->pooled = pool != nullptr;
    rep->shape(capacity, indexed);
    return rep;
  }

  // The same entries in a block of another shape; the index is left to the caller. The old
  // block is gone unless this throws.
  static Rep* reshaped(Rep* rep, std::size_t capacity, bool indexed) {
    if (rep->pooled) {
      Rep* moved = make(capacity, indexed);
      std::memcpy(static_cast<void*>(moved->entries()), rep->entries(),
                  rep->size * sizeof(value_type));
      moved->size = rep->size;
      MapPool::free(rep);
      return moved;
    }
    Rep* moved = static_cast<Rep*>(std::realloc(rep, bytes(capacity, indexed)));
    if (moved == nullptr) throw std::bad_alloc();
    detail::advise_huge_pages(moved, bytes(capacity, indexed));
    moved->shape(capacity, indexed);
    return moved;
  }

  static void destroy(Rep* rep) noexcept {
    if (rep->pooled) {
      MapPool::free(rep);
    } else {
      std::free(rep);
    }
  }

  void shape(std::size_t new_capacity, bool with_index) noexcept {
    capacity = static_cast<std::uint32_t>(new_capacity) & kMaxCapacity;
    indexed = with_index;
  }
  value_type* entries() noexcept { return reinterpret_cast<value_type*>(this + 1); }
  detail::HashSlots index() noexcept {
    return {reinterpret_cast<std::uint64_t*>(entries() + capacity), index_capacity(capacity)};
  }
  std::uint32_t hash_at(std::size_t i) noexcept { return hash32(entries()[i].first); }

  // Indexes entries [from, size); the index must hold exactly the ones before.
  void index_from(std::size_t from) noexcept {
    detail::HashSlots slots = index();
    if (from + 1 == size) return slots.insert(hash_at(from), from);
    slots.for_each_hashed(
        from, size, [&](std::size_t i) { return hash_at(i); },
        [&](std::size_t i, std::uint32_t hash) { slots.insert(hash, i); });
  }
  void reindex() noexcept {
    std::memset(reinterpret_cast<std::uint64_t*>(entries() + capacity), 0,
                index_capacity(capacity) * sizeof(std::uint64_t));
    index_from(0);
  }
};
static_assert(sizeof(Map) == 8 && sizeof(Map::value_type) == 32);

Map::Map(std::initializer_list<value_type> entries) {
  reserve(entries.size());
  for (const auto& [key, value] : entries) try_emplace(key, value);
}

Map::Map(const Map& other) {
  reserve(other.size());
  for (const auto& [key, value] : other) {
    new (rep_->entries() + rep_->size) value_type(key, value);
    commit_slot();
  }
}

Map& Map::operator=(const Map& other) {
  if (this != &other) *this = Map(other);
  return *this;
}

Map& Map::operator=(Map&& other) noexcept {
  // The old entries may hold `other`: take its block before freeing them.
  Map old;
  old.rep_ = std::exchange(rep_, std::exchange(other.rep_, nullptr));
  return *this;
}

void Map::clear() noexcept {
  if (rep_ == nullptr) return;
  std::destroy_n(rep_->entries(), rep_->size);
  Rep::destroy(std::exchange(rep_, nullptr));
}

std::size_t Map::size() const noexcept {
  return rep_ == nullptr ? 0 : rep_->size;
}

Map::value_type* Map::entries() const noexcept {
  return rep_ == nullptr ? nullptr : rep_->entries();
}

void Map::reserve(std::size_t n) {
  grow(n, n > kScanLimit);
}

// A failed allocation leaves the block as it was, so a failure leaves the mapping intact.
void Map::grow(std::size_t n, bool indexed) {
  if (n <= (rep_ == nullptr ? 0 : rep_->capacity)) return;
  if (n > Rep::kMaxCapacity) throw std::length_error("mapping too large");
  rep_ = rep_ == nullptr ? Rep::make(n, indexed) : Rep::reshaped(rep_, n, indexed);
  if (indexed) rep_->reindex();
}

// Indexes entries added without an index, in order, as insert_or_assign would have: a
// repeated key gives its value to the first entry of that key and is dropped. Entries only
// move towards the front, so each is indexed at its final place in one pass.
void Map::index_merging_repeats() {
  if (rep_ == nullptr) return;
  const std::size_t n = rep_->size;
  const bool indexed = rep_->capacity > kScanLimit;
  if (indexed) {
    rep_ = Rep::reshaped(rep_, rep_->capacity, true);
    rep_->size = 0;
    rep_->reindex();
  }
  value_type* items = rep_->entries();
  std::size_t kept = 0;
  const auto keep = [&](std::size_t i) {
    if (kept != i) std::memcpy(static_cast<void*>(items + kept), items + i, sizeof(value_type));
    ++kept;
  };
  const auto merge = [&](std::size_t first, std::size_t i) {
    items[first].second = std::move(items[i].second);
    std::destroy_at(items + i);
  };
  if (!indexed) {
    for (std::size_t i = 0; i < n; ++i) {
      rep_->size = static_cast<std::uint32_t>(kept);  // lookups see the kept entries only
      if (const std::size_t first = find_index(items[i].first); first != kept) {
        merge(first, i);
      } else {
        keep(i);
      }
    }
    rep_->size = static_cast<std::uint32_t>(kept);
    return;
  }
  const detail::HashSlots slots = rep_->index();
  slots.for_each_hashed(
      0, n, [&](std::size_t i) { return rep_->hash_at(i); },
      [&](std::size_t i, std::uint32_t hash) {
        std::uint64_t& slot = slots.find(
            hash, [&](std::size_t at) { return items[at].first == items[i].first.view(); });
        if (slot != 0) return merge(detail::HashSlots::position(slot), i);
        slot = detail::HashSlots::slot(hash, kept);
        keep(i);
      });
  rep_->size = static_cast<std::uint32_t>(kept);
}

std::size_t Map::find_index(std::string_view key) const noexcept {
  if (rep_ == nullptr) return 0;
  if (!rep_->indexed) {
    const value_type* items = rep_->entries();
    for (std::size_t i = 0; i < rep_->size; ++i) {
      if (items[i].first == key) return i;
    }
    return rep_->size;
  }
  return probe(rep_, key, hash32(key));
}

std::size_t Map::probe(const Rep* rep, std::string_view key, std::uint32_t hash) noexcept {
  Rep* r = const_cast<Rep*>(rep);
  const value_type* items = r->entries();
  const std::uint64_t slot =
      r->index().find(hash, [&](std::size_t at) { return items[at].first == key; });
  return slot == 0 ? rep->size : detail::HashSlots::position(slot);
}

std::pair<std::size_t, Map::KeyHash> Map::find_for_insert(std::string_view key) const noexcept {
  if (rep_ == nullptr || !rep_->indexed) return {find_index(key), KeyHash{0, false}};
  const std::uint32_t hash = hash32(key);
  return {probe(rep_, key, hash), KeyHash{hash, true}};
}

void Map::prefetch(std::string_view key) const noexcept {
  if (rep_ != nullptr && rep_->indexed) rep_->index().prefetch(hash32(key));
}

Map::iterator Map::find(std::string_view key) noexcept {
  return nth(find_index(key));
}

Map::const_iterator Map::find(std::string_view key) const noexcept {
  return nth(find_index(key));
}

Value& Map::at(std::string_view key) {
  return const_cast<Value&>(std::as_const(*this).at(key));
}

const Value& Map::at(std::string_view key) const {
  const std::size_t i = find_index(key);
  if (i == size()) throw std::out_of_range("no key '" + std::string(key) + "' in the mapping");
  return rep_->entries()[i].second;
}

Value& Map::operator[](std::string_view key) {
  return try_emplace(Text(key)).first.value();
}

Map::value_type* Map::append_slot(bool indexed) {
  const std::size_t n = size();
  if (rep_ == nullptr || n == rep_->capacity) {
    const std::size_t capacity = n < 2 ? 2 : n * 2;
    grow(capacity, indexed && capacity > kScanLimit);
  }
  return rep_->entries() + n;
}

void Map::commit_slot(KeyHash hash) noexcept {
  ++rep_->size;
  if (!rep_->indexed) return;
  const std::size_t last = rep_->size - 1;
  if (hash.known) return rep_->index().insert(hash.value, last);
  rep_->index_from(last);
}

std::pair<Map::iterator, bool> Map::emplace(Text key, Value value) {
  return try_emplace(std::move(key), std::move(value));
}

std::pair<Map::iterator, bool> Map::insert_or_assign(Text key, Value value) {
  auto [it, inserted] = try_emplace(std::move(key));
  it.value() = std::move(value);
  return {it, inserted};
}

std::size_t Map::erase(std::string_view key) {
  const std::size_t i = find_index(key);
  const std::size_t n = size();
  if (i == n) return 0;
  value_type* items = rep_->entries();
  std::destroy_at(items + i);
  std::memmove(static_cast<void*>(items + i), items + i + 1, (n - i - 1) * sizeof(value_type));
  --rep_->size;
  if (rep_->indexed) rep_->reindex();
  return 1;
}

bool operator==(const Map& a, const Map& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](auto& x, auto& y) {
           return x.first == y.first.view() && x.second == y.second;
         });
}

void MapBuilder::reserve(std::size_t n) {
  map_.grow(n, false);
}

void MapBuilder::add(Text key, Value value) {
  Map::value_type* slot = map_.append_slot(false);
  new (slot) Map::value_type(std::move(key), std::move(value));
  ++map_.rep_->size;
}

void MapBuilder::add(MapBuilder&& more) {
  const std::size_t n = map_.size();
  const std::size_t m = more.map_.size();
  if (m == 0) return;
  map_.grow(n + m, false);
  // Entries hold no pointer into themselves: their bytes move them.
  std::memcpy(static_cast<void*>(map_.rep_->entries() + n), more.map_.rep_->entries(),
              m * sizeof(Map::value_type));
  map_.rep_->size += static_cast<std::uint32_t>(m);
  more.map_.rep_->size = 0;
  more.map_.clear();
}

Map MapBuilder::finish() && {
  map_.index_merging_repeats();
  return std::move(map_);
}

}  // namespace orvelle
