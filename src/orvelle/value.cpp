#include "orvelle/value.hpp"

#include <yaml-cpp/yaml.h>
#include <nlohmann/json.hpp>

#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <ostream>
#include <regex>
#include <stdexcept>
#include <variant>

namespace orvelle {

// ---------------------------------------------------------------- Text

static_assert(sizeof(Text) == 16 && sizeof(Value) == 16 && sizeof(Map) == 8);
static_assert(std::endian::native == std::endian::little, "Text keeps its length below its tag");

namespace {

void* allocate(std::size_t bytes) {
  void* block = std::malloc(bytes);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

}  // namespace

void Text::put_on_heap(std::string_view s) {
  if (s.size() > kHeapSizeMask) throw std::length_error("text too long");
  char* heap = static_cast<char*>(allocate(s.size()));
  std::memcpy(heap, s.data(), s.size());
  const std::uint64_t size_and_tag = s.size() | (std::uint64_t{heap_tag} << 56);
  std::memcpy(bytes_, &heap, sizeof heap);
  std::memcpy(bytes_ + 8, &size_and_tag, sizeof size_and_tag);
}

Text& Text::operator=(const Text& other) {
  if (this != &other) *this = Text(other);
  return *this;
}

Text& Text::operator=(Text&& other) noexcept {
  if (this != &other) {
    release();
    std::memcpy(bytes_, other.bytes_, sizeof bytes_);
    other.set_inline_size(0);
  }
  return *this;
}

std::ostream& operator<<(std::ostream& out, const Text& text) {
  return out << text.view();
}

// ---------------------------------------------------------------- Large blocks

namespace detail {

void advise_huge_pages(const void* block, std::size_t bytes) noexcept {
  constexpr std::size_t kWorthIt = std::size_t{4} << 20;
  constexpr std::uintptr_t kHugePage = std::uintptr_t{1} << 21;
  if (bytes < kWorthIt) return;
  const auto start = reinterpret_cast<std::uintptr_t>(block);
  const std::uintptr_t from = (start + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t to = (start + bytes) & ~(kHugePage - 1);
  if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
}

}  // namespace detail

// ---------------------------------------------------------------- Map

namespace {

constexpr std::size_t kScanLimit = 8;  // mappings of up to this capacity have no index

std::size_t index_capacity(std::size_t capacity) noexcept {
  return std::bit_ceil(capacity * 2);
}

void index_insert(std::uint64_t* index, std::size_t mask, std::uint32_t hash,
                  std::size_t position) noexcept {
  std::size_t i = hash & mask;
  while (index[i] != 0) i = (i + 1) & mask;
  index[i] = (std::uint64_t{hash} << 32) | (position + 1);
}

}  // namespace

// One block: this header, the entries, then (past kScanLimit) an open-addressing index. A
// slot holds the key's 32-bit hash above the entry's position + 1 (0: empty), so most misses
// are rejected without touching the entries. Entries are relocated with realloc: a Text and
// a Value hold no pointer into themselves, so moving their bytes moves them.
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
  std::uint64_t* index() noexcept {
    return indexed ? reinterpret_cast<std::uint64_t*>(entries() + capacity) : nullptr;
  }
  std::size_t mask() const noexcept { return index_capacity(capacity) - 1; }

