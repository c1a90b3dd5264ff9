#include <gtest/gtest.h>

#include "support.hpp"

namespace orvelle::core::netweave::detail {
namespace {

using Words = std::vector<std::string_view>;

std::vector<std::string> keys(const Map& map) {
  std::vector<std::string> out;
  for (const auto& [key, value] : map) out.push_back(key.str());
  return out;
}

TEST(GetIrSettings, ReadsNameValueWordsInOrder) {
  const Words words{"a", "b", "w=0.5u", "l=2", "w=3", "k='n'"};
  const Map settings = get_ir_settings(words, Map{{"n", 7}});
  EXPECT_EQ(keys(settings), (std::vector<std::string>{"w", "l", "k"}));  // w keeps its place
  EXPECT_EQ(settings.at("w"), Value(3.0));
  EXPECT_EQ(settings.at("l"), Value(2.0));
  EXPECT_EQ(settings.at("k"), Value(7));
  EXPECT_EQ(get_ir_settings(Words{"x="}).at("x"), Value());
}

TEST(GetIrSettings, AWordThatDoesNotSplitInTwoIsAParseError) {
  for (const std::string_view word : {"a=b=c", "s=\"x=y\"", "=="}) {
    try {
      get_ir_settings(Words{"net", word});
      ADD_FAILURE() << word;
    } catch (const ParseError& e) {
      EXPECT_EQ(std::string(e.what()), "Cannot read setting '" + std::string(word) + "'.");
    }
  }
}

TEST(MapSettingsKeys, SortsRenamesAndLetsTheLaterNameWin) {
  const Map settings{{"width", 1}, {"b", 2}, {"a", 3}, {"w", 4}};
  const Map mapped = map_settings_keys(settings, Map{{"width", "w"}});
  // Sorted: a, b, w, width; width maps onto w and, sorting later, wins at w's place.
  EXPECT_EQ(mapped, (Map{{"a", 3}, {"b", 2}, {"w", 1}}));
  EXPECT_EQ(keys(map_settings_keys(Map{{"\xc3\xa9", 1}, {"z", 2}, {"Z", 3}}, {})),
            (std::vector<std::string>{"Z", "z", "\xc3\xa9"}));
  EXPECT_THROW(map_settings_keys(settings, Map{{"b", 1}}), std::invalid_argument);
}

TEST(ConvertUm, ScalesOnlyFloatsStrictlyInsideTheLengthRange) {
  Map settings{{"edge_high", 0.01}, {"edge_low", 1e-10}, {"inside", 0.009}, {"small", 5e-7},
               {"int", 0},          {"text", "1e-6"},    {"neg", -1e-6},    {"list", List{1e-6}}};
  const Map expected{{"edge_high", 0.01},   {"edge_low", 1e-10}, {"inside", 9000.0},
                     {"small", 5e-7 * 1e6}, {"int", 0},          {"text", "1e-6"},
                     {"neg", -1e-6},        {"list", List{1e-6}}};
  EXPECT_EQ(&convert_um(settings), &settings);
  EXPECT_EQ(settings, expected);
}

TEST(PatchSettings, RenamesThenConvertsWithoutTouchingTheInput) {
  const Map settings = get_ir_settings(Words{"a", "b", "w=0.5u", "l=2"});
  const Map patched = patch_settings(settings, {});
  EXPECT_EQ(keys(patched), (std::vector<std::string>{"l", "w"}));
  EXPECT_EQ(patched.at("l"), Value(2.0));
  EXPECT_DOUBLE_EQ(patched.at("w").as_float(), 0.5);
  EXPECT_EQ(settings.at("w"), Value(5e-7));
  EXPECT_EQ(patch_settings(Map{{"width", 1}}, Map{{"width", "w"}}), (Map{{"w", 1}}));
}

}  // namespace
}  // namespace orvelle::core::netweave::detail
