#include "orvelle/codec/yaml.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <sstream>
#include <string>

#include "orvelle/codec/json.hpp"

namespace orvelle {
namespace {

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

TEST(Writers, MappingOverloadsWriteWhatTheValueWouldWrite) {
  const Map cases[] = {
      {},
      {{"a", 1}, {"b", Map{{"c", "x\"y"}, {"d", List{1.5, "t"}}}}, {"e", Map{}}},
  };
  for (const auto& map : cases) {
    EXPECT_EQ(to_json(map), to_json(Value(map)));
    EXPECT_EQ(to_yaml(map), to_yaml(Value(map)));
  }
}

// A document far larger than one block of the streamed output, with texts of every length
// and nesting at every depth the writers handle.
Map large_document() {
  Map top;
  for (int i = 0; i < 20'000; ++i) {
    std::string name = "u";  // appended, not concatenated: g++ 12 misreads the latter
    name += std::to_string(i);
    top[name] = Map{{"component", i % 2 ? "straight" : "a name long enough for the heap"},
                    {"settings", Map{{"length", i * 0.5}, {"tags", List{i, "x: y", Map{}}}}}};
  }
  return top;
}

TEST(Writers, StreamExactlyWhatTheyWouldReturnWhole) {
  const Map document = large_document();
  const std::string json = to_json(document);
  const std::string yaml = to_yaml(document);
  ASSERT_GT(json.size(), std::size_t{4} << 16);
  std::ostringstream streamed_json;
  std::ostringstream streamed_yaml;
  write_json(streamed_json, document);
  write_yaml(streamed_yaml, document);
  EXPECT_EQ(streamed_json.str(), json);
  EXPECT_EQ(streamed_yaml.str(), yaml);
  std::ostringstream value_json;
  std::ostringstream value_yaml;
  write_json(value_json, Value(document));
  write_yaml(value_yaml, Value(Map{}));
  EXPECT_EQ(value_json.str(), json);
  EXPECT_EQ(value_yaml.str(), "{}\n");
}

TEST(Writers, StopAtATextThatIsNotUtf8) {
  Map document = large_document();
  document["last"] = "\xFF";
  std::ostringstream json;
  std::ostringstream yaml;
  EXPECT_THROW(write_json(json, document), std::invalid_argument);
  EXPECT_THROW(write_yaml(yaml, document), std::invalid_argument);
}

}  // namespace
}  // namespace orvelle
