#include <gtest/gtest.h>

#include "support.hpp"

namespace orvelle::core::netweave::detail {
namespace {

using orvelle::testing::collect;
using orvelle::testing::collect_source_lines;
using Texts = std::vector<std::string>;

TEST(SplitLines, CutsAtEveryBoundaryAndCountsEditorLines) {
  const std::string text =
      "a\nb\r\nc\rd\ve\ff\x1cg\x1dh\x1ei\xc2\x85j\xe2\x80\xa8k\xe2\x80\xa9l\x1fm\xc2\xa0n\n";
  auto lines = split_lines(text);
  EXPECT_EQ(collect(*lines),
            (Texts{"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l\x1fm\xc2\xa0n"}));
  // Only LF, CR and CRLF start a new source line.
  auto numbered = split_lines(text);
  EXPECT_EQ(collect_source_lines(*numbered),
            (std::vector<std::size_t>{1, 2, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4}));
}

TEST(SplitLines, FinalBoundaryAddsNoLineButInnerEmptyLinesStay) {
  auto lines = split_lines("a\n\nb\n");
  EXPECT_EQ(collect(*lines), (Texts{"a", "", "b"}));
  EXPECT_EQ(collect(*split_lines("")), Texts{});
  EXPECT_EQ(collect(*split_lines("\n")), Texts{""});
  EXPECT_EQ(collect(*split_lines("x\r")), Texts{"x"});
}

TEST(Strip, RemovesUnicodeWhitespaceAtBothEnds) {
  EXPECT_EQ(strip(" \t\xc2\xa0 a b \xe3\x80\x80\x1f"), "a b");
  EXPECT_EQ(strip("\xe2\x80\x8a"), "");
  // A non-breaking space's trailing byte alone is no white space.
  EXPECT_EQ(strip("a\xa0"), "a\xa0");
  EXPECT_EQ(strip("\xc3\xa0"), "\xc3\xa0");  // U+00E0 shares the trailing byte of U+00A0
}

TEST(JoinContinuations, JoinsPlusLinesOntoTheLogicalLine) {
  auto joined = join_continuations(lines_from({"R1 a b 10", "+ 20", "+   30", "X1 c d"}));
  EXPECT_EQ(collect(*joined), (Texts{"R1 a b 10 20 30", "X1 c d"}));
}

TEST(JoinContinuations, EdgeCases) {
  struct Case {
    Texts in, out;
  } cases[] = {
      {{"+first", "+ more"}, {"+first more"}},  // a leading "+" line is kept as it is
      {{"a", "+"}, {"a "}},                     // a bare "+" adds one blank
      {{"a", "", "+b"}, {"a", " b"}},           // an empty line ends the logical line
      {{"* note", "+ x"}, {"* note x"}},        // joined onto a comment, too
      {{}, {}},
  };
  for (const auto& c : cases) {
    auto joined = join_continuations(lines_from(c.in));
    EXPECT_EQ(collect(*joined), c.out) << ::testing::PrintToString(c.in);
  }
}

TEST(JoinContinuations, KeepsTheStartLineOfEachStatement) {
  auto lines = iter_relevant_lines("\n.subckt top a\n+ b\n\n+ c\nX1 a b\n  + w=1\n.ends\n");
  EXPECT_EQ(collect_source_lines(*lines), (std::vector<std::size_t>{2, 4, 6, 8}));
}

TEST(StandardizeSpaces, CollapsesEveryWhitespaceRun) {
  auto lines =
      standardize_spaces(lines_from({"a \t b", "a b", "\xe2\x80\x83x\xc2\xa0\xc2\xa0y", ""}));
  EXPECT_EQ(collect(*lines), (Texts{"a b", "a b", " x y", ""}));
}

TEST(FilterEmptyAndStripLines, DropOnlyEmptyLines) {
  auto lines = filter_empty(strip_lines(lines_from({"  ", "", " a ", "\t"})));
  EXPECT_EQ(collect(*lines), (Texts{"a"}));
}

TEST(StripComments, CutsAtDollarThenStar) {
  auto lines = strip_comments(lines_from({"a * b $ c", "a * b", "a $ b * c", "ab"}));
  EXPECT_EQ(collect(*lines), (Texts{"a ", "a ", "a ", "ab"}));
}

TEST(Chain, AppliesStagesInOrderAndEmptyIsIdentity) {
  auto identity = chain({})(lines_from({" a "}));
  EXPECT_EQ(collect(*identity), (Texts{" a "}));
  // Filtering before stripping keeps the blank line; stripping first drops it.
  auto filter_first = chain({filter_empty, strip_lines})(lines_from({" ", "b"}));
  EXPECT_EQ(collect(*filter_first), (Texts{"", "b"}));
  auto strip_first = chain({strip_lines, filter_empty})(lines_from({" ", "b"}));
  EXPECT_EQ(collect(*strip_first), (Texts{"b"}));
}

TEST(IterRelevantLines, CleansTheWholeText) {
  auto lines = iter_relevant_lines(" R1 a\tb 10\r\n+ 20\n\n   \n+   30\nX1  a   b $ c\n");
  EXPECT_EQ(collect(*lines), (Texts{"R1 a b 10 20", "30", "X1 a b $ c"}));
  EXPECT_EQ(collect(*iter_relevant_lines("")), Texts{});
}

// Texts made of pieces that stress the line reader: every line boundary, Unicode and control
// blanks, "+" continuations, quotes, and truncated multi-byte sequences.
std::vector<std::string> varied_texts(std::size_t count) {
  static const std::vector<std::string> pieces = {"a",
                                                  "X1 n1 n2",
                                                  "w=1",
                                                  " ",
                                                  "  ",
                                                  "\t",
                                                  "\xc2\xa0",
                                                  "\xe3\x80\x80",
                                                  "\xe2\x80\x83",
                                                  "\x1f",
                                                  "\n",
                                                  "\r",
                                                  "\r\n",
                                                  "\v",
                                                  "\f",
                                                  "\x1c",
                                                  "\x1d",
                                                  "\x1e",
                                                  "\xc2\x85",
                                                  "\xe2\x80\xa8",
                                                  "\xe2\x80\xa9",
                                                  "+",
                                                  "+ ",
                                                  "\n+",
                                                  "\n+ b",
                                                  "'",
                                                  "\"",
                                                  "$ c",
                                                  "* d",
                                                  "\xc2",
                                                  "\xe2\x80",
                                                  "\xc3\xa0",
                                                  "\n\n",
                                                  "\r\n+\t"};
  std::vector<std::string> texts;
  std::uint32_t state = 12345;
  const auto random = [&state](std::uint32_t bound) {
    state = state * 1664525u + 1013904223u;
    return (state >> 8) % bound;
  };
  // Doubled and single blanks at every offset, as the reader looks at eight bytes at a time.
  for (std::size_t k = 0; k < 20; ++k) {
    const std::string word(k, 'w');
    texts.push_back(word + "  x y\n" + word + " z\t\n" + word + "\xc2\xa0 v\n+ " + word + "  u");
  }
  for (std::size_t i = 0; i < count; ++i) {
    std::string text;
    for (std::uint32_t n = random(40); n > 0; --n) text += pieces[random(pieces.size())];
    texts.push_back(std::move(text));
  }
  return texts;
}

std::vector<std::pair<std::string, std::size_t>> numbered(LineStream& lines) {
  std::vector<std::pair<std::string, std::size_t>> out;
  while (auto line = lines.next()) out.emplace_back(line->text, line->source_line);
  return out;
}

TEST(IterRelevantLines, MatchesTheChainOfStagesOnVariedTexts) {
  const LineStage stages =
      chain({strip_lines, join_continuations, standardize_spaces, strip_lines, filter_empty});
  for (const std::string& text : varied_texts(5000)) {
    ASSERT_EQ(numbered(*iter_relevant_lines(text)), numbered(*stages(split_lines(text))))
        << ::testing::PrintToString(text);
  }
}

TEST(SplitComments, DollarWinsOverAnEarlierStar) {
  using Pair = std::pair<std::string_view, std::string_view>;
  EXPECT_EQ(split_comments("a * b $ c"), (Pair{"a * b ", "$ c"}));
  EXPECT_EQ(split_comments("a * b"), (Pair{"a ", "* b"}));
  EXPECT_EQ(split_comments("a b"), (Pair{"a b", ""}));
  EXPECT_EQ(split_comments("$"), (Pair{"", "$"}));
}

TEST(SplitComments, MarkersInsideQuotesStartNoComment) {
  using Pair = std::pair<std::string_view, std::string_view>;
  EXPECT_EQ(split_comments("X1 a b w='2*3' s=\"a$b\" $ c"),
            (Pair{"X1 a b w='2*3' s=\"a$b\" ", "$ c"}));
  EXPECT_EQ(split_comments("w=\"it's\" * c"), (Pair{"w=\"it's\" ", "* c"}));
  EXPECT_EQ(split_comments("w='open $ to the end"), (Pair{"w='open $ to the end", ""}));
}

TEST(SplitCommentsAndWords, FindMarkersAtEveryOffset) {
  using Pair = std::pair<std::string_view, std::string_view>;
  using Words = std::vector<std::string_view>;
  for (std::size_t k = 0; k < 20; ++k) {
    const std::string word(k, 'a');
    const std::string statement = word + " w='x $ y' s=\"p * q\" n ";
    const std::string dollar = statement + "* r $ c";
    EXPECT_EQ(split_comments(dollar), (Pair{statement + "* r ", "$ c"})) << k;
    const std::string star = statement + "* r";
    EXPECT_EQ(split_comments(star), (Pair{statement, "* r"})) << k;
    EXPECT_EQ(split_words(statement), (Words{word, "w='x $ y'", "s=\"p * q\"", "n", ""})) << k;
  }
}

TEST(SplitWords, KeepsQuotedBlanksAndEmptyWords) {
  using Words = std::vector<std::string_view>;
  EXPECT_EQ(split_words("X1 a b s=\"two words\""), (Words{"X1", "a", "b", "s=\"two words\""}));
  EXPECT_EQ(split_words("w='1 + 2' x"), (Words{"w='1 + 2'", "x"}));
  EXPECT_EQ(split_words("a \"it's x\" b"), (Words{"a", "\"it's x\"", "b"}));
  EXPECT_EQ(split_words(""), (Words{""}));
  EXPECT_EQ(split_words(" a  b "), (Words{"", "a", "", "b", ""}));
  EXPECT_EQ(split_words("a 'b c"), (Words{"a", "'b c"}));  // unbalanced: to the end
}

}  // namespace
}  // namespace orvelle::core::netweave::detail
