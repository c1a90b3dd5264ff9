#include <gtest/gtest.h>

#include "orvelle/pdk/pdk.hpp"
#include "support.hpp"

namespace orvelle::core::netweave::detail {
namespace {

using Names = std::vector<std::string>;

// Registers and activates a kit for one test, then goes back to the generic kit.
class KitTest : public ::testing::Test {
 protected:
  ~KitTest() override { pdk::activate_pdk("generic"); }

  static void use_kit(const std::string& name, std::vector<std::pair<std::string, Names>> models,
                      std::vector<std::pair<std::string, pdk::CellBuilder>> cells = {}) {
    pdk::Pdk kit;
    kit.name = name;
    for (auto& [model, ports] : models) kit.models[model] = sax::Model{ports};
    for (auto& [cell, builder] : cells) kit.cells[cell] = builder;
    pdk::register_pdk(std::move(kit));
    pdk::activate_pdk(name);
  }
};

pdk::CellBuilder cell(Names ports) {
  return [ports] {
    pdk::Component built;
    for (const auto& port : ports) built.ports.push_back({port});
    return built;
  };
}

TEST(GetIrPorts, KeepsTheWordsWithoutEquals) {
  const std::vector<std::string_view> words{"a", "w=1", "b", "=", "mzi"};
  EXPECT_EQ(get_ir_ports(words), (std::vector<std::string_view>{"a", "b", "mzi"}));
}

TEST(SortPorts, InputsFirstThenNaturalOrder) {
  EXPECT_EQ(sort_ports({"out10", "in2", "out2", "in10"}), (Names{"in2", "in10", "out2", "out10"}));
  EXPECT_EQ(sort_ports({"o10", "e2", "o2", "o1", "e10"}), (Names{"e2", "e10", "o1", "o2", "o10"}));
  EXPECT_EQ(sort_ports({"b", "2", "a", "10", "", "input"}),
            (Names{"input", "", "2", "10", "a", "b"}));
  EXPECT_EQ(sort_ports({"o01", "o1", "o001"}), (Names{"o01", "o1", "o001"}));  // ties keep order
}

TEST(NaturalLess, ComparesDigitRunsByValueWithoutLimit) {
  EXPECT_TRUE(natural_less("o99999999999999999999999", "o100000000000000000000000"));
  EXPECT_FALSE(natural_less("o100000000000000000000000", "o99999999999999999999999"));
  EXPECT_TRUE(natural_less("a", "a1"));
  EXPECT_TRUE(natural_less("a1b", "a1c"));
  EXPECT_TRUE(natural_less("a2", "a10b"));
  EXPECT_TRUE(natural_less("9z", "a"));
  EXPECT_FALSE(natural_less("a", "9z"));
  EXPECT_FALSE(natural_less("x", "x"));
}

TEST(GetPort, SynthesisesNamesPastTheKnownPorts) {
  EXPECT_EQ(get_port({}, 0), "o1");
  EXPECT_EQ(get_port({"a", "b", "c"}, 1), "b");
  EXPECT_EQ(get_port({"a", "b", "c"}, 3), "o4");
}

TEST_F(KitTest, BuiltInElementsHaveFixedPorts) {
  for (const char* source : {"vcvs", "vccs", "ccvs", "cccs"}) {
    EXPECT_EQ(*get_ports(source), (Names{"minus", "plus", "out", "gnd_"}));
  }
  EXPECT_EQ(*get_ports("resistor"), (Names{"minus", "plus"}));
  EXPECT_EQ(*get_ports("capacitor"), (Names{"minus", "plus"}));
  EXPECT_TRUE(get_ports("VCVS")->empty());  // case matters here
}

TEST_F(KitTest, ModelsFirstThenCellsWithAndWithoutPrefix) {
  use_kit("lookup", {{"mmi", {"o3", "o1", "o2"}}},
          {{"mmi", cell({"x"})},
           {"pad", cell({"e2", "e1"})},
           {"broken", []() -> pdk::Component { throw std::runtime_error("cannot build"); }}});
  EXPECT_EQ(*get_ports("mmi"), (Names{"o1", "o2", "o3"}));
  EXPECT_EQ(*get_ports("wg_mmi"), (Names{"o1", "o2", "o3"}));
  EXPECT_EQ(*get_ports("pad"), (Names{"e1", "e2"}));
  EXPECT_EQ(*get_ports("wg_pad"), (Names{"e1", "e2"}));
  EXPECT_TRUE(get_ports("broken")->empty());
  EXPECT_TRUE(get_ports("unknown")->empty());
  EXPECT_TRUE(get_ports_from_model("pad").empty());
  EXPECT_TRUE(get_ports_from_component("wg_wg_pad").empty());
}

TEST_F(KitTest, SwitchingKitsNeverServesStalePorts) {
  use_kit("first", {{"part", {"b", "a"}}});
  EXPECT_EQ(*get_ports("part"), (Names{"a", "b"}));
  use_kit("second", {{"part", {"x"}}});
  EXPECT_EQ(*get_ports("part"), (Names{"x"}));
  pdk::activate_pdk("first");
  EXPECT_EQ(*get_ports("part"), (Names{"a", "b"}));
  use_kit("first", {{"part", {"c"}}});  // a kit registered again under the same name
  EXPECT_EQ(*get_ports("part"), (Names{"c"}));
}

TEST_F(KitTest, CellsAreBuiltOncePerKitAndName) {
  int builds = 0;
  use_kit("counting", {}, {{"cell", [&builds] {
                              ++builds;
                              return pdk::Component{{{"o1"}}};
                            }}});
  for (int i = 0; i < 3; ++i) get_ports("cell");
  EXPECT_EQ(builds, 1);
  // Past the cache's capacity the oldest name is built again.
  for (int i = 0; i < 200; ++i) get_ports("filler" + std::to_string(i));
  get_ports("cell");
  EXPECT_EQ(builds, 2);
}

}  // namespace
}  // namespace orvelle::core::netweave::detail
