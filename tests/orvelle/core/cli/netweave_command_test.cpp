// The netweave command, run as a user runs it.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "orvelle/value.hpp"
#include "support/run.hpp"
#include "support/temp_folder.hpp"
#include "orvelle/codec/json.hpp"
#include "orvelle/codec/yaml.hpp"

namespace orvelle {
namespace {

namespace fs = std::filesystem;
using testing::run_orvelle;

class NetweaveCommand : public ::testing::Test {
 protected:
  std::string write(const std::string& name, const std::string& text) {
    return temp_.write(name, text).string();
  }
  std::string read(const std::string& name) { return testing::TempFolder::read(dir_ / name); }

  testing::TempFolder temp_;
  const fs::path& dir_ = temp_.path();
};

const std::string example = std::string(ORVELLE_EXAMPLES) + "/mzi.sp";

const char* two_straights =
    ".subckt top a b\n"
    "X1 a n straight length=2\n"
    "X2 n b straight\n"
    ".ends\n";

TEST_F(NetweaveCommand, PrintsYamlForAFileAndTheSameForStandardInput) {
  const auto from_file = run_orvelle({"netweave", example});
  ASSERT_EQ(from_file.status, 0) << from_file.err;
  EXPECT_TRUE(from_file.out.starts_with("mzi:\n  instances:\n")) << from_file.out;
  EXPECT_NE(from_file.out.find("Xtop,a"), std::string::npos) << from_file.out;

  std::ifstream in(example);
  std::stringstream text;
  text << in.rdbuf();
  const auto from_stdin = run_orvelle({"netweave", "-"}, testing::with_input(text.str()));
  ASSERT_EQ(from_stdin.status, 0) << from_stdin.err;
  EXPECT_EQ(from_stdin.out, from_file.out);
}

TEST_F(NetweaveCommand, OutputFormatFollowsSuffixOrFlag) {
  const auto netlist = write("c.sp", two_straights);
  ASSERT_EQ(run_orvelle({"netweave", netlist, "-o", (dir_ / "c.json").string()}).status, 0);
  ASSERT_EQ(run_orvelle({"netweave", netlist, "-o", (dir_ / "c.yml").string()}).status, 0);
  ASSERT_EQ(run_orvelle({"netweave", netlist, "-o", (dir_ / "c.txt").string(), "--format", "yaml"})
                .status,
            0);
  const Value from_json_file = from_json(read("c.json"));
  EXPECT_EQ(from_yaml(read("c.yml")), from_json_file);
  EXPECT_EQ(read("c.txt"), read("c.yml"));
  const auto json_out = run_orvelle({"netweave", netlist, "--format", "json"});
  EXPECT_EQ(from_json(json_out.out), from_json_file);
  EXPECT_EQ(from_json_file.as_map().at("top").as_map().at("connections"),
            Value(Map{{"X1,o2", "X2,o1"}}));
}

TEST_F(NetweaveCommand, DefinesAreTypedAndMapsRename) {
  const auto netlist = write("c.sp",
                             ".subckt top a b\n"
                             "X1 a b wg n='n' f='f' t='t' length=3\n"
                             ".ends\n");
  const auto r =
      run_orvelle({"netweave", netlist, "--format", "json", "-D", "n=2", "-D", "f=2.5e3", "-D",
                   "t=2x", "--component-map", "wg=straight", "--settings-keymap", "length=len"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Value nets = from_json(r.out);
  const Value& inst = nets.as_map().at("top").as_map().at("instances").as_map().at("X1");
  EXPECT_EQ(inst.as_map().at("component"), Value("straight"));
  EXPECT_EQ(inst.as_map().at("settings"),
            Value(Map{{"f", 2500.0}, {"len", 3.0}, {"n", 2}, {"t", "2x"}}));
}

TEST_F(NetweaveCommand, DefinesReadLiteralsLikeTheNetlist) {
  const auto netlist = write("c.sp", ".subckt top a b\nX1 a b straight p='p' u='u' s='s'\n.ends\n");
  const auto r = run_orvelle(
      {"netweave", netlist, "--format", "json", "-D", "p=+7", "-D", "u=1e-999", "-D", "s=+-5"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(from_json(r.out)
                .as_map()
                .at("top")
                .as_map()
                .at("instances")
                .as_map()
                .at("X1")
                .as_map()
                .at("settings"),
            Value(Map{{"p", 7}, {"s", "+-5"}, {"u", 0.0}}));
}

TEST_F(NetweaveCommand, KitFileGivesPortNames) {
  const auto netlist = write("c.sp", ".subckt top a b c\nX1 a b c mmi1x2\n.ends\n");
  const auto kit = write("kit.yaml", "name: cmdkit\nmodels: {mmi1x2: {ports: [x3, x1, x2]}}\n");
  const auto r = run_orvelle({"netweave", netlist, "--pdk", kit, "--format", "json"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(from_json(r.out).as_map().at("top").as_map().at("ports"),
            Value(Map{{"a", "X1,x1"}, {"b", "X1,x2"}, {"c", "X1,x3"}}));
  const auto unknown = run_orvelle({"netweave", netlist, "--pdk", "no-such-kit"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_TRUE(unknown.err.starts_with("error: unknown kit 'no-such-kit'")) << unknown.err;
}

TEST_F(NetweaveCommand, ParseErrorsNameFileAndLine) {
  const auto netlist = write("bad.sp", "* header\n\n.subckt top a\nX1 a b\n+ wg\n.ends\n.ends\n");
  const auto r = run_orvelle({"netweave", netlist});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "error: " + netlist + ":7: .ends before begin.\n");
  EXPECT_EQ(r.out, "");
  const auto piped = run_orvelle({"netweave", "-"}, testing::with_input(".param x=1\n"));
  EXPECT_EQ(piped.status, 1);
  EXPECT_EQ(piped.err, "error: <stdin>:1: Unsupported command: .param.\n");
}

TEST_F(NetweaveCommand, FailureLeavesExistingOutputUntouched) {
  const auto out = write("out.json", "precious");
  const auto netlist = write("bad.sp", ".ends\n");
  EXPECT_EQ(run_orvelle({"netweave", netlist, "-o", out}).status, 1);
  EXPECT_EQ(read("out.json"), "precious");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 2);
}

TEST_F(NetweaveCommand, EachDistinctWarningPrintsOnce) {
  const auto netlist = write("w.sp",
                             ".subckt top a b c\n"
                             "X1 a n straight length='nope'\n"
                             "X2 n b straight length='nope'\n"
                             "X3 c d straight length='other'\n"
                             ".ends\n");
  const auto r = run_orvelle({"netweave", netlist});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string nope =
      "warning: Could not parse 'nope'. Setting it to None (to be specified during the "
      "circuit call). You can also set the value of 'nope' as a keyword argument of "
      "orv.netweave\n";
  EXPECT_EQ(r.err.find(nope), 0u) << r.err;
  EXPECT_EQ(r.err.find(nope, 1), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("'other'"), std::string::npos) << r.err;
}

TEST_F(NetweaveCommand, ReportsMissingFilesAndUsageErrors) {
  const auto missing = run_orvelle({"netweave", (dir_ / "none.sp").string()});
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(missing.err.starts_with("error: ")) << missing.err;
  EXPECT_NE(missing.err.find("none.sp"), std::string::npos) << missing.err;
  EXPECT_EQ(run_orvelle({"netweave"}).status, 2);
  EXPECT_EQ(run_orvelle({"netweave", example, "--format", "xml"}).status, 2);
  const auto bad_define = run_orvelle({"netweave", example, "-D", "novalue"});
  EXPECT_EQ(bad_define.status, 2);
  EXPECT_NE(bad_define.err.find("NAME=VALUE"), std::string::npos) << bad_define.err;
}

}  // namespace
}  // namespace orvelle
