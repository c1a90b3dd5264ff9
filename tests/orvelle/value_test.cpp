#include "orvelle/value.hpp"

#include <gtest/gtest.h>

#include "orvelle/codec/json.hpp"

namespace orvelle {
namespace {

TEST(Value, IntegersAndFloatsStayDistinct) {
  EXPECT_NE(Value(2), Value(2.0));
  EXPECT_EQ(Value(2), Value(std::int64_t{2}));
  EXPECT_TRUE(Value(true).is_bool());
  EXPECT_TRUE(Value("x").is_string());
}

TEST(Value, MapEqualityIsOrderSensitive) {
  Map ab{{"a", 1}, {"b", 2}};
  Map ba{{"b", 2}, {"a", 1}};
  EXPECT_NE(Value(ab), Value(ba));
}

TEST(Value, MappingsCopyDeeplyAndSurviveMovesAndSelfAssignment) {
  Value original(Map{{"inner", Map{{"w", 1}}}});
  Value copy = original;
  copy.as_map()["inner"].as_map()["w"] = 2;
  EXPECT_EQ(original.as_map().at("inner").as_map().at("w"), Value(1));

  // A mapping replaced by one of its own entries: the entry must outlive the old mapping.
  original = std::move(original.as_map()["inner"]);
  EXPECT_EQ(original, Value(Map{{"w", 1}}));
  original = original;
  EXPECT_EQ(original, Value(Map{{"w", 1}}));

  // An empty mapping, however it came to be, is still a mapping and equals any other.
  Value empty(Map{});
  const Value& view = empty;
  EXPECT_TRUE(view.is_map());
  EXPECT_TRUE(view.as_map().empty());
  EXPECT_NE(view.get_if<Map>(), nullptr);
  copy.as_map().clear();
  EXPECT_EQ(copy, empty);
  empty.as_map()["k"] = "v";
  EXPECT_EQ(to_json(empty), R"({"k":"v"})");
  EXPECT_EQ(Value(1).get_if<Map>(), nullptr);
}

TEST(Value, AccessorsCheckTheKind) {
  const Value list(List{1, "two", Map{{"k", 2.5}}});
  Value copy = list;
  copy.as_list()[2].as_map()["k"] = 3.5;
  EXPECT_EQ(list.as_list()[2].as_map().at("k"), Value(2.5));
  EXPECT_EQ(*Value(7).get_if<std::int64_t>(), 7);
  EXPECT_EQ(*Value(0.5).get_if<double>(), 0.5);
  EXPECT_EQ(Value(7).get_if<double>(), nullptr);
  EXPECT_EQ(Value("a").get_if<Text>()->view(), "a");
  EXPECT_THROW(Value(1).as_float(), std::bad_variant_access);
  EXPECT_THROW(Value(nullptr).as_string(), std::bad_variant_access);
  EXPECT_THROW(Value("x").as_map(), std::bad_variant_access);
}

}  // namespace
}  // namespace orvelle
