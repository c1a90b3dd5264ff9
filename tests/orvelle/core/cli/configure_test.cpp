#include "orvelle/core/cli/configure.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "orvelle/core/cli/app.hpp"
#include "support/run.hpp"
#include "support/temp_folder.hpp"

namespace orvelle::cli {
namespace {

namespace fs = std::filesystem;

// The exit code the command asked for, or nothing when it went on.
std::optional<int> exit_code_of(const std::function<void()>& step) {
  try {
    step();
  } catch (const CLI::RuntimeError& request) {
    return request.get_exit_code();
  }
  return std::nullopt;
}

std::string prompt_for(std::string_view key, std::string_view shown) {
  return "An existing configuration for '" + std::string(key) + "' was found: '" +
         std::string(shown) +
         "'.\nDo you want to overwrite it? Choosing 'n' (no) will cancel all changes. [Y/n]: ";
}

TEST(CheckExisting, ShowsStoredValueCutPastNineCharacters) {
  const struct {
    std::string toml, shown;
  } cases[] = {
      {"key = '123456789'", "123456789"},
      {"key = '1234567890'", "1234567..."},
      {"key = 'abcdefghijk'", "abcdefg..."},
      {"key = 12345678901", "1234567..."},
      {"key = 2.5", "2.5"},
      {"key = 'ééééééééé'", "ééééééééé"},
      {"key = 'éééééééééé'", "ééééééé..."},
  };
  for (const auto& c : cases) {
    const toml::table config = toml::parse("[tool.orvelle.api]\n" + c.toml);
    std::istringstream in("y\n");
    std::ostringstream out;
    EXPECT_EQ(exit_code_of([&] { check_existing(config, "tool.orvelle.api.key", false, in, out); }),
              std::nullopt);
    EXPECT_EQ(out.str(), prompt_for("tool.orvelle.api.key", c.shown)) << c.toml;
  }
}

TEST(CheckExisting, ConsentGoesOnAnythingElseAborts) {
  const toml::table config = toml::parse("[a]\nb = 'x'");
  for (const std::string answer : {"y\n", "Y\n", " yes \n", "YES\r\n", "\n", "y"}) {
    std::istringstream in(answer);
    std::ostringstream out;
    EXPECT_EQ(exit_code_of([&] { check_existing(config, "a.b", false, in, out); }), std::nullopt)
        << answer;
  }
  // The empty input is the end of input, which nobody can take for consent.
  for (const std::string answer : {"n\n", "No\n", "yess\n", "y es\n", ""}) {
    std::istringstream in(answer);
    std::ostringstream out;
    EXPECT_EQ(exit_code_of([&] { check_existing(config, "a.b", false, in, out); }), 0) << answer;
    EXPECT_EQ(out.str(), prompt_for("a.b", "x") + "Aborted.\n") << answer;
  }
}

TEST(CheckExisting, NoPromptWhenForcedOrNothingStored) {
  const toml::table config = toml::parse("[a]\nb = 'x'");
  for (const auto& [key, force] : {std::pair{"a.b", true}, {"a.c", false}, {"c", false}}) {
    std::istringstream in("n\n");
    std::ostringstream out;
    EXPECT_EQ(exit_code_of([&] { check_existing(config, key, force, in, out); }), std::nullopt);
    EXPECT_EQ(out.str(), "") << key;
    EXPECT_EQ(in.tellg(), 0) << key;
  }
}

TEST(CheckExisting, MissingTableOnTheWayEndsWithCodeOne) {
  const toml::table config = toml::parse("[a]\nb = 'x'");
  for (const std::string key : {"x.b", "a.b.c", "a.z.b"}) {
    std::istringstream in;
    std::ostringstream out;
    EXPECT_EQ(exit_code_of([&] { check_existing(config, key, false, in, out); }), 1) << key;
    EXPECT_EQ(out.str(), "Error: The key '" + key + "' does not exist in the configuration.\n");
  }
}

// The command as a user meets it: the built binary in a fresh HOME, answers on standard input.
class ConfigureCommand : public ::testing::Test {
 protected:
  using Outcome = testing::RunResult;

