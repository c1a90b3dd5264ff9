// The reader on every schedule (one thread or two, slabs, early table sizing, finishing on
// two threads, chunks of any size) against the composition of the reader's operations:
// records first, each subcircuit's netlist, normalisation, port patching. Results, errors
// with their lines, and warnings in their order must all agree.

#include <gtest/gtest.h>

#include "reference_reader.hpp"
#include "support.hpp"

namespace orvelle::core::netweave::detail {
namespace {

struct Options {
  Map settings_keymap;
  Map component_map;
  Map kwargs;
};

struct Outcome {
  std::optional<RecursiveNetlist> netlist;
  std::string error;  // kind, line and message
  std::vector<std::string> warnings;
};

template <class Read>
Outcome outcome_of(Read read) {
  testing::WarningCapture warnings;
  Outcome out;
  try {
    out.netlist = read();
  } catch (const ParseError& e) {
    out.error = "ParseError at " + std::to_string(e.line()) + ": " + e.what();
  } catch (const std::invalid_argument& e) {
    out.error = std::string("invalid_argument: ") + e.what();
  }
  out.warnings = warnings.messages;
  return out;
}

Outcome composed(const std::string& text, const Options& o = {}) {
  return outcome_of(
      [&] { return composed_reading(text, o.settings_keymap, o.component_map, o.kwargs); });
}

Outcome read(const std::string& text, const ReaderTuning& tuning, const Options& o = {}) {
  return outcome_of(
      [&] { return read_netlist(text, o.settings_keymap, o.component_map, o.kwargs, tuning); });
}

void expect_as_composed(const std::string& text, const Options& options = {}) {
  const Outcome expected = composed(text, options);
  const auto schedules = every_schedule();
  for (std::size_t i = 0; i < schedules.size(); ++i) {
    const Outcome actual = read(text, schedules[i], options);
    const std::string where = "schedule " + std::to_string(i) + " of:\n" + text.substr(0, 300);
    EXPECT_EQ(actual.error, expected.error) << where;
    ASSERT_EQ(actual.netlist.has_value(), expected.netlist.has_value()) << where;
    if (expected.netlist) {
      EXPECT_EQ(Value(*actual.netlist), Value(*expected.netlist)) << where;
    }
    EXPECT_EQ(actual.warnings, expected.warnings) << where;
  }
}

TEST(ReadNetlist, ReadsAsTheComposedOperationsOnEverySchedule) {
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
      // Warnings from settings first, then from location comments, in order.
      ".subckt w a\nX1 a b straight w='nothing' $ location=('where',0,0)\n"
      "X2 b straight v='none'\n.ends\n",
      // Nested blocks: elements read before an inner block opens belong to the inner block,
      // whose ports they touch.
      ".subckt outer a\n.subckt inner b\nX1 b c straight\n.ends\nX2 a c straight\n.ends\n",
      ".subckt outer a\nX1 a c straight\n.subckt inner c\nX2 b c straight\n.ends\n.ends\n",
      ".subckt outer a\nX1 a c straight\nX2 c d straight\n.subckt inner d\nX3 d e straight\n"
      ".ends\nX4 e f straight\n.ends\n",
      // A declared port on three instance ports keeps the last; a renamed key joins another.
      ".subckt s p\nX1 p straight\nX2 p straight\nX3 p q straight\n.ends\n",
      ".subckt sub o3\nXs o3 straight\n.ends\n.subckt top\nX1 a b c sub\nX2 a b c sub\n.ends\n",
      // A location the reader never reads, in a block that never closes.
      ".subckt s a\nX1 a straight $ location=(1,2)\nX2 a straight\n",
      // Faults of the text, found while reading and while assembling, and the first wins.
      ".subckt s a\nX1 a straight\n.param x=1\n.ends\n",
      ".subckt s a\nX1 a straight\nX1 a bend_euler\n.ends\n",
      ".subckt s a\nX1 a straight\nX1 a bend_euler\n.ends\n.param x=1\n",
      ".subckt s\nX1 n straight\nX2 n straight\nX3 n straight w='x'\n.ends\n",
      ".subckt s\nX1 n straight $ location=(1,'a',2)\nX2 m straight $ location=(1,2)\n.ends\n",
      ".subckt t a\nX1 a straight\nX1 a straight\n.ends\n.subckt s\nX3 n straight\n.ends\n",
      ".subckt s\nX1 n straight\n.subckt inner\nX1 n straight\n.ends\n",
      // What the normaliser refuses, and names it refuses only in texts.
      ".subckt s a\nX,1 a straight\n.ends\n",
      ".subckt s a\nX,1 straight\nX2 a straight\n.ends\n",
      ".subckt s a,b\nX1 a,b straight\n.ends\n.subckt top\nX1 n s\n.ends\n",
      "\xff\n",
  };
  for (const char* text : texts) expect_as_composed(text);
}

TEST(ReadNetlist, TakesKeymapsAndNamedValues) {
  const Options options{Map{{"width", "w"}}, Map{{"old", "straight"}, {"sub", "renamed"}},
                        Map{{"g", 3}}};
  expect_as_composed(
      ".subckt sub a b l=2\nX1 a b old width=1 gap='g' len=l\n.ends\n"
      ".subckt top x\nXi x y sub\n.ends\n",
      options);
  expect_as_composed(".subckt s\nX1 a p\n.ends\n", Options{{}, Map{{"p", ""}}, {}});
}

// Errors that are no fault of the text pass through as they were thrown, from either thread.
TEST(ReadNetlist, OtherErrorsPassThroughUnchanged) {
  const Map bad_map{{"straight", 1}};
  for (const ReaderTuning& tuning : every_schedule()) {
    EXPECT_THROW(read_netlist(".subckt s\nX1 a straight\n.ends\n", {}, bad_map, {}, tuning),
                 std::invalid_argument);
  }
}

// A text past the size from which the reader uses two threads: a leaf block used by a long
// chain, settings that warn, and location comments.
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

TEST(ReadNetlist, ReadsALargeTextAsTheComposedOperations) {
  const std::string text = large_text();
  ASSERT_GT(text.size(), std::size_t{1} << 20);
  expect_as_composed(text);
  // A large block followed by more text: room is made for more children than come.
  expect_as_composed(text + large_text("", "second"));
  // Enough connections for their texts to be made on two threads by default.
  expect_as_composed(large_text("", "top", 70000));
}

// Faults on either side of a large text, found in its one reading: the statements (an
// unsupported command), the assembly (a repeated instance), and an inner block.
TEST(ReadNetlist, ReadsALargeTextThatFailsOnEitherSide) {
  for (const std::string tail :
       {".param x=1\n", "Xw1 a b straight\n", ".subckt inner p\nXi p q straight\n.ends\n"}) {
    const std::string text = large_text(tail);
    ASSERT_GT(text.size(), std::size_t{1} << 20);
    expect_as_composed(text);
  }
}

}  // namespace
}  // namespace orvelle::core::netweave::detail
