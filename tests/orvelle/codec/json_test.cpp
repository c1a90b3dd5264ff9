#include "orvelle/codec/json.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace orvelle {
namespace {

TEST(FormatFloat, MatchesShortestRepr) {
  const std::pair<double, const char*> cases[] = {
      {2.0, "2.0"},         {0.5, "0.5"},
      {1e-08, "1e-08"},     {0.0001, "0.0001"},
      {1e-05, "1e-05"},     {100000.0, "100000.0"},
      {1e16, "1e+16"},      {1.5e16, "1.5e+16"},
      {-0.002, "-0.002"},   {0.1 + 0.2, "0.30000000000000004"},
      {0.0, "0.0"},         {-0.0, "-0.0"},
      {123.456, "123.456"}, {1e300, "1e+300"},
      {5e-324, "5e-324"},   {1234567890123456.0, "1234567890123456.0"}};
  for (const auto& [d, text] : cases) EXPECT_EQ(format_float(d), text) << "for " << text;
}

TEST(Json, WritesCompactTextInOrder) {
  Map inner{{"w", 0.5}, {"n", 3}, {"ok", true}, {"none", nullptr}};
  Map top{{"z", Value(inner)}, {"a", List{1, 2.0, "t"}}};
  EXPECT_EQ(to_json(top), R"({"z":{"w":0.5,"n":3,"ok":true,"none":null},"a":[1,2.0,"t"]})");
}

TEST(Json, EscapesControlCharactersAndKeepsUtf8) {
  EXPECT_EQ(to_json(Value("a\"b\\c\n\x01\xC3\xA9")), "\"a\\\"b\\\\c\\n\\u0001\xC3\xA9\"");
  EXPECT_EQ(to_json(Value(std::numeric_limits<double>::infinity())), "null");
  EXPECT_THROW(to_json(Value("\xFF")), std::invalid_argument);
}

TEST(Json, RoundTripsThroughReader) {
  Value v = Map{{"a", List{1, 2.5, "x", nullptr, false}}, {"b", Map{}}, {"c", List{}}};
  EXPECT_EQ(from_json(to_json(v)), v);
  EXPECT_THROW(from_json("{"), std::invalid_argument);
}

TEST(Json, ReaderKeepsKeyOrderAndRefusesRunawayNesting) {
  EXPECT_EQ(from_json(R"({"z":1,"a":{"y":2,"b":3},"z":4})"),
            Value(Map{{"z", 4}, {"a", Map{{"y", 2}, {"b", 3}}}}));
  EXPECT_EQ(from_json("18446744073709551615"), Value(18446744073709551615.0));
  const std::string deep = std::string(1'001, '[') + std::string(1'001, ']');
  EXPECT_NO_THROW(from_json(std::string(1'000, '[') + std::string(1'000, ']')));
  EXPECT_THROW(from_json(deep), std::invalid_argument);
}

}  // namespace
}  // namespace orvelle
