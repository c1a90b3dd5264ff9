// Hostile and degenerate netlists: each must end in a clean result (status 0) or a clean
// error (status 1 with one "error:" line), never a crash, a hang or a runaway. CTest's
// timeout on this program is the bound on time.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "orvelle/value.hpp"
#include "support/run.hpp"
#include "orvelle/codec/json.hpp"

namespace orvelle {
namespace {

namespace fs = std::filesystem;

std::string repeat(std::string_view piece, std::size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

std::string in_subckt(const std::string& body) {
  std::string text = ".subckt top a b\n";
  return text.append(body).append(".ends\n");
}

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

Outcome read_netlist(const std::string& text) {
  const fs::path file =
      fs::temp_directory_path() / ("orvelle-hostile-" + std::to_string(::getpid()) + ".sp");
  std::ofstream(file, std::ios::binary) << text;
  auto r = testing::run_orvelle({"netweave", file.string(), "--format", "json"});
  fs::remove(file);
  return {r.status, std::move(r.out), std::move(r.err)};
}

// Clean error: status 1 and exactly one line, starting with "error: ".
void expect_clean_error(const Outcome& r, const std::string& contains) {
  EXPECT_EQ(r.status, 1) << r.err.substr(0, 300);
  EXPECT_TRUE(r.err.starts_with("error: ")) << r.err.substr(0, 300);
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err.substr(0, 300);
  EXPECT_NE(r.err.find(contains), std::string::npos) << r.err.substr(0, 300);
}

Value setting_of(const Outcome& r, const std::string& name) {
  return from_json(r.out)
      .as_map()
      .at("top")
      .as_map()
      .at("instances")
      .as_map()
      .at("X1")
      .as_map()
      .at("settings")
      .as_map()
      .at(name);
}

Outcome one_setting(const std::string& text) {
  return read_netlist(in_subckt("X1 a b straight v=" + text + "\n"));
}

TEST(HostileInput, HugeLinesAndWords) {
  const auto long_net = read_netlist(in_subckt("X1 a " + repeat("n", 20'000'000) + " straight\n"));
  EXPECT_EQ(long_net.status, 0) << long_net.err.substr(0, 300);
  const auto many_settings =
      read_netlist(in_subckt("X1 a b straight" + repeat(" w=1", 1'000'000) + "\n"));
  EXPECT_EQ(many_settings.status, 0) << many_settings.err.substr(0, 300);
  const auto continuations = read_netlist(repeat("+ a\n", 1'000'000));
  EXPECT_EQ(continuations.status, 0) << continuations.err.substr(0, 300);
}

TEST(HostileInput, DeepAndHugeExpressionsFailCleanly) {
  const std::string cases[] = {
      "'" + repeat("(", 200'000) + "1" + repeat(")", 200'000) + "'",
      "'" + repeat("[", 200'000) + "1" + repeat("]", 200'000) + "'",
      "'" + repeat("-", 200'000) + "1'",
      "'2**2**2**2**2**2'",
      "'" + repeat("9", 5000) + "'",
      "'1/0'",
      "'1//0'",
      "'1%0'",
      "'1e308*10'",
      "'__import__(\"os\").system(\"false\")'",
  };
  for (const auto& text : cases) {
    const auto r = one_setting(text);
    ASSERT_EQ(r.status, 0) << text.substr(0, 40) << ": " << r.err.substr(0, 300);
    EXPECT_TRUE(setting_of(r, "v").is_null()) << text.substr(0, 40);
    EXPECT_TRUE(r.err.starts_with("warning: Could not parse")) << r.err.substr(0, 300);
  }
}

TEST(HostileInput, LargeValuesStayExact) {
  std::string braced = "{";  // built in steps: g++ 12 misreads "{" + std::string&& (-Wrestrict)
  braced += repeat("7,", 999'999) + "7}";
  const auto list = one_setting(braced);
  ASSERT_EQ(list.status, 0) << list.err.substr(0, 300);
  EXPECT_EQ(setting_of(list, "v").as_list().size(), 1'000'000u);
  const auto beyond = one_setting("1e999");
  ASSERT_EQ(beyond.status, 0) << beyond.err;
  EXPECT_EQ(setting_of(beyond, "v"), Value("1e999"));
}

TEST(HostileInput, BinaryGarbageNulBytesAndInvalidUtf8) {
  std::mt19937 random(12345);
  std::string garbage(1 << 20, '\0');
  for (auto& c : garbage) c = static_cast<char>(random() & 0xFF);
  expect_clean_error(read_netlist(garbage), "UTF-8");
  expect_clean_error(read_netlist(in_subckt("X1 a b straight w=\xC3\x28\n")), ":2:");
  const auto nul = read_netlist(in_subckt(std::string("X1 a b str\0aight\n", 17)));
  EXPECT_EQ(nul.status, 0) << nul.err;
}

TEST(HostileInput, ManyAndDeepSubcircuits) {
  std::string nested;
  for (int i = 0; i < 100'000; ++i) nested += ".subckt s" + std::to_string(i) + " a\n";
  nested += "X1 a b straight\n" + repeat(".ends\n", 100'000);
  EXPECT_EQ(read_netlist(nested).status, 0);
  std::string many;
  for (int i = 0; i < 100'000; ++i)
    many += ".subckt s" + std::to_string(i) + " a\nX1 a b straight\n.ends\n";
  const auto r = read_netlist(many);
  ASSERT_EQ(r.status, 0) << r.err.substr(0, 300);
  EXPECT_EQ(from_json(r.out).as_map().size(), 100'000u);
}

TEST(HostileInput, NetSharedByManyInstancesIsOneError) {
  std::string body;
  for (int i = 0; i < 100'000; ++i)
    body.append("X").append(std::to_string(i)).append(" shared straight\n");
  expect_clean_error(read_netlist(in_subckt(body)), "is connected to more than two ports");
}

TEST(HostileInput, MalformedLocationCommentsAreParseErrors) {
  for (const char* comment : {"$ location=(1,2)", "$ location=(1,2,3)(a)(b)",
                              "$ location=(1,2,3) location=(4,5,6)", "$ location=(1, 2, 3)"}) {
    expect_clean_error(read_netlist(in_subckt(std::string("X1 a b straight ") + comment + "\n")),
                       "Cannot read location comment");
  }
}

TEST(HostileInput, EveryLineBoundaryEndsALine) {
  for (const char* boundary : {"\n", "\r", "\r\n", "\v", "\f", "\x1c", "\x1d", "\x1e", "\xC2\x85",
                               "\xE2\x80\xA8", "\xE2\x80\xA9"}) {
    const std::string b = boundary;
    const auto r = read_netlist(".subckt top a b" + b + "X1 a b straight" + b + ".ends" + b);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(from_json(r.out).as_map().at("top").as_map().at("ports"),
              Value(Map{{"a", "X1,o1"}, {"b", "X1,o2"}}));
  }
}

}  // namespace
}  // namespace orvelle
