// The picture of a subcircuit: its DOT text, then rendered by Graphviz.

#include <gtest/gtest.h>

#include "orvelle/codec/json.hpp"
#include "orvelle/core/graph/graph.hpp"
#include "orvelle/pdk/pdk.hpp"

namespace orvelle::graph {
namespace {

bool has(const std::string& text, std::string_view part) {
  return text.find(part) != std::string::npos;
}

class Graph : public ::testing::Test {
 protected:
  void SetUp() override { pdk::activate_pdk("generic"); }
  const RecursiveNetlist example = netweave(std::string(ORVELLE_EXAMPLES) + "/mzi.sp");
};

TEST_F(Graph, TheExampleShowsEveryInstancePortAndConnection) {
  const std::string dot = to_dot(example);
  EXPECT_TRUE(dot.starts_with("graph \"mzi\" {\n")) << dot;
  const Map& top = example.at("mzi").as_map();
  for (const auto& [name, instance] : top.at("instances").as_map()) {
    EXPECT_TRUE(has(dot, "<B>" + name.str() + "</B><BR/>" +
                             std::string(instance.as_map().at("component").as_string())))
        << name;
  }
  // Every port of the kit's parts has its cell, the unused o4 of the 2x2 coupler too.
  for (const char* cell : {"<TD PORT=\"o1\">o1</TD><TD PORT=\"o2\">o2</TD><TD PORT=\"o3\">o3</TD>"
                           "<TD PORT=\"o4\">o4</TD>",
                           "<TD PORT=\"a\">a</TD><TD PORT=\"b\">b</TD>"}) {
    EXPECT_TRUE(has(dot, cell)) << cell;
  }
  for (const char* edge : {"\"instance Xsplit\":\"o2\" -- \"instance Xtop\":\"a\";",
                           "\"instance Xsplit\":\"o3\" -- \"instance Xbot\":\"o1\";",
                           "\"instance Xtop\":\"b\" -- \"instance Xcomb\":\"o1\";",
                           "\"instance Xbot\":\"o2\" -- \"instance Xcomb\":\"o2\";",
                           "\"port in\" -- \"instance Xsplit\":\"o1\";",
                           "\"port out\" -- \"instance Xcomb\":\"o3\";"}) {
    EXPECT_TRUE(has(dot, edge)) << edge;
  }
  EXPECT_TRUE(has(dot, "\"port in\" [shape=cds")) << dot;
}

TEST_F(Graph, PlacedInstancesArePinnedAtScaledPositions) {
  const std::string dot = to_dot(example);
  EXPECT_TRUE(has(dot, "layout=neato")) << dot;
  // The closest placed pair (Xtop and Xbot, 20 um apart) stands 2.2 inches apart.
  for (const char* pos : {"pos=\"0.000,0.000!\"", "pos=\"3.300,1.100!\"", "pos=\"3.300,-1.100!\"",
                          "pos=\"9.900,0.000!\""}) {
    EXPECT_TRUE(has(dot, pos)) << pos << " in\n" << dot;
  }
}

TEST_F(Graph, UnplacedSubcircuitsAreLaidOutByDot) {
  const RecursiveNetlist nets = netweave(std::string(ORVELLE_TEST_DATA) + "/golden/electrical.sp");
  const std::string dot = to_dot(nets, "amp");
  EXPECT_TRUE(has(dot, "layout=dot, rankdir=LR")) << dot;
  EXPECT_FALSE(has(dot, "pos=")) << dot;
  // A part nobody defines shows the ports the netlist names.
  EXPECT_TRUE(has(to_dot(nets), "<B>X2</B><BR/>foo</TD></TR><TR><TD PORT=\"o1\">o1</TD>"))
      << to_dot(nets);
}

TEST_F(Graph, NamesAreEscaped) {
  RecursiveNetlist nets =
      from_json(
          R"({"t\"x": {"instances": {"a<b": {"component": "c&d", "settings": {}}},)"
          R"("connections": {}, "ports": {"p\\q": "a<b,o1"}, "settings": {}, "placements": {}}})")
          .as_map();
  const std::string dot = to_dot(nets);
  EXPECT_TRUE(dot.starts_with("graph \"t\\\"x\" {")) << dot;
  EXPECT_TRUE(has(dot, "<B>a&lt;b</B><BR/>c&amp;d")) << dot;
  EXPECT_TRUE(has(dot, "\"port p\\\\q\" -- \"instance a<b\":\"o1\";")) << dot;
  EXPECT_EQ(render(dot, Format::svg).substr(0, 5), "<?xml");
}

TEST_F(Graph, AnUnknownSubcircuitIsAnError) {
  EXPECT_THROW(to_dot(example, "nope"), GraphError);
  EXPECT_THROW(to_dot(RecursiveNetlist{}), GraphError);
  EXPECT_THROW(render("graph {", Format::svg), GraphError);
}

TEST_F(Graph, RendersSvgAndPngThroughGraphviz) {
  const std::string dot = to_dot(example);
  EXPECT_EQ(render(dot, Format::dot), dot);
  const std::string svg = render(dot, Format::svg);
  EXPECT_TRUE(has(svg, "<svg")) << svg.substr(0, 300);
  for (const char* text : {">Xsplit<", ">mmi1x2<", ">delay_arm<", ">in<", ">o4<"}) {
    EXPECT_TRUE(has(svg, text)) << text;
  }
  const std::string png = render(dot, Format::png);
  EXPECT_TRUE(png.starts_with("\x89PNG\r\n\x1a\n"));
  EXPECT_GT(png.size(), 1000u);
}

}  // namespace
}  // namespace orvelle::graph
