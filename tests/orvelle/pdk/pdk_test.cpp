#include "orvelle/pdk/pdk.hpp"

#include <gtest/gtest.h>

#include <fstream>

namespace orvelle::pdk {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> cell_ports(const Pdk& kit, const std::string& name) {
  std::vector<std::string> names;
  for (const auto& port : kit.cells.at(name)().ports) names.push_back(port.name);
  return names;
}

TEST(Registry, GenericKitIsEmbeddedWithUnsortedParts) {
  activate_pdk("generic");
  const Pdk& kit = get_active_pdk();
  EXPECT_EQ(kit.name, "generic");
  EXPECT_EQ(kit.models.at("mmi1x2").ports, (std::vector<std::string>{"o1", "o3", "o2"}));
  EXPECT_EQ(cell_ports(kit, "pad"), (std::vector<std::string>{"e1", "e2", "e4", "e3"}));
  for (const char* part : {"straight", "bend_euler", "mmi2x2", "coupler", "grating_coupler",
                           "crossing", "phase_shifter"})
    EXPECT_TRUE(kit.cells.contains(part)) << part;
}

TEST(Registry, ReplacingAKitGivesItANewSerialAndKeepsItActive) {
  Pdk first{.name = "acme-test", .models = {{"m", sax::Model{{"a"}}}}, .cells = {}};
  const auto serial = register_pdk(first).serial;
  activate_pdk("acme-test");
  Pdk second{.name = "acme-test", .models = {{"m", sax::Model{{"b"}}}}, .cells = {}};
  register_pdk(second);
  EXPECT_NE(get_active_pdk().serial, serial);
  EXPECT_EQ(get_active_pdk().models.at("m").ports, std::vector<std::string>{"b"});
  activate_pdk("generic");
}

TEST(Registry, UnknownKitNamesTheRegisteredOnes) {
  try {
    activate_pdk("nope");
    FAIL() << "no error";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("unknown kit 'nope'"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("generic"), std::string::npos) << e.what();
  }
}

class KitFile : public ::testing::Test {
 protected:
  fs::path write(const std::string& text) {
    path_ = fs::temp_directory_path() / ("orvelle-kit-" + std::to_string(::getpid()) + ".yaml");
    std::ofstream(path_) << text;
    return path_;
  }
  void TearDown() override { fs::remove(path_); }
  fs::path path_;
};

TEST_F(KitFile, ReadsModelsAndCells) {
  const auto kit = load_pdk_file(write(
      "name: acme\nmodels: {mmi1x2: {ports: [o3, o1, o2]}}\ncells: {pad: {ports: [e2, e1]}}\n"));
  EXPECT_EQ(kit.name, "acme");
  EXPECT_EQ(kit.models.at("mmi1x2").ports, (std::vector<std::string>{"o3", "o1", "o2"}));
  EXPECT_EQ(cell_ports(kit, "pad"), (std::vector<std::string>{"e2", "e1"}));
}

TEST_F(KitFile, MalformedFilesNameTheFileAndKey) {
  const std::pair<const char*, const char*> cases[] = {
      {"models: {}\n", "key 'name' is missing"},
      {"name: [a]\n", "key 'name' must be a non-empty text"},
      {"name: a\nmodels: [x]\n", "key 'models' must be a mapping"},
      {"name: a\nmodels: {m: {ports: o1}}\n", "key 'models.m.ports' must be a list"},
      {"name: a\ncells: {c: {ports: [o1, [x]]}}\n", "key 'cells.c.ports' must be a list"},
      {"name: a\ncells: {c: {prots: [o1]}}\n", "key 'cells.c.prots' is not known"},
      {"name: a\nmodles: {}\n", "key 'modles' is not known"},
      {"name: a\nmodels: {m: [\n", "is not valid YAML"},
      {"- a\n", "must be a mapping"},
  };
  for (const auto& [text, expected] : cases) {
    const auto path = write(text);
    try {
      load_pdk_file(path);
      ADD_FAILURE() << "no error for " << text;
    } catch (const std::invalid_argument& e) {
      const std::string message = e.what();
      EXPECT_NE(message.find("kit file '" + path.string() + "'"), std::string::npos) << message;
      EXPECT_NE(message.find(expected), std::string::npos) << message;
    }
  }
  EXPECT_THROW(load_pdk_file("/nonexistent/kit.yaml"), std::invalid_argument);
}

TEST(KitDocument, IsReadWithTheKitFileChecksAndNamedByItsOrigin) {
  const Value document =
      Map{{"name", "k"}, {"cells", Map{{"pad", Map{{"ports", List{"e2", "e1"}}}}}}};
  const auto kit = read_pdk(document, "kit mapping");
  EXPECT_EQ(kit.name, "k");
  EXPECT_TRUE(kit.models.empty());
  EXPECT_EQ(cell_ports(kit, "pad"), (std::vector<std::string>{"e2", "e1"}));
  try {
    read_pdk(Map{{"name", "k"}, {"models", Map{{"m", Map{{"ports", List{1}}}}}}}, "kit mapping");
    FAIL() << "no error";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "kit mapping: key 'models.m.ports' must be a list of port names");
  }
}

}  // namespace
}  // namespace orvelle::pdk
