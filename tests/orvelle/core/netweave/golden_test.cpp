// End to end: each netlist under data/golden (or examples/) read with its kit, if it has one,
// must give exactly the recursive netlist of the JSON file beside it: same order, same kinds.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "orvelle/codec/json.hpp"
#include "orvelle/core/netweave/netweave.hpp"
#include "orvelle/pdk/pdk.hpp"

namespace orvelle {
namespace {

namespace fs = std::filesystem;

const fs::path golden_dir = fs::path(ORVELLE_TEST_DATA) / "golden";

std::string read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

fs::path netlist_for(const fs::path& expected) {
  auto beside = fs::path(expected).replace_extension(".sp");
  if (fs::exists(beside)) return beside;
  return fs::path(ORVELLE_EXAMPLES) / expected.filename().replace_extension(".sp");
}

class Golden : public ::testing::TestWithParam<std::string> {};

TEST_P(Golden, ReadsToTheExpectedNetlist) {
  const fs::path expected = golden_dir / (GetParam() + ".json");
  const fs::path kit = golden_dir / (GetParam() + ".kit.yaml");
  if (fs::exists(kit)) {
    pdk::activate_pdk(pdk::register_pdk(pdk::load_pdk_file(kit)).name);
  } else {
    pdk::activate_pdk("generic");
  }
  const RecursiveNetlist nets = netweave(netlist_for(expected));
  EXPECT_EQ(Value(nets), from_json(read(expected))) << to_json(nets);
}

std::vector<std::string> golden_names() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(golden_dir)) {
    if (entry.path().extension() == ".json") names.push_back(entry.path().stem().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

INSTANTIATE_TEST_SUITE_P(Files, Golden, ::testing::ValuesIn(golden_names()),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace orvelle
