#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <map>
#include <random>

#include "support.hpp"

namespace orvelle::core::netweave::detail {
namespace {

using orvelle::testing::WarningCapture;

std::string warning_for(const std::string& text) {
  return "Could not parse '" + text +
         "'. Setting it to None (to be specified during the circuit call). You can also set "
         "the value of '" +
         text + "' as a keyword argument of orv.netweave";
}

TEST(ParseFloat, AcceptsOnlyPlainDecimalLiterals) {
  const std::pair<const char*, double> good[] = {
      {"1", 1.0},
      {"-2.5", -2.5},
      {"+.5", 0.5},
      {"5.", 5.0},
      {"1e3", 1e3},
      {"1E-3", 1e-3},
      {"0.1", 0.1},
      {"1e-400", 0.0},
      {"-1e-400", -0.0},
      {"4.9e-324", 4.9e-324},
      {"1.7976931348623157e308", 1.7976931348623157e308},
      // Zero never overflows, however large its exponent; leading zeros do not count.
      {"0e999999", 0.0},
      {"0.000e-99999", 0.0},
      {"00000000000000000000001e308", 1e308},
      {"1e-99999999999999999999999", 0.0},
      {"0.00000000000000000001e-300", 1e-320},
      // Halfway below the least subnormal rounds to even (zero); just above rounds up.
      {"2.4703282292062327e-324", 0.0},
      {"2.4703282292062328e-324", 4.9e-324},
  };
  for (const auto& [text, value] : good) {
    const auto parsed = parse_float(text);
    ASSERT_TRUE(parsed) << text;
    EXPECT_EQ(*parsed, value) << text;
    EXPECT_EQ(std::signbit(*parsed), std::signbit(value)) << text;
  }
  for (const char* bad : {"",       ".",    "e5",     "1e",      "1e+",
                          "inf",    "nan",  "-inf",   "1_000",   " 1",
                          "1 ",     "0x10", "1.2.3",  "--1",     "1e999",
                          "-1e999", "1d",   "+1e999", "1.8e308", "1e99999999999999999999999",
                          "+-5",    "+",    "-",      "+inf",    "infinity"}) {
    EXPECT_FALSE(parse_float(bad)) << bad;
  }
}

// Short literals take a quicker way than the general conversion: both must give the
// nearest double, to the last bit.
TEST(ParseFloat, ShortAndLongLiteralsReadAsTheNearestDouble) {
  std::mt19937 random(20261208);
  const auto digits = [&](int most) {
    std::string out(std::uniform_int_distribution<int>(0, most)(random), '0');
    for (char& c : out) c = static_cast<char>('0' + random() % 10);
    return out;
  };
  for (int n = 0; n < 200000; ++n) {
    // Appended piece by piece: g++ 12 misreads concatenations of temporaries.
    std::string text = random() % 4 == 0 ? "-" : "";
    text += digits(18);
    if (random() % 2 == 0) {
      text += '.';
      text += digits(18);
    }
    if (random() % 3 == 0) {
      text += random() % 2 == 0 ? "e-" : "e";
      text += digits(3);
    }
    double expected = 0.0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, expected);
    if (error != std::errc() || stop != end) continue;  // no number, or out of range
    const auto parsed = parse_float(text);
    ASSERT_TRUE(parsed) << text;
    EXPECT_EQ(std::bit_cast<std::uint64_t>(*parsed), std::bit_cast<std::uint64_t>(expected))
        << text;
  }
}

// A number with a unit reads as the number times the unit's factor, whichever way it is read.
TEST(ParseValue, UnitSuffixedLiteralsReadAsNumberTimesFactor) {
  std::mt19937 random(8122026);
  const std::string units = "pPnNuUmMkx.e";
  const std::map<char, double> factors = {{'p', 1e-12}, {'P', 1e-12}, {'n', 1e-9}, {'N', 1e-9},
                                          {'u', 1e-6},  {'U', 1e-6},  {'m', 1e-3}, {'M', 1e-3}};
  for (int n = 0; n < 100000; ++n) {
    std::string number = random() % 4 == 0 ? "-" : random() % 8 == 0 ? "+" : "";
    const int before = static_cast<int>(random() % 10);
    const int after = random() % 2 == 0 ? -1 : static_cast<int>(random() % 10);
    for (int i = 0; i < before; ++i) number += static_cast<char>('0' + random() % 10);
    if (after >= 0) number += '.';
    for (int i = 0; i < after; ++i) number += static_cast<char>('0' + random() % 10);
    const char unit = random() % 3 == 0 ? '\0' : units[random() % units.size()];
    std::string text = number;
    if (unit != '\0') text += unit;
    double expected = 0.0;
    const char* begin = number.data() + (number.starts_with('+') ? 1 : 0);
    const auto [stop, error] = std::from_chars(begin, number.data() + number.size(), expected);
    if (error != std::errc() || stop != number.data() + number.size() || before + after <= 0) {
      continue;  // no number in front of the unit
    }
    if (unit != '\0') expected *= factors.contains(unit) ? factors.at(unit) : 1.0;
    const Value parsed = parse_value(text);
    ASSERT_TRUE(parsed.is_float()) << text;
    EXPECT_EQ(std::bit_cast<std::uint64_t>(parsed.as_float()),
              std::bit_cast<std::uint64_t>(expected))
        << text;
  }
}

TEST(ParseValue, NumbersAndUnitSuffixes) {
  const std::pair<const char*, Value> cases[] = {
      {"10n", 1e-08},   {"10N", 1e-08},   {"2m", 0.002},    {"2M", 0.002},    {"5k", 5.0},
      {"3p", 3e-12},    {"0.5u", 0.5e-6}, {"2", 2.0},       {"-1.5", -1.5},   {"5\xc2\xb5", 5.0},
      {"'10n'", 1e-08}, {"\"2\"", 2.0},   {"{3}", List{3}}, {"1e-400n", 0.0},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(parse_value(text), expected) << text;
}

TEST(ParseValue, TextsStayTexts) {
  WarningCapture warnings;
  const std::pair<const char*, Value> cases[] = {
      {"abc", "abc"},       {"\"a b\"", "a b"}, {"\"\"", ""},   {"\"", ""},
      {"1e999", "1e999"},  // an overflowing literal is no number, and not cut at its last digit
      {"1e999n", "1e999n"}, {"n", "n"},         {"1x2", "1x2"}, {"inf", "inf"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(parse_value(text), expected) << text;
  EXPECT_TRUE(warnings.messages.empty());
  EXPECT_EQ(parse_value(""), Value());
}

TEST(ParseValue, QuotedAndBracedTextsAreEvaluated) {
  WarningCapture warnings;
  EXPECT_EQ(parse_value("{1,2}"), Value(List{1, 2}));
  EXPECT_EQ(parse_value("{1, 2.5}"), Value(List{1, 2.5}));
  EXPECT_EQ(parse_value("'1+1'"), Value(2));
  EXPECT_EQ(parse_value("'abc'", Map{{"abc", "bound"}}), Value("bound"));
  EXPECT_TRUE(warnings.messages.empty());

  EXPECT_EQ(parse_value("'abc'"), Value());
  EXPECT_EQ(parse_value("''"), Value());
  EXPECT_EQ(parse_value("'1e999'"), Value());
  EXPECT_EQ(parse_value("{a}"), Value());
  EXPECT_EQ(warnings.messages,
            (std::vector<std::string>{warning_for("abc"), warning_for(""), warning_for("1e999"),
                                      warning_for("[a]")}));
}

TEST(Eval, NamedValuesWinOverEvaluation) {
  WarningCapture warnings;
  EXPECT_EQ(eval("2", Map{{"2", "two"}}), Value("two"));
  EXPECT_EQ(eval("x", Map{{"x", List{1}}}), Value(List{1}));
  EXPECT_EQ(eval("2*3"), Value(6));
  EXPECT_EQ(eval("x"), Value());
  EXPECT_EQ(warnings.messages, std::vector<std::string>{warning_for("x")});
}

TEST(EvaluateExpression, FollowsScriptingNumberRules) {
  const std::pair<const char*, Value> cases[] = {
      {"1+2*3", 7},     {"(1+2)*3", 9},
      {"7/2", 3.5},     {"6/3", 2.0},
      {"7//2", 3},      {"-7//2", -4},
      {"7//-2", -4},    {"-7%3", 2},
      {"7%-3", -2},     {"7.5//2", 3.0},
      {"-7.5%2", 0.5},  {"2**10", 1024},
      {"2**-1", 0.5},   {"-2**2", -4},
      {"2**3**2", 512}, {"(-8)**2", 64},
      {"2.0*3", 6.0},   {"1e3", 1000.0},
      {" 1 + 2 ", 3},   {"--3", 3},
      {"+4", 4},        {"[1, [2, 3.5], ]", List{1, List{2, 3.5}}},
      {"[]", List{}},   {"1 - 2 - 3", -4},
      {"2*-3", -6},     {"00", 0},
      {".5+1", 1.5},    {"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
  };
  for (const auto& [text, expected] : cases) {
    const auto result = evaluate_expression(text);
    ASSERT_TRUE(result) << text;
    EXPECT_EQ(*result, expected) << text;
  }
}

TEST(EvaluateExpression, RejectsEverythingElseWithoutRunningIt) {
  const std::string deep_parens = std::string(500, '(') + "1" + std::string(500, ')');
  const std::string deep_signs = std::string(100000, '-') + "1";
  const std::string deep_lists = std::string(500, '[') + std::string(500, ']');
  for (const std::string& bad : std::vector<std::string>{"",
                                                         "abc",
                                                         "__import__('os')",
                                                         "1/0",
                                                         "1//0",
                                                         "1%0",
                                                         "1.0/0.0",
                                                         "0**-1",
                                                         "0.0**-1",
                                                         "(-8)**0.5",
                                                         "9223372036854775808",
                                                         "9223372036854775807+1",
                                                         "-9223372036854775807-2",
                                                         "2**63",
                                                         "3037000500*3037000500",
                                                         "1e308*10",
                                                         "10.0**400",
                                                         "1e999",
                                                         "[1]+[2]",
                                                         "[1]*2",
                                                         "-[1]",
                                                         "(1,2)",
                                                         "1 2",
                                                         "(1",
                                                         "[1",
                                                         "1)",
                                                         "007",
                                                         "1j",
                                                         "0x10",
                                                         "True",
                                                         "1_000",
                                                         "2**",
                                                         "'a'",
                                                         deep_parens,
                                                         deep_signs,
                                                         deep_lists}) {
    EXPECT_FALSE(evaluate_expression(bad)) << bad.substr(0, 40);
  }
  // The most negative integer is reachable only through arithmetic.
  EXPECT_EQ(evaluate_expression("-9223372036854775807-1"),
            Value(std::numeric_limits<std::int64_t>::min()));
  EXPECT_FALSE(evaluate_expression("(-9223372036854775807-1)//-1"));
  EXPECT_EQ(evaluate_expression("(-9223372036854775807-1)%-1"), Value(0));
}

}  // namespace
}  // namespace orvelle::core::netweave::detail