  testing::RunOptions in_home(const std::string& input) const {
    testing::RunOptions options;
    options.input = input;
    options.env["HOME"] = home_.string();
    return options;
  }
  Outcome configure(std::vector<std::string> args, const std::string& input = "") const {
    args.insert(args.begin(), "configure");
    return testing::run_orvelle(args, in_home(input));
  }
  // As configure, with files the process writes capped at 1 KiB; a write past it fails.
  Outcome configure_with_small_disk(const std::vector<std::string>& args) const {
    std::vector<std::string> command{
        "-c", "ulimit -f 2; trap '' XFSZ; exec \"$0\" configure \"$@\"", ORVELLE_BINARY};
    command.insert(command.end(), args.begin(), args.end());
    return testing::run("/bin/sh", command, in_home(""));
  }

  static std::string read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static mode_t mode_of(const fs::path& p) {
    struct stat st {};
    ::stat(p.c_str(), &st);
    return st.st_mode & 07777;
  }
  void store(const std::string& text) const {
    fs::create_directories(folder_);
    std::ofstream(file_, std::ios::binary) << text;
  }
  toml::table stored() const { return toml::parse(read(file_)); }
  std::vector<std::string> folder_entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_))
      names.push_back(entry.path().filename());
    return names;
  }

  testing::TempFolder temp_;
  const fs::path dir_ = temp_.path();
  const fs::path home_ = dir_ / "home";
  const fs::path folder_ = home_ / ".kelvara";
  const fs::path file_ = folder_ / "orvelle.toml";
};

TEST_F(ConfigureCommand, FirstRunCreatesPrivateFolderAndFile) {
  const Outcome run = configure({});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out + run.err, "");
  EXPECT_EQ(mode_of(folder_), 0700u);
  EXPECT_EQ(mode_of(file_), 0600u);
  const toml::table config = stored();
  ASSERT_NE(config["tool"]["orvelle"]["api"].as_table(), nullptr);
  EXPECT_TRUE(config["tool"]["orvelle"]["api"].as_table()->empty());
}

