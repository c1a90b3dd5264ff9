// The graph command, run as a user runs it.

#include <gtest/gtest.h>

#include <filesystem>

#include "support/run.hpp"
#include "support/temp_folder.hpp"

namespace orvelle {
namespace {

namespace fs = std::filesystem;
namespace t = orvelle::testing;
using t::run_orvelle;

const std::string example = std::string(ORVELLE_EXAMPLES) + "/mzi.sp";

class GraphCommand : public ::testing::Test {
 protected:
  std::string read(const std::string& name) { return t::TempFolder::read(dir_ / name); }
  std::string path(const std::string& name) { return (dir_ / name).string(); }

  t::TempFolder temp_;
  const fs::path& dir_ = temp_.path();
};

TEST_F(GraphCommand, TheFormatFollowsTheSuffixUnlessGiven) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"-o", path("m.svg")}, "<?xml"},
      {{"-o", path("m.png")}, "\x89PNG"},
      {{"-o", path("m.dot")}, "graph \"mzi\" {"},
      {{"-o", path("m.gv")}, "graph \"mzi\" {"},
      {{"-o", path("m.txt"), "--format", "dot"}, "graph \"mzi\" {"},
      {{"-o", path("other.png"), "--format", "svg"}, "<?xml"},
  };
  for (const auto& [options, start] : cases) {
    std::vector<std::string> args = {"graph", example};
    args.insert(args.end(), options.begin(), options.end());
    const auto result = run_orvelle(args);
    ASSERT_EQ(result.status, 0) << options[1] << ": " << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(t::TempFolder::read(options[1]).starts_with(start)) << options[1];
  }
  const auto to_stdout = run_orvelle({"graph", example, "--subckt", "delay_arm"});
  EXPECT_EQ(to_stdout.status, 0);
  EXPECT_TRUE(to_stdout.out.starts_with("<?xml")) << to_stdout.out.substr(0, 100);
  EXPECT_NE(to_stdout.out.find(">Xbend<"), std::string::npos);
}

TEST_F(GraphCommand, DrawsYamlAndJsonNetlistsLikeTheDialect) {
  ASSERT_EQ(run_orvelle({"netweave", example, "-o", path("m.json")}).status, 0);
  ASSERT_EQ(run_orvelle({"netweave", example, "-o", path("m.yaml")}).status, 0);
  const auto from_dialect = run_orvelle({"graph", example, "--format", "dot"});
  for (const char* file : {"m.json", "m.yaml"}) {
    const auto result = run_orvelle({"graph", path(file), "--format", "dot"});
    EXPECT_EQ(result.status, 0) << file << ": " << result.err;
    EXPECT_EQ(result.out, from_dialect.out) << file;
  }
}

TEST_F(GraphCommand, FailuresSayWhyAndLeaveTheOutputAlone) {
  temp_.write("old.svg", "old");
  temp_.write("bad.json", R"({"top": {"instances": {}}})");
  temp_.write("bad.sp", ".ends\n");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string error;
  };
  const Case cases[] = {
      {{"graph", example, "--subckt", "nope", "-o", path("old.svg")},
       1,
       "error: no subcircuit 'nope'; there are: mzi, delay_arm\n"},
      {{"graph", path("bad.sp"), "-o", path("old.svg")},
       1,
       "error: " + path("bad.sp") + ":1: .ends before begin.\n"},
      {{"graph", path("bad.json"), "-o", path("old.svg")},
       1,
       path("bad.json") + ":/top: error: missing key 'connections' [schema]\n"},
      {{"graph", example, "-o", path("old.txt")}, 2, "error: --format: cannot tell"},
      {{"graph", example, "--format", "pdf"}, 2, "error: --format"},
  };
  for (const Case& c : cases) {
    const auto result = run_orvelle(c.args);
    EXPECT_EQ(result.status, c.status) << c.args[1] << ": " << result.err;
    EXPECT_TRUE(result.err.starts_with(c.error)) << result.err;
    EXPECT_EQ(read("old.svg"), "old");
  }
  EXPECT_FALSE(fs::exists(dir_ / "old.txt"));
}

}  // namespace
}  // namespace orvelle
