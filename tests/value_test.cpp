#include "orvelle/value.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <thread>
#include <vector>

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

TEST(Text, HoldsInlineAndHeapTextsExactly) {
  // 15 bytes is the last inline length, 16 the first heap one.
  for (const std::size_t length : {0, 1, 14, 15, 16, 17, 1000}) {
    std::string bytes(length, 'x');
    if (length > 2) bytes[length / 2] = '\0';
    const Text text(bytes);
    Text copy = text;
    Text moved = std::move(copy);
    copy = moved;
    copy = copy;
    for (const Text* t : std::initializer_list<const Text*>{&text, &copy, &moved}) {
      EXPECT_EQ(t->view(), bytes) << length;
      EXPECT_EQ(t->size(), length);
    }
    const Value value(bytes);
    EXPECT_EQ(value.as_string(), bytes) << length;
    EXPECT_EQ(value, Value(text));
    EXPECT_NE(value, Value(bytes + "y"));
  }
  EXPECT_LT(Text("in10"), "in2");
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

// Small mappings are scanned, larger ones indexed: both must agree at every size.
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

// Built in bulk, a mapping must equal one built entry by entry, repeated keys included.
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

std::size_t mapped_bytes() {
  std::ifstream statm("/proc/self/statm");
  std::size_t pages = 0;
  statm >> pages;
  return pages * 4096;
}

Map small_map(int i) {
  Map map;
  map.reserve(4);
  map.emplace("x", i);
  map.emplace("y", static_cast<double>(i) / 2);
  map.emplace("rotation", 90);
  std::string port = "a text long enough for the heap, number ";
  port += std::to_string(i);
  map.emplace("port", port);
  return map;
}

// Pooled mappings are carved from shared slabs: they must behave as any other mapping, on
// any thread and after their pool is gone, and the slabs must go back once all are freed.
TEST(MapPool, PooledMappingsBehaveAsAnyAndGiveTheirSlabsBack) {
  constexpr int kMaps = 30'000;  // about four slabs
  const std::size_t before = mapped_bytes();
  {
    std::vector<Map> maps(kMaps);
    const MapPool pool;
    for (auto& map : maps) map = small_map(1);
  }
  EXPECT_LT(mapped_bytes(), before + (std::size_t{2} << 20));

  {
    std::vector<Map> maps;
    maps.reserve(kMaps);
    {
      const MapPool pool;
      for (int i = 0; i < kMaps; ++i) maps.push_back(small_map(i));
      {
        const MapPool inner;
        maps[1] = small_map(-1);
      }
      for (int i = 0; i < 20; ++i) maps[2].emplace(std::to_string(i), i);  // off the pool
      maps[3] = maps[0];
      maps[4].clear();
      maps[5].erase("y");
    }
    maps[6].emplace("after", "the pool");
    EXPECT_EQ(maps[1], small_map(-1));
    EXPECT_EQ(maps[2].size(), 24u);
    EXPECT_EQ(maps[2].at("19"), Value(19));
    EXPECT_EQ(maps[3], small_map(0));
    EXPECT_TRUE(maps[4].empty());
    EXPECT_EQ(maps[5].size(), 3u);
    EXPECT_EQ(maps[6].at("after"), Value("the pool"));

    // Every other mapping is freed on another thread while this one still reads the rest.
    std::thread other([&] {
      for (int i = 8; i < kMaps; i += 2) maps[i] = Map{};
    });
    other.join();
    for (int i = 9; i < kMaps; i += 2) ASSERT_EQ(maps[i], small_map(i)) << i;
  }
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
