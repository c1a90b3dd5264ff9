#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "orvelle/value.hpp"
#include "support/run.hpp"
#include "support/service.hpp"
#include "support/temp_folder.hpp"
#include "orvelle/codec/json.hpp"
#include "orvelle/codec/yaml.hpp"

namespace orvelle {
namespace {

namespace fs = std::filesystem;
namespace t = orvelle::testing;

const char* const netlist_json =
    R"({"top":{"instances":{"r1":{"component":"ring","settings":{"radius":5.0,"gap":2}}},)"
    R"("ports":{"in0":"r1,o1"}}})";

std::string netlist_reply() {
  return std::string(R"({"type":"netlist","netlist":)") + netlist_json + "}";
}

const t::Certificates& local_certificates() {
  static const t::Certificates certificates = t::make_certificates({"localhost", "127.0.0.1"});
  return certificates;
}

// The command as a user runs it: a home folder of its own, and the test authority in the
// trust store through SSL_CERT_FILE.
class Draftbot : public ::testing::Test {
 protected:
  void SetUp() override { temp_.write("trusted.pem", local_certificates().ca_pem); }

  t::RunResult draftbot(const t::Service& service, std::vector<std::string> args,
                        std::map<std::string, std::string> env = {}) {
    args.insert(args.begin(), {"draftbot", "a ring"});
    args.insert(args.end(), {"--url", "wss://localhost:" + std::to_string(service.port()) + "/ws"});
    env.emplace("HOME", dir_.string());
    env.emplace("SSL_CERT_FILE", (dir_ / "trusted.pem").string());
    return t::run_orvelle(args, {.input = "", .env = env, .unset_env = {"ORVELLE_PDK"}, .cwd = ""});
  }

  static std::string read(const fs::path& path) { return t::TempFolder::read(path); }

