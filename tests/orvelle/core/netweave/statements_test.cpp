#include <gtest/gtest.h>

#include "support.hpp"

namespace orvelle::core::netweave::detail {
namespace {

using Words = std::vector<std::string_view>;
using Ids = std::vector<std::int64_t>;

ParsedIr parse(std::vector<std::string> lines, const Map& component_map = {},
               const Map& kwargs = {}) {
  auto stream = lines_from(std::move(lines));
  return parse_into_ir(*stream, component_map, kwargs);
}

// The error a text raises, with the source line it names.
std::pair<std::string, std::size_t> error_of(std::string_view text) {
  try {
    netweave_text_into_ir(text);
  } catch (const ParseError& e) {
    return {e.what(), e.line()};
  }
  return {"no error", 0};
}

const Conn& conn(const ParsedIr& parsed, std::int64_t id) {
  return std::get<Conn>(parsed.ir.at(id));
}

const Subckt& subckt(const ParsedIr& parsed, std::int64_t id) {
  return std::get<Subckt>(parsed.ir.at(id));
}

TEST(HandleSources, MovesTheKeywordBehindTheNets) {
  EXPECT_EQ(handle_sources({"out", "0", "VCVS", "in", "0", "gain=2"}),
            (Words{"out", "0", "in", "0", "vcvs", "gain=2"}));
  EXPECT_EQ(handle_sources({"gain=2", "a", "Cccs", "b", "x=1"}),
            (Words{"a", "b", "cccs", "gain=2", "x=1"}));
  EXPECT_EQ(handle_sources({"a", "vccs", "vccs"}), (Words{"a", "vccs", "vccs"}));
  EXPECT_EQ(handle_sources({"a", "b", "mzi", "w=1"}), (Words{"a", "b", "mzi", "w=1"}));
  EXPECT_EQ(handle_sources({}), Words{});
}

TEST(GetParentId, IsTheInnermostOpenBlock) {
  EXPECT_EQ(get_parent_id({}), std::nullopt);
  const std::vector<Subckt> parents{Subckt{3, "a", {}, {}, {}, {}}, Subckt{7, "b", {}, {}, 3, {}}};
  EXPECT_EQ(get_parent_id(parents), 7);
}

TEST(ParseIntoIr, BuildsRecordsInCompletionOrder) {
  const ParsedIr parsed =
      parse({"* title", ".subckt top a b w=1", "X1 a n1 mmi w=2 $ location=(1,2,0)", "X2 n1 b mzi",
             ".ends", "X9 outside part"},
            Map{{"mzi", "mzi2"}});
  EXPECT_EQ(parsed.comments, (Comments{{1, "* title"}, {3, "$ location=(1,2,0)"}}));
  ASSERT_EQ(parsed.ir.size(), 3u);
  EXPECT_EQ(parsed.ir.nth(2)->first, 2);  // the block follows its elements
  EXPECT_EQ(subckt(parsed, 2),
            (Subckt{2, "top", {"a", "b"}, Map{{"w", 1.0}}, std::nullopt, {3, 4}}));
  EXPECT_EQ(conn(parsed, 3), (Conn{3, "X1", "mmi", {"a", "n1"}, Map{{"w", 2.0}}, 2}));
  EXPECT_EQ(conn(parsed, 4).component, "mzi2");
  EXPECT_EQ(parsed.source_lines, (SourceLines{1, 2, 3, 4, 5, 6}));
}

TEST(ParseIntoIr, ComponentMapAppliesToSubcircuitsAndBuiltInElements) {
  const ParsedIr parsed = parse({".subckt old a", "X1 a p", "R1 a b", ".ends"},
                                Map{{"old", "new"}, {"resistor", "res"}});
  EXPECT_EQ(subckt(parsed, 1).component, "new");
  EXPECT_EQ(conn(parsed, 3).component, "res");
}

TEST(ParseIntoIr, ResistorsAndCapacitorsTakeTheirValue) {
  const ParsedIr parsed =
      parse({".subckt s a b", "R1 a b 10", "C1 a b", "Rx a b 2n tc=1", "R2 a 5 5", "c1 a b 1"});
  EXPECT_EQ(conn(parsed, 2), (Conn{2, "R1", "resistor", {"a", "b"}, Map{{"value", 10.0}}, 1}));
  EXPECT_EQ(conn(parsed, 3), (Conn{3, "C1", "capacitor", {"a", "b"}, Map{}, 1}));
  EXPECT_EQ(conn(parsed, 4).settings, (Map{{"value", 2e-9}, {"tc", 1.0}}));
  EXPECT_EQ(conn(parsed, 5).ports, (std::vector<std::string>{"a", "5"}));
  EXPECT_EQ(conn(parsed, 5).settings, (Map{{"value", 5.0}}));
  // Lower case is no resistor or capacitor: its last bare word is the component.
  EXPECT_EQ(conn(parsed, 6), (Conn{6, "c1", "1", {"a", "b"}, Map{}, 1}));
}

TEST(ParseIntoIr, ValuesSeeCallerAndBlockSettings) {
  orvelle::testing::WarningCapture warnings;
  const ParsedIr parsed =
      parse({".subckt s a w=2", "X1 a p x='w' y='v' z='u'", ".ends", "X2 a p x='w'"}, {},
            Map{{"w", 1}, {"v", "caller"}});
  EXPECT_EQ(conn(parsed, 2).settings, (Map{{"x", 2.0}, {"y", "caller"}, {"z", Value()}}));
  EXPECT_EQ(subckt(parsed, 1).settings, (Map{{"w", 2.0}}));
  EXPECT_EQ(warnings.messages.size(), 1u);
}

TEST(ParseIntoIr, SkipsWhatItIgnores) {
  const ParsedIr parsed =
      parse({"X0 a b part", ".global gnd vdd", ".subckt s a", "$ only a comment", ".ends"});
  EXPECT_EQ(parsed.ir.size(), 1u);
  EXPECT_TRUE(subckt(parsed, 3).children_ids.empty());
  EXPECT_EQ(parsed.comments.at(4), "$ only a comment");
}

TEST(ParseIntoIr, ChildrenSinceTheLastEndsGoToTheBlockThatCloses) {
  const ParsedIr parsed = parse({".subckt outer a", "X1 a b p", ".subckt inner c", "X2 c d p",
                                 ".ends", "X3 a e p", ".ends", ".subckt open z", "X4 z y p"});
  EXPECT_EQ(subckt(parsed, 3).children_ids, (Ids{2, 4}));
  EXPECT_EQ(subckt(parsed, 3).parent_id, 1);
  EXPECT_EQ(subckt(parsed, 1).children_ids, (Ids{6}));
  // A block never closed is not entered, its elements are.
  EXPECT_FALSE(parsed.ir.contains(8));
  EXPECT_EQ(conn(parsed, 9).parent_id, 8);
  Ids order;
  for (const auto& [id, record] : parsed.ir) order.push_back(id);
  EXPECT_EQ(order, (Ids{2, 4, 3, 6, 1, 9}));
}

TEST(ParseIntoIr, ControlledSourcesUseTheirKeywordAsComponent) {
  const ParsedIr parsed = parse({".subckt s a", "E1 out 0 VCVS in 0 gain=2"});
  EXPECT_EQ(conn(parsed, 2),
            (Conn{2, "E1", "vcvs", {"out", "0", "in", "0"}, Map{{"gain", 2.0}}, 1}));
}

TEST(ParseIntoIr, ErrorsNameTheStatementAndItsFirstLine) {
  struct Case {
    const char* text;
    const char* message;
    std::size_t line;
  } cases[] = {
      {".subckt a x\n.ends\n.ends\n", ".ends before begin.", 3},
      {"\n\n.SUBCKT top a\n", "Unsupported command: .SUBCKT.", 3},
      {".param\n", "Unsupported command: .param.", 1},
      {".subckt s a\nR1 a\n+ b\n+ c\n+ d\n", "Too many nets for element 'R1'.", 2},
      {".subckt s a\n\n* note\nX1 a\n+ w=1=2\n", "Cannot read setting 'w=1=2'.", 4},
      {".subckt s a\nX1 w=1\n", "Missing component for element 'X1'.", 2},
      {".subckt\n", "Missing subcircuit name after .subckt.", 1},
      {"ok\r\nstill\r\n\xff\n", "The netlist is not valid UTF-8.", 3},
      {"a\rb\r\nc \xc3\n", "The netlist is not valid UTF-8.", 3},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(error_of(c.text), std::make_pair(std::string(c.message), c.line)) << c.text;
  }
}

}  // namespace
}  // namespace orvelle::core::netweave::detail
