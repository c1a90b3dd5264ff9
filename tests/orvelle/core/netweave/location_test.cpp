#include <gtest/gtest.h>

#include "support.hpp"

namespace orvelle::core::netweave::detail {
namespace {

Map placement(Value x, Value y, Value rotation, std::string port) {
  return Map{{"x", std::move(x)},
             {"y", std::move(y)},
             {"rotation", std::move(rotation)},
             {"port", std::move(port)}};
}

TEST(ParseLocationComment, ReadsCoordinatesAndPort) {
  const std::pair<const char*, Map> cases[] = {
      {"$ location=(10,20,90)", placement(10.0, 20.0, 90.0, "")},
      {"$ location=(10,20,90)(o1) extra", placement(10.0, 20.0, 90.0, "o1")},
      {"* location=(0.5u,-1,)", placement(0.5e-6, -1.0, Value(), "")},
      {"$ location=10,20,90", placement(10.0, 20.0, 90.0, "")},
      {"$ location=(a,2,3)()", placement("a", 2.0, 3.0, "")},
      {"$ location=(1,\t2,3)", placement(1.0, 2.0, 3.0, "")},  // tabs are removed, not cut at
  };
  for (const auto& [comment, expected] : cases) {
    const auto parsed = parse_location_comment(comment);
    ASSERT_TRUE(parsed) << comment;
    EXPECT_EQ(*parsed, expected) << comment;
  }
  EXPECT_FALSE(parse_location_comment("$ placed at (1,2,3)"));
  EXPECT_FALSE(parse_location_comment(""));
}

// Parts that cannot be evaluated warn in their order on the line.
TEST(ParseLocationComment, WarnsForEachUnreadablePartInOrder) {
  const testing::WarningCapture warnings;
  EXPECT_EQ(parse_location_comment("$ location=('a','b','c')"),
            placement(Value(), Value(), Value(), ""));
  ASSERT_EQ(warnings.messages.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(warnings.messages[i].substr(0, 18), "Could not parse '" + std::string(1, "abc"[i]))
        << warnings.messages[i];
  }
}

TEST(ParseLocationComment, UnreadableLocationsAreParseErrors) {
  for (const char* comment :
       {"$ location=(10, 20, 90)", "$ location=(1,2)", "$ location=(1,2,3,4)",
        "$ location=(1,2,3) location=(4,5,6)", "$ location=(1,2,3)(a)(b)", "$ location=(5)"}) {
    try {
      parse_location_comment(comment);
      ADD_FAILURE() << comment;
    } catch (const ParseError& e) {
      EXPECT_EQ(std::string(e.what()),
                "Cannot read location comment '" + std::string(comment) + "'.");
    }
  }
}

}  // namespace
}  // namespace orvelle::core::netweave::detail