  t::TempFolder temp_;
  const fs::path& dir_ = temp_.path();
};

TEST_F(Draftbot, PrintsCompactJsonWithoutAnOutpath) {
  t::Service service(t::play({t::text(netlist_reply())}), &local_certificates());
  const t::RunResult result = draftbot(service, {});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, std::string(netlist_json) + "\n");
  EXPECT_EQ(result.err, "");  // progress shows on a terminal only
}

TEST_F(Draftbot, WritesYamlOnlyForYamlSuffixes) {
  t::Service service(
      t::play({t::text(R"({"type":"progress","message":"working"})"), t::text(netlist_reply())}),
      &local_certificates());
  const std::string yaml = to_yaml(from_json(netlist_json));
  const std::pair<const char*, std::string> cases[] = {
      {"net.yml", yaml},          {"net.yaml", yaml},
      {"net.json", netlist_json}, {"net.yaml.bak", netlist_json},
      {"net.YAML", netlist_json}, {"net", netlist_json},
  };
  for (const auto& [name, expected] : cases) {
    const t::RunResult result = draftbot(service, {"--outpath", (dir_ / name).string()});
    EXPECT_EQ(result.status, 0) << name << ": " << result.err;
    EXPECT_EQ(result.out, "") << name;
    EXPECT_EQ(read(dir_ / name), expected) << name;
  }
}

TEST_F(Draftbot, SendsTheKitOfTheSettingsUnlessOneIsGiven) {
  t::Service service(t::play({t::text(netlist_reply())}), &local_certificates());
  const auto kit_sent = [&] {
    return from_json(service.received().first_message).as_map().at("pdk_name");
  };
  draftbot(service, {});
  EXPECT_EQ(kit_sent(), Value("generic"));
  draftbot(service, {}, {{"ORVELLE_PDK", "fab_x"}});
  EXPECT_EQ(kit_sent(), Value("fab_x"));
  draftbot(service, {"--pdk", "fab_y"}, {{"ORVELLE_PDK", "fab_x"}});
  EXPECT_EQ(kit_sent(), Value("fab_y"));
  EXPECT_EQ(from_json(service.received().first_message).as_map().at("prompt"), Value("a ring"));
}

TEST_F(Draftbot, SendsTheStoredApiKey) {
  fs::create_directories(dir_ / ".kelvara");
  std::ofstream(dir_ / ".kelvara" / "orvelle.toml") << "[tool.orvelle.api]\nkey = \"sk-9\"\n";
  t::Service service(t::play({t::text(netlist_reply())}), &local_certificates());
  EXPECT_EQ(draftbot(service, {}).status, 0);
  EXPECT_EQ(service.received().authorization, "Bearer sk-9");
  EXPECT_EQ(read(dir_ / ".kelvara" / "orvelle.toml"), "[tool.orvelle.api]\nkey = \"sk-9\"\n");
}

// Every failure: one line on standard error, status 1, no new file, an old file untouched.
TEST_F(Draftbot, FailsInOneLineAndLeavesTheOutputAlone) {
  struct Case {
    const char* name;
    t::Script script;
    const t::Certificates* certificates;
    const char* expected;
  };
  const t::Certificates stranger = t::make_certificates({"localhost"});
  const t::Certificates elsewhere = t::make_certificates({"other.example"});
  const std::string huge_header = std::string("\x81\x7f\x00\x00\x00\x00\x04\x00\x00\x01", 10);
  const Case cases[] = {
      {"error frame", t::play({t::text(R"({"type":"error","message":"no such kit"})")}),
       &local_certificates(), "error: the service reported an error: no such kit\n"},
      {"early close", t::play({t::close()}), &local_certificates(),
       "error: the service closed the connection before sending a netlist\n"},
      {"over the limit", t::play({t::raw(huge_header), t::stall()}), &local_certificates(),
       "error: the service sent a message larger than the limit of 64 MiB\n"},
      {"invalid UTF-8", t::play({t::raw("\x81\x01\xff"), t::stall()}), &local_certificates(),
       "error: the service sent a text message that is not valid UTF-8\n"},
      {"binary", t::play({t::binary("{}")}), &local_certificates(),
       "error: the service sent a binary message of 2 bytes instead of JSON text\n"},
      {"refused upgrade", t::refuse_upgrade(500), &local_certificates(), nullptr},
      {"reset", t::play({t::raw("\x81\x7e\x01\x00["), t::reset()}), &local_certificates(), nullptr},
      {"untrusted", t::play({}), &stranger,
       "error: the certificate of localhost was refused: unable to get local issuer "
       "certificate\n"},
      {"host name mismatch", t::play({}), &elsewhere,
       "error: the certificate of localhost was refused: hostname mismatch\n"},
  };
  // The stranger's authority is never trusted; the other name's is, so its case is about the name.
  std::ofstream(dir_ / "trusted.pem") << local_certificates().ca_pem << elsewhere.ca_pem;
  std::ofstream(dir_ / "old.json") << "old";
  for (const Case& c : cases) {
    t::Service service(c.script, c.certificates);
    for (const char* name : {"new.yaml", "new.json", "old.json"}) {
      const t::RunResult result = draftbot(service, {"--outpath", (dir_ / name).string()});
      EXPECT_EQ(result.status, 1) << c.name;
      EXPECT_EQ(result.out, "") << c.name;
      if (c.expected) {
        EXPECT_EQ(result.err, c.expected) << c.name;
      }
      EXPECT_TRUE(result.err.starts_with("error: ") &&
                  result.err.find('\n') == result.err.size() - 1)
          << c.name << ": " << result.err;
    }
    EXPECT_FALSE(fs::exists(dir_ / "new.yaml")) << c.name;
    EXPECT_FALSE(fs::exists(dir_ / "new.json")) << c.name;
    EXPECT_EQ(read(dir_ / "old.json"), "old") << c.name;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 2);  // old.json, trusted.pem
}

// On a terminal, progress is one status line that rewrites itself, made harmless, and is
// cleared before the command ends.
TEST_F(Draftbot, ShowsProgressOnATerminal) {
  t::Service service(
      t::play({t::text(R"({"type":"progress","message":"placing\u001b[2J rings"})"),
               t::text(R"({"type":"progress","message":"routing"})"), t::text(netlist_reply())}),
      &local_certificates());
  const std::string url = "wss://localhost:" + std::to_string(service.port()) + "/ws";
  int terminal = -1;
  int child_side = -1;
  ASSERT_EQ(::openpty(&terminal, &child_side, nullptr, nullptr, nullptr), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(child_side, STDERR_FILENO);
    ::close(terminal);
    ::setenv("HOME", dir_.c_str(), 1);
    ::setenv("SSL_CERT_FILE", (dir_ / "trusted.pem").c_str(), 1);
    ::execl(ORVELLE_BINARY, "orvelle", "draftbot", "a ring", "--outpath",
            (dir_ / "out.json").c_str(), "--url", url.c_str(), nullptr);
    ::_exit(127);
  }
  ::close(child_side);
  std::string shown;
  char buffer[4096];
  for (ssize_t n; (n = ::read(terminal, buffer, sizeof buffer)) > 0;) shown.append(buffer, n);
  ::close(terminal);
  int status = -1;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(shown, "\r\033[Kplacing [2J rings\r\033[Krouting\r\033[K");
  EXPECT_EQ(read(dir_ / "out.json"), netlist_json);
}

TEST_F(Draftbot, HelpShowsTheDefaults) {
  const t::RunResult result = t::run_orvelle({"draftbot", "--help"});
  EXPECT_EQ(result.status, 0);
  for (const char* text :
       {"wss://draftbot.orvelle.dev/ws", "stdout", "--pdk", "prompt TEXT REQUIRED"}) {
    EXPECT_NE(result.out.find(text), std::string::npos) << text << " in\n" << result.out;
  }
}

}  // namespace
}  // namespace orvelle