  // Indexes entries [from, size); the index must hold exactly the ones before. A large index
  // is mostly out of cache, so the slot of the entry a few places ahead is fetched early.
  void index_from(std::size_t from) noexcept {
    std::uint64_t* slots = index();
    const std::size_t m = mask();
    if (from + 1 == size) return index_insert(slots, m, hash32(entries()[from].first), from);
    constexpr std::size_t kAhead = 8;
    std::array<std::uint32_t, kAhead> hashes{};
    const auto fetch = [&](std::size_t i) {
      hashes[i % kAhead] = hash32(entries()[i].first);
      __builtin_prefetch(slots + (hashes[i % kAhead] & m));
    };
    for (std::size_t i = from; i < size && i < from + kAhead; ++i) fetch(i);
    for (std::size_t i = from; i < size; ++i) {
      const std::uint32_t hash = hashes[i % kAhead];
      if (i + kAhead < size) fetch(i + kAhead);
      index_insert(slots, m, hash, i);
    }
  }
  void reindex() noexcept {
    std::memset(index(), 0, index_capacity(capacity) * sizeof(std::uint64_t));
    index_from(0);
  }
};
static_assert(sizeof(Map::value_type) == 32);

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
  if (rep_->capacity > kScanLimit) {
    rep_ = Rep::reshaped(rep_, rep_->capacity, true);
    rep_->size = 0;
    rep_->reindex();
  }
  value_type* items = rep_->entries();
  std::uint64_t* slots = rep_->index();
  std::size_t kept = 0;
  const auto keep = [&](std::size_t i) {
    if (kept != i) std::memcpy(static_cast<void*>(items + kept), items + i, sizeof(value_type));
    ++kept;
  };
  const auto merge = [&](std::size_t first, std::size_t i) {
    items[first].second = std::move(items[i].second);
    std::destroy_at(items + i);
  };
  if (slots == nullptr) {
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
  // A large index is mostly out of cache: each key is hashed once, a few places ahead, and
  // its slot fetched then.
  const std::size_t mask = rep_->mask();
  constexpr std::size_t kAhead = 8;
  std::array<std::uint32_t, kAhead> hashes{};
  const auto fetch = [&](std::size_t i) {
    hashes[i % kAhead] = hash32(items[i].first);
    __builtin_prefetch(slots + (hashes[i % kAhead] & mask));
  };
  for (std::size_t i = 0; i < n && i < kAhead; ++i) fetch(i);
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t hash = hashes[i % kAhead];
    if (i + kAhead < n) fetch(i + kAhead);
    std::size_t j = hash & mask;
    for (; slots[j] != 0; j = (j + 1) & mask) {
      const std::size_t position = (slots[j] & UINT32_MAX) - 1;
      if ((slots[j] >> 32) == hash && items[position].first == items[i].first.view()) break;
    }
    if (slots[j] != 0) {
      merge((slots[j] & UINT32_MAX) - 1, i);
      continue;
    }
    slots[j] = (std::uint64_t{hash} << 32) | (kept + 1);
    keep(i);
  }
  rep_->size = static_cast<std::uint32_t>(kept);
}

std::size_t Map::find_index(std::string_view key) const noexcept {
  if (rep_ == nullptr) return 0;
  const value_type* items = rep_->entries();
  const std::uint64_t* index = rep_->index();
  if (index == nullptr) {
    for (std::size_t i = 0; i < rep_->size; ++i) {
      if (items[i].first == key) return i;
    }
    return rep_->size;
  }
  return probe(rep_, key, hash32(key));
}

std::size_t Map::probe(const Rep* rep, std::string_view key, std::uint32_t hash) noexcept {
  const value_type* items = const_cast<Rep*>(rep)->entries();
  const std::uint64_t* index = const_cast<Rep*>(rep)->index();
  const std::size_t mask = rep->mask();
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const std::uint64_t slot = index[i];
    if (slot == 0) return rep->size;
    const std::size_t position = (slot & UINT32_MAX) - 1;
    if ((slot >> 32) == hash && items[position].first == key) return position;
  }
}

std::pair<std::size_t, Map::KeyHash> Map::find_for_insert(std::string_view key) const noexcept {
  if (rep_ == nullptr || !rep_->indexed) return {find_index(key), KeyHash{0, false}};
  const std::uint32_t hash = hash32(key);
  return {probe(rep_, key, hash), KeyHash{hash, true}};
}