TEST_F(ConfigureCommand, ForceStoresTrimmedValuesAndKeepsEverythingElse) {
  store(
      "top = 1\n[tool.other]\nlist = [1, 2.0]\n[tool.orvelle]\nmode = 'x'\n"
      "[tool.orvelle.api]\nkey = 'old'\nnickname = 'Old'\nurl = 'wss://h'\n");
  fs::permissions(folder_, fs::perms(0755));
  fs::permissions(file_, fs::perms(0644));
  const Outcome run = configure({"--api-key", "  abc \t", "--organization", " Org ", "--force"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out + run.err, "");
  EXPECT_EQ(stored(), toml::parse("top = 1\n[tool.other]\nlist = [1, 2.0]\n[tool.orvelle]\n"
                                  "mode = 'x'\n[tool.orvelle.api]\nkey = 'abc'\n"
                                  "nickname = 'Org'\nurl = 'wss://h'\n"));
  EXPECT_EQ(mode_of(file_), 0600u);
  EXPECT_EQ(mode_of(folder_), 0755u);
}

TEST_F(ConfigureCommand, AnswersDecideAndRefusalCancelsAllChanges) {
  const std::string before = "[tool.orvelle.api]\nkey = 'old-key-123'\nnickname = 'Old'\n";
  const std::string both_prompts = prompt_for("tool.orvelle.api.key", "old-key...") +
                                   prompt_for("tool.orvelle.api.nickname", "Old");
  for (const std::string input : {"y\n \tYes \n", "\n\n"}) {
    store(before);
    const Outcome run = configure({"--api-key", "new", "--organization", "New"}, input);
    EXPECT_EQ(run.status, 0) << input;
    EXPECT_EQ(run.out, both_prompts) << input;
    EXPECT_EQ(stored(), toml::parse("[tool.orvelle.api]\nkey = 'new'\nnickname = 'New'\n"));
  }
  for (const std::string input : {"y\nn\n", "yes\n", "y\nnope\n"}) {
    store(before);
    const Outcome run = configure({"--api-key", "new", "--organization", "New"}, input);
    EXPECT_EQ(run.status, 0) << input;
    EXPECT_EQ(run.out, both_prompts + "Aborted.\n") << input;
    EXPECT_EQ(read(file_), before) << input;
  }
}

TEST_F(ConfigureCommand, BlankKeyIsPromptedAndStoredEmpty) {
  store("[tool.orvelle.api]\nkey = 5\n");
  const Outcome run = configure({"--api-key", "   "}, "y\n");
  EXPECT_EQ(run.out, prompt_for("tool.orvelle.api.key", "5"));
  EXPECT_EQ(stored()["tool"]["orvelle"]["api"]["key"].value<std::string>(), "");
}

TEST_F(ConfigureCommand, WrongKindOfFileInTheWay) {
  fs::create_directories(file_);
  const Outcome run = configure({"--api-key", "k"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, file_.string() + " is a directory and should be a file.\n");

  fs::remove_all(folder_);
  std::ofstream(folder_) << "";
  const Outcome blocked = configure({"--api-key", "k"});
  EXPECT_EQ(blocked.status, 1);
  EXPECT_EQ(blocked.err, "error: cannot create " + folder_.string() + ": File exists\n");
}

TEST_F(ConfigureCommand, UnreadableFileIsLeftAlone) {
  for (const std::string text : {"key = ", "tool = 1\n", "[tool]\norvelle = 'x'\n",
                                 "[tool.orvelle]\napi = [1]\n", "[[tool]]\n", "k = '\xff'\n"}) {
    store(text);
    const Outcome run = configure({"--api-key", "k", "--force"});
    EXPECT_EQ(run.status, 1) << text;
    EXPECT_EQ(run.out,
              "could not parse " + file_.string() + ". Please delete or fix it manually.\n");
    EXPECT_EQ(read(file_), text);
  }
}

TEST_F(ConfigureCommand, LinkedFileIsFollowedAndKept) {
  store("");
  const fs::path target = dir_ / "shared.toml";
  std::ofstream(target) << "[tool.orvelle.api]\nkey = 'old'\n";
  fs::remove(file_);
  fs::create_symlink(target, file_);
  const Outcome run = configure({"--api-key", "new"}, "y\n");
  EXPECT_EQ(run.out, prompt_for("tool.orvelle.api.key", "old"));
  EXPECT_TRUE(fs::is_symlink(file_));
  EXPECT_EQ(stored()["tool"]["orvelle"]["api"]["key"].value<std::string>(), "new");
  EXPECT_EQ(mode_of(target), 0600u);
}

TEST_F(ConfigureCommand, FailedWriteLeavesOldFileAndNoTemporary) {
  const std::string before = "[tool.orvelle.api]\nkey = 'old'\n";
  store(before);
  const Outcome run = configure_with_small_disk({"--api-key", std::string(5000, 'k'), "--force"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err.rfind("error: cannot write " + file_.string(), 0), 0u) << run.err;
  EXPECT_EQ(read(file_), before);
  EXPECT_EQ(folder_entries(), std::vector<std::string>{"orvelle.toml"});
}

TEST_F(ConfigureCommand, ConcurrentRunsLeaveOneWholeFile) {
  store("[tool.orvelle.api]\n");
  std::vector<Outcome> outcomes(8);
  std::vector<std::thread> runs;
  for (std::size_t i = 0; i < outcomes.size(); ++i) {
    runs.emplace_back([this, i, &outcomes] {
      outcomes[i] = configure({"--api-key", "key-" + std::to_string(i), "--force"});
    });
  }
  for (auto& run : runs) run.join();
  for (const Outcome& outcome : outcomes) EXPECT_EQ(outcome.status, 0) << outcome.err;
  const auto key = stored()["tool"]["orvelle"]["api"]["key"].value<std::string>();
  ASSERT_TRUE(key.has_value());
  EXPECT_EQ(key->rfind("key-", 0), 0u);
  EXPECT_EQ(folder_entries(), std::vector<std::string>{"orvelle.toml"});
}

TEST_F(ConfigureCommand, KeyThatIsNoTextIsRefused) {
  store("");
  const Outcome run = configure({"--api-key", "k\xff"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "error: --api-key is not UTF-8 text\n");
  EXPECT_EQ(read(file_), "");
}

}  // namespace
}  // namespace orvelle::cli
