#include <gtest/gtest.h>

#include "support.hpp"

namespace orvelle::detail {
namespace {

struct Outcome {
  std::optional<RecursiveNetlist> netlist;
  std::string error;
  std::vector<std::string> warnings;
};

struct Options {
  Map settings_keymap;
  Map component_map;
  Map kwargs;
};

Outcome staged(const std::string& text, const Options& o = {}) {
  testing::WarningCapture warnings;
  Outcome out;
  try {
    ParsedIr parsed = netweave_text_into_ir(text, o.component_map, o.kwargs);
    out.netlist = recursive_netlist_from_ir(std::move(parsed.ir), o.settings_keymap,
                                            std::move(parsed.comments), &parsed.source_lines);
  } catch (const std::exception& e) {
    out.error = e.what();
  }
  out.warnings = warnings.messages;
  return out;
}

Outcome woven(const std::string& text, const Options& o = {}) {
  testing::WarningCapture warnings;
  Outcome out;
  out.netlist = weave_text(text, o.settings_keymap, o.component_map, o.kwargs);
  out.warnings = warnings.messages;
  return out;
}

void expect_same(const std::string& text, const Options& options = {}) {
  const Outcome expected = staged(text, options);
  const Outcome actual = woven(text, options);
  ASSERT_TRUE(expected.netlist) << text << "\n" << expected.error;
  ASSERT_TRUE(actual.netlist) << "handed over:\n" << text;
  EXPECT_EQ(Value(*actual.netlist), Value(*expected.netlist)) << text;
  EXPECT_EQ(actual.warnings, expected.warnings) << text;
}

// The one-pass reader declines; the reader's entry then gives the staged result or error.
void expect_handed_over(const std::string& text) {
  const testing::WarningCapture quiet;
  EXPECT_FALSE(woven(text).netlist) << text.substr(0, 200);
  const Outcome expected = staged(text);
  std::istringstream stream(text);
  try {
    const RecursiveNetlist read = netweave(stream);
    ASSERT_TRUE(expected.netlist) << text.substr(0, 200);
    EXPECT_EQ(Value(read), Value(*expected.netlist)) << text.substr(0, 200);
  } catch (const std::exception& e) {
    EXPECT_EQ(e.what(), expected.error) << text.substr(0, 200);
  }
}

TEST(WeaveText, ReadsInOnePassWhatTheStagedReaderReads) {
  const char* const texts[] = {
      "",
      "* nothing but a comment\n",
      // Subcircuit instances get their ports renamed, defined before or after their use,
      // positional names past the port count stay, and the later of two blocks is the one.
      ".subckt top in out\n"
      "X1 in mid arm $ location=(0,0,0)\n"
      "X2 mid n2 n3 arm $ location=(1,2,90)(o1)\n"
      "X3 n3 out later\n"
      "X4 n2 self top\n"
      ".ends\n"
      ".subckt arm a b\nXs a b straight\n.ends\n"
      ".subckt later p q\nXb p x bend_euler\nXc x q straight\n.ends\n"
      ".subckt arm c d e\nXs c d e mmi1x2\n.ends\n",
      // Elements outside every block, blocks without elements, a block that never closes.
      "X0 a b straight\n.subckt empty a\n.ends\n.subckt s a\nX1 a b straight\n.ends\n"
      "X9 q r straight\n.subckt open a\nX2 a straight $ location=(1,2,3)\n",
      // Resistors, capacitors, controlled sources, declared ports touched twice, dangling nets.
      ".subckt e p m\nR1 p m 10\nC1 m gnd 1p\nE1 p m VCVS c d gain=2\nX5 p dangling pad\n.ends\n",
      // Warnings from settings first, then from location comments, in the staged order.
      ".subckt w a\nX1 a b straight w='nothing' $ location=('where',0,0)\n"
      "X2 b straight v='none'\n.ends\n",
      // Nested blocks whose inner block opens before any element.
      ".subckt outer a\n.subckt inner b\nX1 b c straight\n.ends\nX2 a c straight\n.ends\n",
  };
  for (const char* text : texts) expect_same(text);
}

TEST(WeaveText, TakesKeymapsAndNamedValues) {
  const Options options{Map{{"width", "w"}}, Map{{"old", "straight"}, {"sub", "renamed"}},
                        Map{{"g", 3}}};
  expect_same(
      ".subckt sub a b l=2\nX1 a b old width=1 gap='g' len=l\n.ends\n"
      ".subckt top x\nXi x y sub\n.ends\n",
      options);
}

// What only the staged reader reads as written is handed over.
TEST(WeaveText, HandsOverWhatOnlyTheStagedReaderReadsAsWritten) {
  const char* const texts[] = {
      // An element read before an inner block opens belongs to the inner block.
      ".subckt outer a\nX1 a c straight\n.subckt inner b\nX2 b c straight\n.ends\n.ends\n",
      // A location the staged reader never reads, in a block that never closes.
      ".subckt s a\nX1 a straight $ location=(1,2)\nX2 a straight\n",
      // Errors: a parse error, a repeated instance, a crowded net, a name with a comma.
      ".subckt s a\nX1 a straight\n.param x=1\n.ends\n",
      ".subckt s a\nX1 a straight\nX1 a bend_euler\n.ends\n",
      ".subckt s\nX1 n straight\nX2 n straight\nX3 n straight\n.ends\n",
      ".subckt s a\nX,1 a straight\n.ends\n",
      "\xff\n",
  };
  for (const char* text : texts) expect_handed_over(text);
}

// A text past the size from which reading and assembling run on two threads: a leaf block
// used by a long chain, settings that warn, and location comments.
std::string large_text(const std::string& tail = "", const std::string& block = "top",
                       int lines = 20000) {
  std::string text = ".subckt arm a b\nX1 a m straight length=5u\nX2 m b bend_euler\n.ends\n";
  text += ".subckt " + block + " in out\n";
  for (int i = 0; i < lines; ++i) {
    const std::string n = std::to_string(i);
    std::string next = "n";  // appended, not concatenated: g++ 12 misreads the latter
    next += std::to_string(i + 1);
    if (i == lines - 1) next = "out";
    const std::string from = i == 0 ? "in" : "n" + n;
    text += (i % 5 == 0 ? "Xa" : "Xw") + n + " " + from + " " + next;
    text += i % 5 == 0 ? " arm l=" + n + "u" : " straight length=" + n + "n width=0.5u";
    if (i % 5000 == 7) text += " w='unknown" + n + "'";
    text += i % 3 == 0 ? "\n" : " $ location=(" + n + ",0,90)\n";
    if (i % 5000 == 9) text += tail;
  }
  return text + ".ends\n";
}

TEST(WeaveText, ReadsALargeTextOnTwoThreadsAsTheStagedReaderDoes) {
  const std::string text = large_text();
  ASSERT_GT(text.size(), std::size_t{1} << 20);
  expect_same(text);
  // A large block followed by more text: room is made for more children than come.
  expect_same(text + large_text("", "second"));
  // Enough connections for their texts to be made on two threads.
  expect_same(large_text("", "top", 70000));
}

// Failures on either side of a large text: the reading side (an unsupported command), the
// assembling side (a repeated instance), and input only the staged reader reads as written.
TEST(WeaveText, HandsOverALargeTextThatFailsOnEitherSide) {
  for (const std::string tail :
       {".param x=1\n", "Xw1 a b straight\n", ".subckt inner p\nXi p q straight\n.ends\n"}) {
    const std::string text = large_text(tail);
    ASSERT_GT(text.size(), std::size_t{1} << 20);
    expect_handed_over(text);
  }
}

}  // namespace
}  // namespace orvelle::detail