void Map::prefetch(std::string_view key) const noexcept {
  if (rep_ != nullptr && rep_->indexed)
    __builtin_prefetch(rep_->index() + (hash32(key) & rep_->mask()));
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
  if (hash.known) return index_insert(rep_->index(), rep_->mask(), hash.value, last);
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

// ---------------------------------------------------------------- MapPool

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

// ---------------------------------------------------------------- Value

Value::Value(List list) {
  put(Kind::list, new List(std::move(list)));
}

Value::Value(Map map) noexcept {
  new (bytes_) Map(std::move(map));
  set_tag(Kind::map);
}

Value::Value(const Value& other) {
  switch (other.kind()) {
    case Kind::text:
      new (bytes_) Text(*other.text_ptr());
      break;
    case Kind::list:
      put(Kind::list, new List(*other.list_ptr()));
      break;
    case Kind::map:
      new (bytes_) Map(*other.map_ptr());
      set_tag(Kind::map);
      break;
    default:
      std::memcpy(bytes_, other.bytes_, sizeof bytes_);
  }
}

Value& Value::operator=(const Value& other) {
  if (this != &other) *this = Value(other);
  return *this;
}

Value& Value::operator=(Value&& other) noexcept {
  // The old value may hold `other`: take its bytes before releasing the old one.
  alignas(8) char taken[sizeof bytes_];
  std::memcpy(taken, other.bytes_, sizeof taken);
  other.set_tag(Kind::null);
  release();
  std::memcpy(bytes_, taken, sizeof bytes_);
  return *this;
}

static_assert(Value::Kind::map > Value::Kind::list && Value::Kind::list > Value::Kind::text,
              "only lists and mappings among the kinds past text own memory");

void Value::release() noexcept {
  switch (kind()) {
    case Kind::text:
      std::destroy_at(const_cast<Text*>(text_ptr()));
      break;
    case Kind::list:
      delete list_ptr();
      break;
    case Kind::map:
      std::destroy_at(const_cast<Map*>(map_ptr()));
      break;
    default:
      break;
  }
}

void Value::check(Kind kind) const {
  if (this->kind() != kind) throw std::bad_variant_access();
}

const Text* Value::text_ptr() const noexcept {
  return kind() == Kind::text ? std::launder(reinterpret_cast<const Text*>(bytes_)) : nullptr;
}

List* Value::list_ptr() const noexcept {
  if (kind() != Kind::list) return nullptr;
  List* list;
  std::memcpy(&list, bytes_, sizeof list);
  return list;
}

const Map* Value::map_ptr() const noexcept {
  return kind() == Kind::map ? std::launder(reinterpret_cast<const Map*>(bytes_)) : nullptr;
}

const Text& Value::as_text() const {
  check(Kind::text);
  return *text_ptr();
}

const List& Value::as_list() const {
  check(Kind::list);
  return *list_ptr();
}

const Map& Value::as_map() const {
  check(Kind::map);
  return *map_ptr();
}

bool operator==(const Value& a, const Value& b) {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case Value::Kind::null:
      return true;
    case Value::Kind::boolean:
      return a.as_bool() == b.as_bool();
    case Value::Kind::integer:
      return a.as_int() == b.as_int();
    case Value::Kind::floating:
      return a.as_float() == b.as_float();
    case Value::Kind::text:
      return a.as_string() == b.as_string();
    case Value::Kind::list:
      return a.as_list() == b.as_list();
    case Value::Kind::map:
      return a.as_map() == b.as_map();
  }
  return false;
}

std::string_view kind_name(Value::Kind kind) noexcept {
  static constexpr std::array<std::string_view, 7> names = {"null", "bool", "int",    "float",
                                                            "text", "list", "mapping"};
  return names[static_cast<std::size_t>(kind)];
}

namespace {

// Length of the UTF-8 sequence starting at text[i], or 0 when it is malformed.
std::size_t utf8_sequence_length(std::string_view text, std::size_t i) noexcept {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t len;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    len = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    len = 3;
    if (lead == 0xE0) lo = 0xA0;  // overlong
    if (lead == 0xED) hi = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    len = 4;
    if (lead == 0xF0) lo = 0x90;  // overlong
    if (lead == 0xF4) hi = 0x8F;  // past U+10FFFF
  } else {
    return 0;
  }
  if (i + len > text.size()) return 0;
  if (byte(i + 1) < lo || byte(i + 1) > hi) return 0;
  for (std::size_t k = 2; k < len; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
  }
  return len;
}

}  // namespace

