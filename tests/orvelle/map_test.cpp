#include "orvelle/map.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "orvelle/codec/json.hpp"
#include "orvelle/value.hpp"

namespace orvelle {
namespace {

TEST(Map, FindsEveryKeyInInsertionOrderAtAnySize) {
  for (const int n : {0, 1, 8, 9, 100, 5000}) {
    Map map;
    const auto key = [](int i) {
      return std::to_string(i) + (i % 3 ? "k" : " is a long key that lives on the heap");
    };
    for (int i = 0; i < n; ++i) EXPECT_TRUE(map.emplace(key(i), i).second);
    ASSERT_EQ(map.size(), static_cast<std::size_t>(n));
    int i = 0;
    for (const auto& [k, v] : map) {
      ASSERT_EQ(k, key(i)) << n;
      ASSERT_EQ(v, Value(i++));
    }
    for (int j = 0; j < n; ++j) ASSERT_EQ(map.at(key(j)), Value(j)) << n << " " << j;
    EXPECT_FALSE(map.contains("absent"));
    if (n > 0) {
      EXPECT_FALSE(map.emplace(key(0), "again").second);
      EXPECT_EQ(map.at(key(0)), Value(0));
    }

    const Map copy = map;
    EXPECT_EQ(copy, map);
    for (int j = 0; j < n; j += 2) ASSERT_EQ(map.erase(key(j)), 1u);
    EXPECT_EQ(map.erase("absent"), 0u);
    for (int j = 0; j < n; ++j) ASSERT_EQ(map.contains(key(j)), j % 2 == 1) << n << " " << j;
    if (n > 1) {
      EXPECT_EQ(map.begin()->first, key(1));
    }
    EXPECT_EQ(copy.size(), static_cast<std::size_t>(n));
  }
}

TEST(Map, OverwritesInPlaceAndNamesMissingKeys) {
  Map map{{"a", 1}, {"b", 2}, {"a", 3}};
  EXPECT_EQ(map, (Map{{"a", 1}, {"b", 2}}));
  map.insert_or_assign("a", 4);
  map["c"] = 5;
  EXPECT_EQ(to_json(map), R"({"a":4,"b":2,"c":5})");
  try {
    map.at("zz");
    FAIL();
  } catch (const std::out_of_range& e) {
    EXPECT_NE(std::string(e.what()).find("'zz'"), std::string::npos);
  }
  // A mapping replaced by a mapping it holds.
  map["inner"] = Map{{"x", 1}};
  map = std::move(map.at("inner").as_map());
  EXPECT_EQ(map, (Map{{"x", 1}}));
}

TEST(MapBuilder, MatchesInsertOrAssign) {
  for (const int n : {0, 3, 8, 9, 2000}) {
    std::vector<std::string> keys;  // some repeated
    for (int i = 0; i < n; ++i) keys.push_back(std::to_string(i % 7 == 3 ? i / 2 : i) += 'k');
    MapBuilder builder;
    Map expected;
    for (int i = 0; i < n; ++i) {
      builder.add(keys[i], i);
      expected.insert_or_assign(keys[i], i);
    }
    const Map built = std::move(builder).finish();
    ASSERT_EQ(built, expected) << n;
    for (const auto& [key, value] : expected) ASSERT_EQ(built.at(key), value) << key;

    // Built in two halves and joined, repeats across the halves included.
    MapBuilder first;
    MapBuilder second;
    for (int i = 0; i < n; ++i) (i < n / 2 ? first : second).add(keys[i], i);
    first.add(std::move(second));
    first.add(MapBuilder{});
    ASSERT_EQ(std::move(first).finish(), expected) << n;
  }
}

}  // namespace
}  // namespace orvelle
