// The check command, run as a user runs it.

#include <gtest/gtest.h>

#include <filesystem>

#include "orvelle/codec/json.hpp"
#include "orvelle/value.hpp"
#include "support/run.hpp"
#include "support/service.hpp"
#include "support/temp_folder.hpp"

namespace orvelle {
namespace {

namespace fs = std::filesystem;
namespace t = orvelle::testing;
using t::run_orvelle;

const char* const clean =
    ".subckt top a b\n"
    "X1 a n straight\n"
    "X2 n b straight\n"
    ".ends\n";

const char* const with_a_warning =  // o3 of the splitter is left open
    ".subckt top a b\n"
    "X1 a n mmi1x2\n"
    "X2 n b straight\n"
    ".ends\n";

const char* const with_an_error =
    ".subckt top a b\n"
    "X1 a b nosuchpart\n"
    ".ends\n";

class CheckCommand : public ::testing::Test {
 protected:
  std::string write(const std::string& name, const std::string& text) {
    return temp_.write(name, text).string();
  }
  t::RunResult check(std::vector<std::string> args, const t::RunOptions& options = {}) {
    args.insert(args.begin(), "check");
    return run_orvelle(args, options);
  }

  t::TempFolder temp_;
  const fs::path& dir_ = temp_.path();
};

TEST_F(CheckCommand, StatusSaysWhetherThereIsAnError) {
  const auto ok = write("ok.sp", clean);
  const auto warned = write("warned.sp", with_a_warning);
  const auto wrong = write("wrong.sp", with_an_error);
  struct Case {
    std::vector<std::string> args;
    int status;
  };
  const Case cases[] = {
      {{ok}, 0}, {{warned}, 0}, {{warned, "--strict"}, 1}, {{wrong}, 1}, {{ok, "--strict"}, 0},
  };
  for (const Case& c : cases) {
    const auto result = check(c.args);
    EXPECT_EQ(result.status, c.status) << c.args[0] << " " << result.out << result.err;
  }
  EXPECT_EQ(check({ok}).out, "");
  EXPECT_EQ(check({warned}).out,
            warned +
                ":2: warning: port 'o3' of instance 'X1' (mmi1x2) is neither connected nor "
                "exposed [dangling-port]\n");
}

TEST_F(CheckCommand, UsageErrorsGiveStatusTwo) {
  const auto ok = write("ok.sp", clean);
  for (const std::vector<std::string>& args : {std::vector<std::string>{},
                                               {ok, "--format", "xml"},
                                               {ok, "-D", "novalue"},
                                               {ok, "--pdk", "no-such-kit"}}) {
    const auto result = check(args);
    EXPECT_EQ(result.status, 2) << (args.empty() ? "" : args.back()) << ": " << result.err;
    EXPECT_EQ(result.out, "");
  }
}

TEST_F(CheckCommand, ChecksEachFileOnItsOwn) {
  const auto broken = write("broken.sp", ".subckt top a\n.ends\n.ends\n");
  const auto wrong = write("wrong.sp", with_an_error);
  const auto result = check({broken, (dir_ / "missing.sp").string(), wrong});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out,
            broken + ":3: error: .ends before begin. [read-error]\n" +
                (dir_ / "missing.sp").string() +
                ": error: cannot open the file: No such file or directory [read-error]\n" + wrong +
                ":2: error: component 'nosuchpart' of instance 'X1' is neither in kit 'generic' "
                "nor a subcircuit of this file [unknown-component]\n");
}

TEST_F(CheckCommand, JsonOutputListsTheFindingsOfAllFiles) {
  const auto warned = write("warned.sp", with_a_warning);
  const auto netlist = write("n.json", R"({"top": {"instances": {}, "ports": {}}})");
  const auto result = check({warned, netlist, "--format", "json"});
  EXPECT_EQ(result.status, 1);
  const Value findings = from_json(result.out);
  ASSERT_EQ(findings.as_list().size(), 4u) << result.out;
  EXPECT_EQ(findings.as_list()[0],
            Value(Map{{"file", warned},
                      {"line", 2},
                      {"severity", "warning"},
                      {"check", "dangling-port"},
                      {"subcircuit", "top"},
                      {"message",
                       "port 'o3' of instance 'X1' (mmi1x2) is neither connected nor exposed"}}));
  EXPECT_EQ(findings.as_list()[1].as_map().at("path"), Value("/top"));
  EXPECT_EQ(findings.as_list()[1].as_map().at("check"), Value("schema"));
  EXPECT_EQ(check({write("ok.sp", clean), "--format", "json"}).out, "[]\n");
}

TEST_F(CheckCommand, ReadsStandardInputAndNamedValues) {
  const auto result = check({"-", "-D", "w=0.5"}, t::with_input(with_an_error));
  EXPECT_EQ(result.status, 1);
  EXPECT_TRUE(result.out.starts_with("<stdin>:2: error: component 'nosuchpart'")) << result.out;
  const auto unresolved =
      check({"-"}, t::with_input(".subckt top a b\nX1 a b straight w='w'\n.ends\n"));
  EXPECT_EQ(unresolved.status, 0);
  EXPECT_NE(unresolved.err.find("warning: Could not parse 'w'"), std::string::npos)
      << unresolved.err;
  EXPECT_EQ(
      check({"-", "-D", "w=2"}, t::with_input(".subckt top a b\nX1 a b straight w='w'\n.ends\n"))
          .err,
      "");
}

TEST_F(CheckCommand, KnowsTheKitNamedByPdk) {
  const auto netlist = write("ring.sp", ".subckt top a b\nX1 a b ring\n.ends\n");
  const auto kit = write("kit.yaml", "name: rings\nmodels: {ring: {ports: [o2, o1]}}\n");
  EXPECT_EQ(check({netlist}).status, 1);
  const auto with_kit = check({netlist, "--pdk", kit});
  EXPECT_EQ(with_kit.status, 0) << with_kit.out;
  EXPECT_EQ(with_kit.out, "");
}

// A netlist as the draftbot writes it from the service's answer: checked like any other.
TEST_F(CheckCommand, ChecksANetlistTheDraftbotWrote) {
  const t::Certificates certificates = t::make_certificates({"localhost"});
  temp_.write("trusted.pem", certificates.ca_pem);
  const std::string netlist =
      R"({"top":{"instances":{"r1":{"component":"ring","settings":{"radius":5.0}},)"
      R"("w1":{"component":"straight","settings":{}}},"connections":{"r1,o2":"w1,o1"},)"
      R"("ports":{"in":"r1,o1","out":"w1,o2","drop":"r1,o2"},"settings":{},"placements":{}}})";
  t::Service service(t::play({t::text(R"({"type":"netlist","netlist":)" + netlist + "}")}),
                     &certificates);
  const auto drafted = run_orvelle(
      {"draftbot", "a ring", "--outpath", (dir_ / "ring.yaml").string(), "--url",
       "wss://localhost:" + std::to_string(service.port()) + "/ws"},
      {.input = "",
       .env = {{"HOME", dir_.string()}, {"SSL_CERT_FILE", (dir_ / "trusted.pem").string()}},
       .unset_env = {"ORVELLE_PDK"},
       .cwd = ""});
  ASSERT_EQ(drafted.status, 0) << drafted.err;
  const auto kit = write(
      "kit.yaml", "name: rings\nmodels: {ring: {ports: [o1, o2]}, straight: {ports: [o1, o2]}}\n");
  const auto result = check({(dir_ / "ring.yaml").string(), "--pdk", kit});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, (dir_ / "ring.yaml").string() +
                            ":/top/ports/drop: error: instance port 'r1,o2' is connected to "
                            "'w1,o1' and exposed as port 'drop' [connected-and-exposed]\n");
}

}  // namespace
}  // namespace orvelle