bool is_valid_utf8(std::string_view text) noexcept {
  std::size_t i = 0;
  while (i < text.size()) {
    // Netlists are almost all ASCII: skip eight plain bytes at a time.
    if (i + 8 <= text.size()) {
      std::uint64_t chunk;
      std::memcpy(&chunk, text.data() + i, 8);
      if ((chunk & 0x8080808080808080ULL) == 0) {
        i += 8;
        continue;
      }
    }
    const std::size_t len = utf8_sequence_length(text, i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

std::string format_float(double d) {
  if (std::isnan(d)) return "nan";
  if (std::isinf(d)) return d < 0 ? "-inf" : "inf";
  // Shortest round-trip digits, then laid out the way a scripting language's repr does:
  // positional for exponents in [-4, 16), scientific with a signed two-digit exponent else.
  std::array<char, 64> buf;
  auto [end, ec] =
      std::to_chars(buf.data(), buf.data() + buf.size(), d, std::chars_format::scientific);
  std::string_view sci(buf.data(), static_cast<std::size_t>(end - buf.data()));
  const auto e_pos = sci.find('e');
  std::string_view mantissa = sci.substr(0, e_pos);
  int exponent = 0;
  std::from_chars(sci.data() + e_pos + 1 + (sci[e_pos + 1] == '+'), sci.data() + sci.size(),
                  exponent);
  std::string sign;
  if (mantissa.front() == '-') {
    sign = "-";
    mantissa.remove_prefix(1);
  }
  std::string digits;
  for (char c : mantissa) {
    if (c != '.') digits += c;
  }
  if (exponent < -4 || exponent >= 16) {
    std::string out = sign + digits.substr(0, 1);
    if (digits.size() > 1) out += "." + digits.substr(1);
    const int magnitude = std::abs(exponent);
    out += exponent < 0 ? "e-" : "e+";
    if (magnitude < 10) out += '0';
    return out + std::to_string(magnitude);
  }
  if (exponent < 0) return sign + "0." + std::string(-exponent - 1, '0') + digits;
  const auto int_len = static_cast<std::size_t>(exponent) + 1;
  if (digits.size() <= int_len)
    return sign + digits + std::string(int_len - digits.size(), '0') + ".0";
  return sign + digits.substr(0, int_len) + "." + digits.substr(int_len);
}

namespace {

void require_utf8(std::string_view text) {
  if (!is_valid_utf8(text)) throw std::invalid_argument("text is not valid UTF-8");
}

// ---------------------------------------------------------------- JSON writer

void append_json_string(std::string& out, std::string_view s) {
  require_utf8(s);
  static constexpr char hex[] = "0123456789abcdef";
  out += '"';
  // Most texts need no escape: copy them whole.
  const bool plain = std::none_of(s.begin(), s.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == '"' || c == '\\';
  });
  if (plain) {
    out += s;
    out += '"';
    return;
  }
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        if (u < 0x20) {
          out += "\\u00";
          out += hex[u >> 4];
          out += hex[u & 0xF];
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

void append_json(std::string& out, const Value& v);

void append_json_map(std::string& out, const Map& map) {
  out += '{';
  bool first = true;
  for (const auto& [key, item] : map) {
    if (!first) out += ',';
    first = false;
    append_json_string(out, key);
    out += ':';
    append_json(out, item);
  }
  out += '}';
}

void append_json(std::string& out, const Value& v) {
  switch (v.kind()) {
    case Value::Kind::null:
      out += "null";
      break;
    case Value::Kind::boolean:
      out += v.as_bool() ? "true" : "false";
      break;
    case Value::Kind::integer:
      out += std::to_string(v.as_int());
      break;
    case Value::Kind::floating:
      out += std::isfinite(v.as_float()) ? format_float(v.as_float()) : "null";
      break;
    case Value::Kind::text:
      append_json_string(out, v.as_string());
      break;
    case Value::Kind::list: {
      out += '[';
      bool first = true;
      for (const auto& item : v.as_list()) {
        if (!first) out += ',';
        first = false;
        append_json(out, item);
      }
      out += ']';
      break;
    }
    case Value::Kind::map:
      append_json_map(out, v.as_map());
      break;
  }
}

// ---------------------------------------------------------------- YAML writer

// Plain scalars that a YAML 1.1 or 1.2 reader would resolve to null, a bool or a number.
// Anything that starts like a number is quoted: a few harmless extra quotes buy safety
// against every numeric spelling (0x1F, 1_000, 1:20, .5).
bool reads_as_other_type(std::string_view s) {
  static constexpr std::array<std::string_view, 31> words = {
      "~",  "null", "Null", "NULL", "y",    "Y",    "yes",   "Yes",   "YES",   "n",  "N",
      "no", "No",   "NO",   "true", "True", "TRUE", "false", "False", "FALSE", "on", "On",
      "ON", "off",  "Off",  "OFF",  ".nan", ".NaN", ".NAN",  "<<",    "="};
  const std::size_t i = (s[0] == '+' || s[0] == '-') ? 1 : 0;
  const std::string_view unsigned_part = s.substr(i);
  if (unsigned_part == ".inf" || unsigned_part == ".Inf" || unsigned_part == ".INF") return true;
  for (std::string_view word : words) {
    if (s == word) return true;
  }
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (i < s.size() && digit(s[i])) return true;
  return i + 1 < s.size() && s[i] == '.' && digit(s[i + 1]);
}

bool needs_double_quotes(std::string_view s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto u = static_cast<unsigned char>(s[i]);
    if (u < 0x20 || u == 0x7F) return true;
    // U+0085, U+2028, U+2029 and U+FEFF are line breaks or invisible to a YAML reader.
    if (u == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0x85) return true;
    if (u == 0xE2 && s.substr(i, 3) >= "\xE2\x80\xA8" && s.substr(i, 3) <= "\xE2\x80\xA9")
      return true;
    if (u == 0xEF && s.substr(i, 3) == "\xEF\xBB\xBF") return true;
  }
  return false;
}

bool needs_quotes(std::string_view s) {
  if (s.empty() || reads_as_other_type(s)) return true;
  static constexpr std::string_view indicators = "-?:,[]{}#&*!|>'\"%@` \t";
  if (indicators.find(s.front()) != std::string_view::npos) {
    // "-x", "?x" and ":x" are plain; "- x", "-" alone and the others are not.
    const bool dash_like = s.front() == '-' || s.front() == '?' || s.front() == ':';
    if (!dash_like || s.size() == 1 || s[1] == ' ') return true;
  }
  if (s.back() == ' ' || s.back() == ':') return true;
  return s.find(": ") != std::string_view::npos || s.find(" #") != std::string_view::npos;
}

void append_double_quoted(std::string& out, std::string_view s) {
  static constexpr char hex[] = "0123456789ABCDEF";
  out += '"';
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto u = static_cast<unsigned char>(s[i]);
    if (s[i] == '"' || s[i] == '\\') {
      out += '\\';
      out += s[i];
    } else if (s[i] == '\n') {
      out += "\\n";
    } else if (s[i] == '\t') {
      out += "\\t";
    } else if (u < 0x20 || u == 0x7F) {
      out += "\\x";
      out += hex[u >> 4];
      out += hex[u & 0xF];
    } else if (u == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0x85) {
      out += "\\N";
      ++i;
    } else if (s.substr(i, 3) == "\xE2\x80\xA8" || s.substr(i, 3) == "\xE2\x80\xA9") {
      out += s[i + 2] == '\xA8' ? "\\L" : "\\P";
      i += 2;
    } else if (s.substr(i, 3) == "\xEF\xBB\xBF") {
      out += "\\uFEFF";
      i += 2;
    } else {
      out += s[i];
    }
  }
  out += '"';
}

void append_yaml_string(std::string& out, std::string_view s) {
  require_utf8(s);
  if (needs_double_quotes(s)) return append_double_quoted(out, s);
  if (!needs_quotes(s)) {
    out += s;
    return;
  }
  out += '\'';
  for (char c : s) {
    if (c == '\'') out += '\'';
    out += c;
  }
  out += '\'';
}

std::string yaml_float(double d) {
  if (std::isnan(d)) return ".nan";
  if (std::isinf(d)) return d < 0 ? "-.inf" : ".inf";
  std::string text = format_float(d);
  // YAML 1.1 reads a float only with a point in the mantissa: 1e-08 must become 1.0e-08.
  if (text.find('.') == std::string::npos) text.insert(text.find('e'), ".0");
  return text;
}

bool is_empty_collection(const Value& v) {
  return (v.is_list() && v.as_list().empty()) || (v.is_map() && v.as_map().empty());
}

void append_yaml_block(std::string& out, const Value& v, int indent);

void append_yaml_scalar(std::string& out, const Value& v) {
  switch (v.kind()) {
    case Value::Kind::null:
      out += "null";
      break;
    case Value::Kind::boolean:
      out += v.as_bool() ? "true" : "false";
      break;
    case Value::Kind::integer:
      out += std::to_string(v.as_int());
      break;
    case Value::Kind::floating:
      out += yaml_float(v.as_float());
      break;
    case Value::Kind::text:
      append_yaml_string(out, v.as_string());
      break;
    case Value::Kind::list:
      out += "[]";
      break;
    case Value::Kind::map:
      out += "{}";
      break;
  }
}

// Writes what follows a "key:" or "-" marker: a scalar on the same line, else a nested block.
void append_yaml_child(std::string& out, const Value& v, int indent) {
  if ((v.is_map() || v.is_list()) && !is_empty_collection(v)) {
    out += '\n';
    append_yaml_block(out, v, indent);
  } else {
    out += ' ';
    append_yaml_scalar(out, v);
    out += '\n';
  }
}

constexpr std::size_t max_implicit_key = 1000;  // bytes; YAML's limit is 1024 characters

// A non-empty mapping as a block.
void append_yaml_map(std::string& out, const Map& map, int indent) {
  const std::string pad(static_cast<std::size_t>(indent), ' ');
  for (const auto& [key, item] : map) {
    out += pad;
    const std::size_t key_start = out.size();
    append_yaml_string(out, key);
    // A plain "key:" may be at most 1024 characters long; a longer key must be explicit:
    // "? key" on its own line, then ": value".
    if (out.size() - key_start > max_implicit_key) {
      out.insert(key_start, "? ");
      out += '\n';
      out += pad;
    }
    out += ':';
    append_yaml_child(out, item, indent + 2);
  }
}

void append_yaml_block(std::string& out, const Value& v, int indent) {
  const std::string pad(static_cast<std::size_t>(indent), ' ');
  if (v.is_map() && !v.as_map().empty()) {
    append_yaml_map(out, v.as_map(), indent);
  } else if (v.is_list() && !v.as_list().empty()) {
    for (const auto& item : v.as_list()) {
      out += pad;
      out += '-';
      append_yaml_child(out, item, indent + 2);
    }
  } else {
    out += pad;
    append_yaml_scalar(out, v);
    out += '\n';
  }
}

// ---------------------------------------------------------------- readers

// Builds a Value straight from the parser's events: objects keep their key order and go
// into the hashed Map (a parsed DOM would sort them or look keys up linearly).
class ValueBuilder : public nlohmann::json_sax<nlohmann::json> {
 public:
  // Deeper documents are refused: destroying or writing them would recurse that deep.
  static constexpr std::size_t max_depth = 1'000;

  Value result() { return std::move(root_); }

  bool null() override { return add(nullptr); }
  bool boolean(bool b) override { return add(b); }
  bool number_integer(number_integer_t i) override { return add(i); }
  bool number_unsigned(number_unsigned_t u) override {
    if (u <= static_cast<std::uint64_t>(INT64_MAX)) return add(static_cast<std::int64_t>(u));
    return add(static_cast<double>(u));
  }
  bool number_float(number_float_t d, const string_t&) override { return add(d); }
  bool string(string_t& s) override { return add(std::move(s)); }
  bool binary(binary_t&) override { return add(nullptr); }
  bool key(string_t& k) override {
    key_ = std::move(k);
    return true;
  }
  bool start_object(std::size_t) override { return open(Map{}); }
  bool start_array(std::size_t) override { return open(List{}); }
  bool end_object() override { return close(); }
  bool end_array() override { return close(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
    throw std::invalid_argument(e.what());
  }

 private:
  Value* add(Value v) {
    if (open_.empty()) {
      root_ = std::move(v);
      return &root_;
    }
    Value& parent = *open_.back();
    if (parent.is_list()) return &parent.as_list().emplace_back(std::move(v));
    auto [it, inserted] = parent.as_map().insert_or_assign(std::move(key_), std::move(v));
    return &it.value();
  }
  bool open(Value container) {
    if (open_.size() >= max_depth)
      throw std::invalid_argument("JSON nested deeper than " + std::to_string(max_depth) +
                                  " levels");
    open_.push_back(add(std::move(container)));
    return true;
  }
  bool close() {
    open_.pop_back();
    return true;
  }

  Value root_;
  std::string key_;
  std::vector<Value*> open_;  // containers being filled, innermost last
};

Value resolve_plain_scalar(const std::string& s) {
  static const std::regex null_re("~|null|Null|NULL|", std::regex::optimize);
  static const std::regex true_re("true|True|TRUE", std::regex::optimize);
  static const std::regex false_re("false|False|FALSE", std::regex::optimize);
  static const std::regex int_re("[-+]?[0-9]+", std::regex::optimize);
  static const std::regex float_re(
      "[-+]?(\\.[0-9]+|[0-9]+(\\.[0-9]*)?)([eE][-+]?[0-9]+)?|[-+]?\\.(inf|Inf|INF)|\\.(nan|NaN|"
      "NAN)",
      std::regex::optimize);
  if (std::regex_match(s, null_re)) return nullptr;
  if (std::regex_match(s, true_re)) return true;
  if (std::regex_match(s, false_re)) return false;
  if (std::regex_match(s, int_re)) {
    std::int64_t i = 0;
    const char* first = s.data() + (s.front() == '+');
    if (std::from_chars(first, s.data() + s.size(), i).ec == std::errc{}) return i;
  }
  if (std::regex_match(s, float_re)) {
    if (s.find("inf") != std::string::npos || s.find("Inf") != std::string::npos ||
        s.find("INF") != std::string::npos)
      return s.front() == '-' ? -HUGE_VAL : HUGE_VAL;
    if (s.find('.') == 0 && s.size() > 1 && std::isalpha(static_cast<unsigned char>(s[1])))
      return std::nan("");
    return std::strtod(s.c_str(), nullptr);
  }
  return s;
}

Value from_yaml_node(const YAML::Node& node) {
  switch (node.Type()) {
    case YAML::NodeType::Scalar:
      // A quoted scalar carries the non-specific tag "!": it is text whatever it spells.
      if (node.Tag() == "!") return node.Scalar();
      return resolve_plain_scalar(node.Scalar());
    case YAML::NodeType::Sequence: {
      List list;
      for (const auto& item : node) list.push_back(from_yaml_node(item));
      return list;
    }
    case YAML::NodeType::Map: {
      Map map;
      for (const auto& item : node) map[item.first.as<std::string>()] = from_yaml_node(item.second);
      return map;
    }
    default:
      return nullptr;
  }
}

}  // namespace

std::string to_json(const Value& value) {
  std::string out;
  append_json(out, value);
  return out;
}

std::string to_yaml(const Value& value) {
  std::string out;
  append_yaml_block(out, value, 0);
  return out;
}

std::string to_json(const Map& map) {
  std::string out;
  append_json_map(out, map);
  return out;
}

std::string to_yaml(const Map& map) {
  if (map.empty()) return "{}\n";
  std::string out;
  append_yaml_map(out, map, 0);
  return out;
}

Value from_json(std::string_view text) {
  try {
    ValueBuilder builder;
    nlohmann::json::sax_parse(text, &builder);
    return builder.result();
  } catch (const nlohmann::json::exception& e) {
    throw std::invalid_argument(e.what());
  }
}

Value from_yaml(std::string_view text) {
  try {
    return from_yaml_node(YAML::Load(std::string(text)));
  } catch (const YAML::Exception& e) {
    throw std::invalid_argument(e.what());
  }
}

}  // namespace orvelle
