#include "orvelle/value.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

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

TEST(Utf8, AcceptsWellFormedRejectsMalformed) {
  EXPECT_TRUE(is_valid_utf8("plain ascii text, long enough for the fast path"));
  EXPECT_TRUE(is_valid_utf8("\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"));
  const char* bad[] = {"\xC3", "\xC0\xAF",    "\xED\xA0\x80", "\xF4\x90\x80\x80",
                       "\xFF", "abcdefgh\x80"};
  for (const char* text : bad) EXPECT_FALSE(is_valid_utf8(text)) << "for " << text;
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

TEST(Yaml, WritesBlockStyle) {
  Map settings{{"length", 10.0}, {"name", "a b"}};
  Map inst{{"component", "mmi1x2"}, {"settings", settings}};
  Map top{{"instances", Map{{"u1", inst}}}, {"ports", Map{}}, {"list", List{1, Map{{"k", 1}}}}};
  EXPECT_EQ(to_yaml(top),
            "instances:\n"
            "  u1:\n"
            "    component: mmi1x2\n"
            "    settings:\n"
            "      length: 10.0\n"
            "      name: a b\n"
            "ports: {}\n"
            "list:\n"
            "  - 1\n"
            "  -\n"
            "    k: 1\n");
}

TEST(Yaml, QuotesTextsThatWouldReadAsAnotherType) {
  const std::pair<const char*, const char*> cases[] = {
      {"1.5", "'1.5'\n"},     {"true", "'true'\n"}, {"null", "'null'\n"},  {"", "''\n"},
      {"~", "'~'\n"},         {"-3", "'-3'\n"},     {".5", "'.5'\n"},      {"no", "'no'\n"},
      {"-.inf", "'-.inf'\n"}, {"it's", "it's\n"},   {"'q'", "'''q'''\n"},  {"a: b", "'a: b'\n"},
      {"- x", "'- x'\n"},     {"#c", "'#c'\n"},     {"u1,o2", "u1,o2\n"},  {"a\nb", "\"a\\nb\"\n"},
      {"mzi", "mzi\n"},       {"-x", "-x\n"},       {" lead", "' lead'\n"}};
  for (const auto& [text, yaml] : cases) EXPECT_EQ(to_yaml(Value(text)), yaml) << "for " << text;
}

TEST(Yaml, LongKeysAreWrittenExplicitly) {
  const std::string long_key(1500, 'k');
  const std::string long_quoted(600, '\x01');  // four bytes each once escaped
  Value v = Map{{long_key, 1}, {long_quoted, Map{{"a", List{long_key}}}}, {"short", Map{}}};
  const std::string yaml = to_yaml(v);
  EXPECT_TRUE(yaml.starts_with("? " + long_key + "\n: 1\n")) << yaml.substr(0, 40);
  EXPECT_EQ(from_yaml(yaml), v);
}

TEST(Yaml, FloatsReadBackAsFloats) {
  EXPECT_EQ(to_yaml(Value(2.0)), "2.0\n");
  EXPECT_EQ(to_yaml(Value(1e-08)), "1.0e-08\n");
  EXPECT_EQ(to_yaml(Value(-std::numeric_limits<double>::infinity())), "-.inf\n");
}

TEST(Yaml, RoundTripsEveryKind) {
  Value v = Map{
      {"f", 1e-08},         {"g", 2.0},       {"i", -7},
      {"t", "1.5"},         {"e", ""},        {"n", nullptr},
      {"b", true},          {"s", "true"},    {"u", "\xC3\xA9\xE2\x80\xA8x"},
      {"q", "a\tb\"c'd\\"}, {"k: x", List{}}, {"l", List{List{1, 2}, Map{{"a", Map{}}}, "- x"}}};
  EXPECT_EQ(from_yaml(to_yaml(v)), v) << to_yaml(v);
}

}  // namespace
}  // namespace orvelle

TEST(Writers, MappingOverloadsWriteWhatTheValueWouldWrite) {
  const orvelle::Map cases[] = {
      {},
      {{"a", 1},
       {"b", orvelle::Map{{"c", "x\"y"}, {"d", orvelle::List{1.5, "t"}}}},
       {"e", orvelle::Map{}}},
  };
  for (const auto& map : cases) {
    EXPECT_EQ(orvelle::to_json(map), orvelle::to_json(orvelle::Value(map)));
    EXPECT_EQ(orvelle::to_yaml(map), orvelle::to_yaml(orvelle::Value(map)));
  }
}
