#include "orvelle/core/netweave/netweave.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "support.hpp"

namespace orvelle {
namespace {

RecursiveNetlist weave(const std::string& text, const Map& settings_keymap = {},
                       const Map& component_map = {}, const Map& kwargs = {}) {
  std::istringstream stream(text);
  return netweave(stream, settings_keymap, component_map, kwargs);
}

std::vector<std::string> keys(const Map& map) {
  std::vector<std::string> out;
  for (const auto& [key, value] : map) out.push_back(key.str());
  return out;
}

const char* const kMzi =
    "* two couplers and two arms\n"
    ".subckt arm a b l=10\n"
    "X1 a b straight length=l $ location=(0,0,0)\n"
    ".ends\n"
    ".subckt mzi in out\n"
    "Xsplit in top bottom mmi1x2 $ location=(0,0,0)\n"
    "Xtop top top2 arm\n"
    "+ l=20u $ location=(10,5,0)(o1)\n"
    "Xbot bottom bot2 arm $ location=(10,-5,0)\n"
    "Xjoin out top2 bot2 mmi1x2 $ location=(20,0,180)\n"
    ".ends\n";

TEST(Netweave, ReadsAWholeCircuitLastDefinedFirst) {
  const RecursiveNetlist nets = weave(kMzi);
  EXPECT_EQ(keys(nets), (std::vector<std::string>{"mzi", "arm"}));
  const Map& mzi = nets.at("mzi").as_map();
  EXPECT_EQ(keys(mzi), (std::vector<std::string>{"instances", "connections", "ports", "settings",
                                                 "placements"}));
  // Instances of "arm" are connected under arm's own port names.
  EXPECT_EQ(mzi.at("connections"), Value(Map{{"Xsplit,o2", "Xtop,a"},
                                             {"Xsplit,o3", "Xbot,a"},
                                             {"Xtop,b", "Xjoin,o2"},
                                             {"Xbot,b", "Xjoin,o3"}}));
  EXPECT_EQ(mzi.at("ports"), Value(Map{{"in", "Xsplit,o1"}, {"out", "Xjoin,o1"}}));
  EXPECT_EQ(mzi.at("instances").as_map().at("Xtop"),
            Value(Map{{"component", "arm"}, {"settings", Map{{"l", 20.0}}}}));
  EXPECT_EQ(mzi.at("placements").as_map().at("Xtop"),
            Value(Map{{"x", 10.0}, {"y", 5.0}, {"rotation", 0.0}, {"port", "o1"}}));
  EXPECT_EQ(nets.at("arm").as_map().at("instances").as_map().at("X1"),
            Value(Map{{"component", "straight"}, {"settings", Map{{"length", "l"}}}}));
}

TEST(Netweave, PathAndStreamGiveTheSameResult) {
  const auto path = std::filesystem::temp_directory_path() / "netweave_test_mzi.sp";
  std::ofstream(path) << kMzi;
  EXPECT_EQ(netweave(path), weave(kMzi));
  std::filesystem::remove(path);
  EXPECT_THROW(netweave(path), std::system_error);
}

TEST(Netweave, EmptyAndBlankTextsGiveAnEmptyNetlist) {
  for (const char* text : {"", "\n", "  \n\t\n", "* only a comment\n"}) {
    EXPECT_TRUE(weave(text).empty()) << text;
  }
}

TEST(Netweave, ALeadingByteOrderMarkIsNoPartOfTheText) {
  const std::string text = ".subckt s a\nX1 a straight\n.ends\n";
  EXPECT_EQ(weave("\xEF\xBB\xBF" + text), weave(text));
}

TEST(Netweave, SubcircuitsWithoutElementsAndRepeatedNames) {
  const RecursiveNetlist nets = weave(
      ".subckt p a\nX1 a straight\n.ends\n"
      ".subckt empty a\n.ends\n"
      ".subckt q a\nX2 a straight\n.ends\n"
      ".subckt p b\nX3 b bend_euler\n.ends\n"
      ".subckt r a\nX4 a straight\n.ends\n");
  // p keeps its first place (last in the reversed result) but holds the later definition.
  EXPECT_EQ(keys(nets), (std::vector<std::string>{"r", "q", "p"}));
  EXPECT_EQ(nets.at("p").as_map().at("ports"), Value(Map{{"b", "X3,o1"}}));
}

TEST(Netweave, KeymapsAndNamedValues) {
  const char* text = ".subckt s a\nX1 a old width=1 gap='g'\n.ends\n";
  const Map empty;
  EXPECT_EQ(weave(text, empty, empty, Map{{"g", 3}}), weave(text, Map{}, Map{}, Map{{"g", 3}}));
  const RecursiveNetlist nets =
      weave(text, Map{{"width", "w"}}, Map{{"old", "straight"}}, Map{{"g", 3}});
  EXPECT_EQ(nets.at("s").as_map().at("instances").as_map().at("X1"),
            Value(Map{{"component", "straight"}, {"settings", Map{{"gap", 3}, {"w", 1.0}}}}));
}

TEST(Netweave, ErrorsCarryTheLineOfTheStatement) {
  const struct {
    const char* text;
    std::size_t line;
  } cases[] = {
      {".subckt s\nX1 n a straight\nX2 n b straight\nX3 n\n+ c straight\n.ends\n", 4},
      {"* a\n* b\n.ends\n", 3},
  };
  for (const auto& c : cases) {
    try {
      weave(c.text);
      ADD_FAILURE() << c.text;
    } catch (const ParseError& e) {
      EXPECT_EQ(e.line(), c.line) << c.text;
    }
  }
}

TEST(Netweave, WarningsGoToTheReplaceableHandler) {
  testing::WarningCapture warnings;
  weave(".subckt s a\nX1 a straight w='nothing'\n.ends\n");
  ASSERT_EQ(warnings.messages.size(), 1u);
  EXPECT_EQ(warnings.messages[0].rfind("Could not parse 'nothing'.", 0), 0u);
}

// A capture keeps this thread's warnings from the handler, in order, location comments'
// last, also when the text is read on two threads; another thread's reading still reaches
// the handler.
TEST(Netweave, ACaptureKeepsThisThreadsWarningsFromTheHandler) {
  testing::WarningCapture handled;
  std::string text = ".subckt s a\nX1 a b straight w='first' $ location=('second',0,0)\n";
  for (int i = 0; i < 20000; ++i) {
    text += "X";  // appended, not concatenated: g++ 12 misreads the latter
    text += std::to_string(i + 2) + " b" + std::to_string(i) + " straight\n";
  }
  text += "Xlast a straight w='third'\n.ends\n";
  ASSERT_GT(text.size(), std::size_t{1} << 18);  // read on two threads
  std::vector<std::string> captured;
  {
    const WarningCapture capture(captured);
    weave(text);
    std::thread([] { weave(".subckt s a\nX1 a straight w='elsewhere'\n.ends\n"); }).join();
  }
  ASSERT_EQ(captured.size(), 3u);
  EXPECT_EQ(captured[0].rfind("Could not parse 'first'.", 0), 0u);
  EXPECT_EQ(captured[1].rfind("Could not parse 'third'.", 0), 0u);
  EXPECT_EQ(captured[2].rfind("Could not parse 'second'.", 0), 0u);
  ASSERT_EQ(handled.messages.size(), 1u);
  EXPECT_EQ(handled.messages[0].rfind("Could not parse 'elsewhere'.", 0), 0u);
}

}  // namespace
}  // namespace orvelle
