#pragma once
/// The data model's mapping: insertion-ordered, O(1) lookup, one heap block per mapping.
/// Include "orvelle/value.hpp", which completes it with Value.
///
///   orvelle::Map m{{"w", 0.5}};
///   m["ports"] = orvelle::List{"o1", "o2"};
///   for (const auto& [key, value] : m) use(key, value);

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <string_view>
#include <type_traits>
#include <utility>

#include "orvelle/text.hpp"

namespace orvelle {

class Value;

/// Insertion-ordered mapping Text -> Value with O(1) lookup. Entries sit in one block in
/// insertion order; a hash index is added once a mapping outgrows a few entries, so the
/// millions of two- to four-entry mappings of a netlist cost one allocation each.
/// Iterators and references are invalidated by any insertion, as for std::vector.
class Map {
 public:
  using key_type = Text;
  using mapped_type = Value;
  using value_type = std::pair<const Text, Value>;

  template <bool Const>
  class Iterator {
   public:
    using iterator_category = std::bidirectional_iterator_tag;  // plus + and - on positions
    using value_type = Map::value_type;
    using difference_type = std::ptrdiff_t;
    using pointer = std::conditional_t<Const, const value_type*, value_type*>;
    using reference = std::conditional_t<Const, const value_type&, value_type&>;

    Iterator() noexcept = default;
    explicit Iterator(pointer entry) noexcept : entry_(entry) {}
    operator Iterator<true>() const noexcept { return Iterator<true>(entry_); }

    reference operator*() const noexcept { return *entry_; }
    pointer operator->() const noexcept { return entry_; }
    const Text& key() const noexcept { return entry_->first; }
    auto& value() const noexcept { return entry_->second; }

    Iterator& operator++() noexcept { return ++entry_, *this; }
    Iterator operator++(int) noexcept { return Iterator(entry_++); }
    Iterator& operator--() noexcept { return --entry_, *this; }
    Iterator operator--(int) noexcept { return Iterator(entry_--); }
    Iterator& operator+=(difference_type n) noexcept { return entry_ += n, *this; }
    Iterator operator+(difference_type n) const noexcept { return Iterator(entry_ + n); }
    difference_type operator-(const Iterator& other) const noexcept {
      return entry_ - other.entry_;
    }
    friend bool operator==(const Iterator& a, const Iterator& b) noexcept = default;

   private:
    pointer entry_ = nullptr;
  };
  using iterator = Iterator<false>;
  using const_iterator = Iterator<true>;

  Map() noexcept = default;
  Map(std::initializer_list<value_type> entries);
  Map(const Map& other);
  Map(Map&& other) noexcept : rep_(std::exchange(other.rep_, nullptr)) {}
  Map& operator=(const Map& other);
  Map& operator=(Map&& other) noexcept;
  ~Map() {
    if (rep_ != nullptr) clear();  // most mappings that die were moved from
  }

  std::size_t size() const noexcept;
  bool empty() const noexcept { return size() == 0; }
  void reserve(std::size_t n);
  void clear() noexcept;

  iterator begin() noexcept;
  iterator end() noexcept;
  const_iterator begin() const noexcept;
  const_iterator end() const noexcept;
  iterator nth(std::size_t i) noexcept;
  const_iterator nth(std::size_t i) const noexcept;

  iterator find(std::string_view key) noexcept;
  const_iterator find(std::string_view key) const noexcept;
  bool contains(std::string_view key) const noexcept { return find(key) != end(); }
  std::size_t count(std::string_view key) const noexcept { return contains(key) ? 1 : 0; }
  /// A hint that `key` will be looked up soon: in a large mapping, starts fetching the part
  /// of the index it will probe, so a loop can overlap its lookups' memory waits.
  void prefetch(std::string_view key) const noexcept;
  /// Throws std::out_of_range naming the key when it is absent.
  Value& at(std::string_view key);
  const Value& at(std::string_view key) const;
  /// The value of `key`, inserted as null at the end when absent.
  Value& operator[](std::string_view key);

  /// Inserts at the end unless `key` is present; never overwrites.
  template <class... Args>
  std::pair<iterator, bool> try_emplace(Text key, Args&&... args);
  std::pair<iterator, bool> emplace(Text key, Value value);
  /// Overwrites in place when `key` is present, else inserts at the end.
  std::pair<iterator, bool> insert_or_assign(Text key, Value value);
  /// Removes `key`, keeping the order of the others. Linear in the size.
  std::size_t erase(std::string_view key);

  /// Same entries in the same order.
  friend bool operator==(const Map& a, const Map& b);

 private:
  struct Rep;
  value_type* entries() const noexcept;
  // A key's index hash, when it was worked out already.
  struct KeyHash {
    std::uint32_t value;
    bool known;
  };
  std::size_t find_index(std::string_view key) const noexcept;  // size() when absent
  std::pair<std::size_t, KeyHash> find_for_insert(std::string_view key) const noexcept;
  static std::size_t probe(const Rep* rep, std::string_view key, std::uint32_t hash) noexcept;
  void grow(std::size_t n, bool indexed);
  value_type* append_slot(bool indexed = true);          // room for one more entry at the end
  void commit_slot(KeyHash hash = {0, false}) noexcept;  // counts and indexes the new entry
  void index_merging_repeats();

  friend class MapBuilder;

  Rep* rep_ = nullptr;
};

/// Fills a mapping as a run of insert_or_assign calls would, but indexes it once at the end:
/// the fast way to build a large mapping that nobody looks into while it grows.
///
///   orvelle::MapBuilder builder;
///   for (const auto& [from, to] : pairs) builder.add(from, to);
///   orvelle::Map connections = std::move(builder).finish();
class MapBuilder {
 public:
  void reserve(std::size_t n);
  void add(Text key, Value value);
  /// Adds the entries of `more` after these, as adding them one by one would.
  void add(MapBuilder&& more);
  Map finish() &&;

 private:
  Map map_;
};

// Map's inline parts need Value complete: value.hpp defines them.

}  // namespace orvelle
