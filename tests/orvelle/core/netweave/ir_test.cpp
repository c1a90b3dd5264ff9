#include <gtest/gtest.h>

#include "support.hpp"

namespace orvelle::core::netweave::detail {
namespace {

// The netlist of the first subcircuit of `text`, assembled with the generic kit.
Map assemble(std::string_view text, const Map& settings_keymap = {}) {
  const ParsedIr parsed = netweave_text_into_ir(text);
  for (const auto& [id, record] : parsed.ir) {
    if (const auto* subckt = std::get_if<Subckt>(&record)) {
      return netlist_from_subckt(parsed.ir, *subckt, settings_keymap, parsed.comments,
                                 &parsed.source_lines);
    }
  }
  throw std::logic_error("no subcircuit");
}

std::pair<std::string, std::size_t> error_of(std::string_view text) {
  try {
    assemble(text);
  } catch (const ParseError& e) {
    return {e.what(), e.line()};
  }
  return {"no error", 0};
}

TEST(NetlistFromSubckt, ConnectsNetsAndExposesPorts) {
  const Map netlist = assemble(
      ".subckt top in out w=1\n"
      "X1 in n1 n2 mmi1x2 w=2 $ location=(1,2,0)\n"
      "X2 n1 out straight\n"
      "X3 n2 dangling straight $ not a location\n"
      "X4 out unknown_part\n"
      ".ends\n");
  const Map expected{
      {"instances", Map{{"X1", Map{{"component", "mmi1x2"}, {"settings", Map{{"w", 2.0}}}}},
                        {"X2", Map{{"component", "straight"}, {"settings", Map{}}}},
                        {"X3", Map{{"component", "straight"}, {"settings", Map{}}}},
                        {"X4", Map{{"component", "unknown_part"}, {"settings", Map{}}}}}},
      {"connections", Map{{"X1,o2", "X2,o1"}, {"X1,o3", "X3,o1"}}},
      // Declared ports in the order instances touch them (the later wins), then dangling nets.
      {"ports", Map{{"in", "X1,o1"}, {"out", "X4,o1"}, {"dangling", "X3,o2"}}},
      {"settings", Map{{"w", 1.0}}},
      {"placements", Map{{"X1", Map{{"x", 1.0}, {"y", 2.0}, {"rotation", 0.0}, {"port", ""}}}}},
  };
  EXPECT_EQ(netlist, expected);
}

TEST(NetlistFromSubckt, EmptyBlockKeepsItsSettings) {
  ParsedIr parsed = netweave_text_into_ir(".subckt lone a l=2\n.ends\n");
  const Map netlist =
      netlist_from_subckt(parsed.ir, std::get<Subckt>(parsed.ir.at(1)), Map{{"l", "length"}}, {});
  EXPECT_EQ(netlist, (Map{{"instances", Map{}},
                          {"connections", Map{}},
                          {"ports", Map{}},
                          {"settings", Map{{"length", 2.0}}},
                          {"placements", Map{}}}));
}

TEST(NetlistFromSubckt, PositionsPastTheKnownPortsGetPositionalNames) {
  const Map netlist = assemble(".subckt s\nX1 a b c straight\nR1 a b\n.ends\n");
  EXPECT_EQ(netlist.at("connections"), Value(Map{{"X1,o1", "R1,minus"}, {"X1,o2", "R1,plus"}}));
  EXPECT_EQ(netlist.at("ports"), Value(Map{{"c", "X1,o3"}}));
}

// A declared port keeps the last instance port on it, however many there are. Which nets
// are declared is known only when the block closes: elements read before an inner block
// opens belong to that block and touch its ports.
TEST(NetlistFromSubckt, DeclaredPortsKeepTheLastInstancePortOnThem) {
  const Map netlist =
      assemble(".subckt s p\nX1 p straight\nX2 p straight\nX3 p q straight\n.ends\n");
  EXPECT_EQ(netlist.at("ports"), Value(Map{{"p", "X3,o1"}, {"q", "X3,o2"}}));
  EXPECT_TRUE(netlist.at("connections").as_map().empty());
  const Map inner = assemble(
      ".subckt outer a\nX1 a c straight\n.subckt inner c\nX2 b c straight\n.ends\n.ends\n");
  EXPECT_EQ(inner.at("ports"), Value(Map{{"c", "X2,o2"}, {"a", "X1,o1"}, {"b", "X2,o1"}}));
}

TEST(NetlistFromSubckt, ErrorsNameTheInstanceLine) {
  EXPECT_EQ(error_of(".subckt s\nX1 n a straight\nX2 n b straight\n\nX3 n c straight\n.ends\n"),
            std::make_pair(std::string("Net 'n' is connected to more than two ports: ['X1,o1', "
                                       "'X2,o1', 'X3,o1']. This is currently not supported."),
                           std::size_t{5}));
  EXPECT_EQ(
      error_of(".subckt s\nX1 a b straight\nX2 b c straight\nX1 c d straight\n.ends\n"),
      std::make_pair(std::string("Instance 'X1' is defined more than once in subcircuit 's'."),
                     std::size_t{4}));
  EXPECT_EQ(error_of(".subckt s\nX1 a b straight\nX2 b c straight $ location=(1,2)\n.ends\n"),
            std::make_pair(std::string("Cannot read location comment '$ location=(1,2)'."),
                           std::size_t{3}));
  // Names holding quotes print as a scripting language would print them.
  EXPECT_EQ(error_of(".subckt s\nX'1' n a\nX2 n b\nX3 n c\nX4 n d\n.ends\n").first,
            "Net 'n' is connected to more than two ports: [\"X'1',o1\", 'X2,o1', 'X3,o1', "
            "'X4,o1']. This is currently not supported.");
}

TEST(PatchPorts, RenamesPositionalPortsOfSubcircuitInstances) {
  Map nets{
      {"child", Map{{"instances", Map{}},
                    {"connections", Map{}},
                    {"ports", Map{{"A", "u,o1"}, {"B", "u,o2"}}}}},
      {"top", Map{{"instances",
                   Map{{"x", Map{{"component", "child"}}}, {"y", Map{{"component", "straight"}}}}},
                  {"connections", Map{{"x,o1", "y,o1"}, {"y,o2", "x,o2"}}},
                  {"ports", Map{{"p", "x,o3"}, {"q", "y,o1"}}}}},
  };
  Map expected = nets;
  expected.at("top").as_map().at("connections") = Map{{"x,A", "y,o1"}, {"y,o2", "x,B"}};
  patch_ports(nets);
  EXPECT_EQ(nets, expected);  // o3 lies past child's two ports and stays

  Map single{{"only", Map{{"instances", Map{{"x", Map{{"component", "straight"}}}}},
                          {"connections", Map{}},
                          {"ports", Map{{"a", "x,o1"}}}}}};
  const Map before = single;
  patch_ports(single);
  EXPECT_EQ(single, before);
}

// The renamed connections replace the old ones only once all are made: a text that cannot be
// split stops the renaming without leaving the netlist half renamed.
TEST(PatchPorts, AnUnsplittableTextLeavesTheConnectionsAsTheyWere) {
  Map nets{
      {"child", Map{{"instances", Map{}}, {"connections", Map{}}, {"ports", Map{{"A", "u,o1"}}}}},
      {"top", Map{{"instances", Map{{"x", Map{{"component", "child"}}}}},
                  {"connections", Map{{"y,o1", "x,o1"}, {"a,b,c", "x,o1"}}},
                  {"ports", Map{}}}},
  };
  const Map before = nets;
  EXPECT_THROW(patch_ports(nets), std::invalid_argument);
  EXPECT_EQ(nets.at("top").as_map().at("connections"), before.at("top").as_map().at("connections"));
}

}  // namespace
}  // namespace orvelle::core::netweave::detail
