#include "sax/sax.hpp"

#include <gtest/gtest.h>

namespace sax {
namespace {

using orvelle::List;
using orvelle::Map;
using orvelle::Value;

std::vector<std::string> keys(const Value& v) {
  std::vector<std::string> out;
  for (const auto& [key, value] : v.as_map()) out.push_back(key.str());
  return out;
}

TEST(ModelDump, FillsAndOrdersNetlistAndInstanceKeys) {
  Map instance{{"settings", Map{{"w", 0.5}}}, {"component", "mmi1x2"}};
  Map top{{"ports", Map{{"in", "u1,o1"}}}, {"extra", 1}, {"instances", Map{{"u1", instance}}}};
  const Map dumped = netlist(Map{{"top", top}}).model_dump();
  const Value& net = dumped.at("top");
  EXPECT_EQ(keys(net), (std::vector<std::string>{"instances", "connections", "ports", "settings",
                                                 "placements", "extra"}));
  EXPECT_EQ(keys(net.as_map().at("instances").as_map().at("u1")),
            (std::vector<std::string>{"component", "settings"}));
  EXPECT_EQ(net.as_map().at("connections"), Value(Map{}));

  Map bare{{"instances", Map{{"u1", Map{{"component", "pad"}}}}}};
  const Map filled = netlist(Map{{"n", bare}}).model_dump();
  EXPECT_EQ(filled.at("n").as_map().at("instances").as_map().at("u1").as_map().at("settings"),
            Value(Map{}));
}

TEST(ModelDump, CopyLeavesTheNetlistIntact) {
  Netlist nets = netlist(Map{{"n", Map{}}});
  const Map first = nets.model_dump();
  EXPECT_EQ(nets.model_dump(), first);
  EXPECT_EQ(std::move(nets).model_dump(), first);
}

TEST(Validation, RejectsMalformedInstancePortsNamingTheText) {
  for (const char* bad : {"u1", "u1,o1,o2", ",o1", "u1,", ""}) {
    Map conn{{"connections", Map{{"a,b", bad}}}};
    Map key{{"connections", Map{{bad, "a,b"}}}};
    Map port{{"ports", Map{{"p", bad}}}};
    for (const Map& net : {conn, key, port}) {
      try {
        netlist(Map{{"n", net}});
        ADD_FAILURE() << "accepted " << bad;
      } catch (const std::invalid_argument& e) {
        EXPECT_NE(std::string(e.what()).find("'" + std::string(bad) + "'"), std::string::npos)
            << e.what();
      }
    }
  }
  EXPECT_THROW(netlist(Map{{"n", Map{{"ports", Map{{"p", 3}}}}}}), std::invalid_argument);
}

TEST(Validation, RejectsInstanceWithoutComponent) {
  Map net{{"instances", Map{{"u1", Map{{"settings", Map{}}}}}}};
  try {
    netlist(Map{{"top", net}});
    FAIL() << "accepted";
  } catch (const std::invalid_argument& e) {
    EXPECT_EQ(std::string(e.what()), "netlist 'top': instance 'u1' has no component");
  }
  EXPECT_THROW(netlist(Map{{"top", List{}}}), std::invalid_argument);
}

TEST(GetPorts, GivesPortsAsStored) {
  EXPECT_EQ(get_ports(Model{{"o2", "o1"}}), (std::vector<std::string>{"o2", "o1"}));
}

}  // namespace
}  // namespace sax
