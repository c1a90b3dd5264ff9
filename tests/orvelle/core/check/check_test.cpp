// Each check on a small netlist made to fail it, in the dialect and as YAML or JSON, and a
// clean netlist that passes them all.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "orvelle/codec/json.hpp"
#include "orvelle/codec/yaml.hpp"
#include "orvelle/core/check/check.hpp"
#include "orvelle/core/check/detail.hpp"
#include "orvelle/pdk/pdk.hpp"

namespace orvelle::check {
namespace {

namespace fs = std::filesystem;

std::string read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The findings as their text lines, less the file name: what a user reads.
std::vector<std::string> lines(const std::vector<Finding>& findings) {
  std::vector<std::string> out;
  for (const Finding& finding : findings) {
    const std::string text = to_text(finding);
    out.push_back(text.substr(finding.file.size()));
  }
  return out;
}

std::vector<std::string> checked(std::string_view text, const std::string& file = "t.sp") {
  return lines(check_text(text, file));
}

class Checks : public ::testing::Test {
 protected:
  void SetUp() override { pdk::activate_pdk("generic"); }
};

TEST_F(Checks, ACleanHierarchyPassesEveryCheck) {
  const char* netlist =
      ".subckt arm a b\n"
      "X1 a m straight\n"
      "X2 m b bend_euler\n"
      ".ends\n"
      ".subckt top in out1 out2\n"
      "S1 in s1 s2 mmi1x2\n"
      "A1 s1 out1 arm\n"
      "A2 s2 out2 arm\n"
      ".ends\n";
  EXPECT_EQ(checked(netlist), std::vector<std::string>{});
}

// One netlist per dialect check; each line is what the user reads for it.
TEST_F(Checks, DialectMistakesAreNamedAtTheirLines) {
  struct Case {
    const char* name;
    const char* netlist;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"a net past the part's ports",
       ".subckt top a b c\nX1 a b c straight\n.ends\n",
       {":2: error: instance 'X1' (straight) has no port 'o3'; its ports are o1, o2 "
        "[missing-port]"}},
      {"a port on no net",
       ".subckt top a b c\nX1 a b mmi1x2\nX2 c d straight\nX3 d e straight\n.ends\n",
       {":2: warning: port 'o3' of instance 'X1' (mmi1x2) is neither connected nor exposed "
        "[dangling-port]",
        ":4: warning: net 'e' is on 'X3,o2' alone, so it becomes port 'e', which 'top' does not "
        "declare [undeclared-port]"}},
      {"a subcircuit's own ports count",
       ".subckt arm a b\nX1 a b straight\n.ends\n.subckt top in\nA1 in arm\n.ends\n",
       {":5: warning: port 'b' of instance 'A1' (arm) is neither connected nor exposed "
        "[dangling-port]"}},
      {"a component nobody defines",
       ".subckt top a b\nX1 a b ring_filter\n.ends\n",
       {":2: error: component 'ring_filter' of instance 'X1' is neither in kit 'generic' nor a "
        "subcircuit of this file [unknown-component]"}},
      {"unused and empty subcircuits",
       ".subckt spare a\n.ends\n.subckt old a b\nX1 a b straight\n.ends\n"
       ".subckt top a b\nX1 a b straight\n.ends\n",
       {":1: warning: subcircuit 'spare' is never used and is not the top ('top') "
        "[unused-subcircuit]",
        ":1: warning: subcircuit 'spare' has no instances, so the netlist leaves it out "
        "[empty-subcircuit]",
        ":3: warning: subcircuit 'old' is never used and is not the top ('top') "
        "[unused-subcircuit]"}},
      {"an empty subcircuit in use is defined, not unknown",
       ".subckt stub a\n.ends\n.subckt top a\nX1 a stub\n.ends\n",
       {":1: warning: subcircuit 'stub' has no instances, so the netlist leaves it out "
        "[empty-subcircuit]"}},
      {"two ports on one declared port net, once each",
       ".subckt top a b\nX1 a b straight\nX2 b a straight\n.ends\n",
       {":2: error: instance port 'X1,o1' is on port net 'a' with 'X2,o2' (line 3); only the "
        "last one becomes port 'a', so 'X1,o1' is left unconnected [shared-port-net]",
        ":2: error: instance port 'X1,o2' is on port net 'b' with 'X2,o1' (line 3); only the "
        "last one becomes port 'b', so 'X1,o2' is left unconnected [shared-port-net]"}},
      {"misspelt internal net",
       ".subckt top in out\nX1 in n1 straight\nX2 nl out straight\n.ends\n",
       {":2: warning: net 'n1' is on 'X1,o2' alone, so it becomes port 'n1', which 'top' does "
        "not declare; did you mean 'nl'? [undeclared-port]",
        ":3: warning: net 'nl' is on 'X2,o1' alone, so it becomes port 'nl', which 'top' does "
        "not declare; did you mean 'n1'? [undeclared-port]"}},
      {"names on lines the reader rewrote (joined, respaced) as written",
       ".subckt top in out\nX1 in\n+ n1 straight\nX2  nl\tout straight\n.ends\n",
       {":2: warning: net 'n1' is on 'X1,o2' alone, so it becomes port 'n1', which 'top' does "
        "not declare; did you mean 'nl'? [undeclared-port]",
        ":4: warning: net 'nl' is on 'X2,o1' alone, so it becomes port 'nl', which 'top' does "
        "not declare; did you mean 'n1'? [undeclared-port]"}},
      {"misspelt port net, and one-letter nets get no hint",
       ".subckt top in out\nX1 in outt straight\nX2 p q straight\n.ends\n",
       {":2: warning: net 'outt' is on 'X1,o2' alone, so it becomes port 'outt', which 'top' "
        "does not declare; did you mean 'out'? [undeclared-port]",
        ":3: warning: net 'p' is on 'X2,o1' alone, so it becomes port 'p', which 'top' does "
        "not declare [undeclared-port]",
        ":3: warning: net 'q' is on 'X2,o2' alone, so it becomes port 'q', which 'top' does "
        "not declare [undeclared-port]"}},
      {"findings of several subcircuits in line order, the netlist's first within a line",
       ".subckt a x\nX1 x y mmi1x2\n.ends\n.subckt b x y\nX1 x y mmi1x2\nX2 p q straight\n.ends\n"
       ".subckt top i o\nA1 i m a\nB1 m o b\n.ends\n",
       {":2: warning: port 'o3' of instance 'X1' (mmi1x2) is neither connected nor exposed "
        "[dangling-port]",
        ":2: warning: net 'y' is on 'X1,o2' alone, so it becomes port 'y', which 'a' does not "
        "declare [undeclared-port]",
        ":5: warning: port 'o3' of instance 'X1' (mmi1x2) is neither connected nor exposed "
        "[dangling-port]",
        ":6: warning: net 'p' is on 'X2,o1' alone, so it becomes port 'p', which 'b' does not "
        "declare [undeclared-port]",
        ":6: warning: net 'q' is on 'X2,o2' alone, so it becomes port 'q', which 'b' does not "
        "declare [undeclared-port]",
        ":10: warning: port 'p' of instance 'B1' (b) is neither connected nor exposed "
        "[dangling-port]",
        ":10: warning: port 'q' of instance 'B1' (b) is neither connected nor exposed "
        "[dangling-port]"}},
      {"a reading error is the one finding",
       "* header\n.subckt top a\nX1 a b c d e straight\n.ends\n.ends\n",
       {":5: error: .ends before begin. [read-error]"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(checked(c.netlist), c.expected) << c.name;
  }
}

// Large enough to be read on two threads, for the records to fill several blocks, and for
// the dangling ports to be shared out between threads.
TEST_F(Checks, ALongSubcircuitIsNamedAtItsLastLines) {
  constexpr int kChain = 30'000;
  std::string netlist = ".subckt top a b\n";
  for (int i = 0; i < kChain; ++i) {
    netlist += "X";  // appended, not concatenated: g++ 12 misreads the latter
    netlist += std::to_string(i);
    netlist += i == 0 ? " a" : " n" + std::to_string(i);
    netlist += i + 1 == kChain ? " b" : " n" + std::to_string(i + 1);
    netlist += i == 0 || i + 1 == kChain ? " mmi1x2\n" : " straight\n";
  }
  netlist += "Y a bb straight\n.ends\n";
  const std::string last = std::to_string(kChain + 2);
  EXPECT_EQ(checked(netlist),
            (std::vector<std::string>{
                ":2: warning: port 'o3' of instance 'X0' (mmi1x2) is neither connected nor "
                "exposed [dangling-port]",
                ":2: error: instance port 'X0,o1' is on port net 'a' with 'Y,o1' (line " + last +
                    "); only the last one becomes port 'a', so 'X0,o1' is left unconnected "
                    "[shared-port-net]",
                ":30001: warning: port 'o3' of instance 'X29999' (mmi1x2) is neither connected "
                "nor exposed [dangling-port]",
                ":" + last +
                    ": warning: net 'bb' is on 'Y,o2' alone, so it becomes port 'bb', which 'top' "
                    "does not declare; did you mean 'b'? [undeclared-port]"}));
}

// A block opened inside another after some of the outer one's elements takes those elements
// (they join the block the next ".ends" closes): their nets are held to its ports. The
// reader's warnings still come once.
TEST_F(Checks, ABlockInsideABlockTakesTheElementsBeforeIt) {
  std::vector<std::string> warnings;
  std::vector<std::string> found;
  {
    const WarningCapture capture(warnings);
    found = checked(
        ".subckt outer b a\nX1 a m straight length='later'\n.subckt inner a c\nX2 a c straight\n"
        ".ends\nX3 a b straight\n.ends\n.subckt top p q\nI1 p q outer\nJ1 p q inner\n.ends\n");
  }
  EXPECT_EQ(warnings.size(), 1u);
  EXPECT_EQ(found,
            (std::vector<std::string>{
                ":2: error: instance port 'X1,o1' is on port net 'a' with 'X2,o1' (line 4); only "
                "the last one becomes port 'a', so 'X1,o1' is left unconnected [shared-port-net]",
                ":2: warning: net 'm' is on 'X1,o2' alone, so it becomes port 'm', which 'inner' "
                "does not declare [undeclared-port]",
                ":9: error: instance port 'I1,a' is on port net 'p' with 'J1,a' (line 10); only "
                "the last one becomes port 'p', so 'I1,a' is left unconnected [shared-port-net]",
                ":9: error: instance port 'I1,b' is on port net 'q' with 'J1,c' (line 10); only "
                "the last one becomes port 'q', so 'I1,b' is left unconnected [shared-port-net]",
                ":10: warning: port 'm' of instance 'J1' (inner) is neither connected nor exposed "
                "[dangling-port]"}));
}

// Looking an element's nets up as it is read, in the innermost open block's ports, finds what
// keeping them until the block closes finds, on texts with blocks inside blocks and elements
// outside any.
TEST_F(Checks, NetsLookedUpAsReadAgreeWithNetsKept) {
  std::mt19937 random(11);
  const auto pick = [&](std::initializer_list<const char*> words) {
    return std::string(words.begin()[random() % words.size()]);
  };
  for (int round = 0; round < 300; ++round) {
    std::string text;
    int open = 0;
    for (int line = 0; line < 12; ++line) {
      const unsigned what = random() % 8;
      if (what == 0) {
        text += ".subckt ";  // appended, not concatenated: g++ 12 misreads the latter
        text +=
            pick({"s1", "s2", "s3"}) + " " + pick({"a", "b", "c"}) + " " + pick({"a", "b", "d"});
        text += "\n";
        ++open;
      } else if (what == 1 && open > 0) {
        text += ".ends\n";
        --open;
      } else {
        text += "X";
        text += std::to_string(line) + " " + pick({"a", "b", "c", "d", "m"}) + " " +
                pick({"a", "b", "c", "n"}) + " " + pick({"straight", "mmi1x2", "s1", "s2"});
        text += "\n";
      }
    }
    for (; open > 0; --open) text += ".ends\n";
    const auto findings = [&](detail::DialectSource (*read)(std::string_view, const Map&)) {
      try {
        return lines(detail::check_dialect_source(read(text, {}), "t.sp"));
      } catch (const std::exception& error) {
        return std::vector<std::string>{error.what()};
      }
    };
    EXPECT_EQ(findings(detail::read_dialect), findings(detail::read_dialect_keeping_nets)) << text;
  }
}

TEST_F(Checks, TheLaterOfTwoDefinitionsIsChecked) {
  const char* netlist =
      ".subckt arm a b\nX1 a b straight\n.ends\n"
      ".subckt arm a b\nX1 a b mmi1x2\n.ends\n"
      ".subckt top a b\nA1 a b arm\n.ends\n";
  EXPECT_EQ(checked(netlist),
            std::vector<std::string>{":5: warning: port 'o3' of instance 'X1' (mmi1x2) is neither "
                                     "connected nor exposed [dangling-port]"});
}

TEST_F(Checks, NamedValuesReachTheReader) {
  // A value the netlist refers to changes no finding, but must not stop the reading.
  const auto findings =
      check_text(".subckt top a b\nX1 a b straight length='len'\n.ends\n", "t.sp", {{"len", 2}});
  EXPECT_TRUE(findings.empty()) << to_json(findings);
}

// Mistakes that only a netlist written by other means can hold.
TEST_F(Checks, RecursiveNetlistMistakesAreNamedByPath) {
  const std::string straight = R"({"component": "straight", "settings": {}})";
  const auto netlist = [&](const std::string& connections, const std::string& ports) {
    return R"({"top": {"instances": {"u1": )" + straight + R"(, "u2": )" + straight +
           R"(}, "connections": )" + connections + R"(, "ports": )" + ports +
           R"(, "settings": {}, "placements": {}}})";
  };
  struct Case {
    const char* name;
    std::string json;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"connected and exposed",
       netlist(R"({"u1,o2": "u2,o1"})", R"({"in": "u1,o1", "out": "u2,o2", "tap": "u1,o2"})"),
       {":/top/ports/tap: error: instance port 'u1,o2' is connected to 'u2,o1' and exposed as "
        "port 'tap' [connected-and-exposed]"}},
      {"connected twice",
       netlist(R"({"u1,o2": "u2,o1", "u2,o2": "u1,o2"})", R"({"in": "u1,o1"})"),
       {":/top/connections/u2,o2: error: instance port 'u1,o2' is connected to 'u2,o1' and "
        "connected to 'u2,o2' [connected-twice]"}},
      {"exposed twice",
       netlist(R"({"u1,o2": "u2,o1"})", R"({"in": "u1,o1", "out": "u2,o2", "in2": "u1,o1"})"),
       {":/top/ports/in2: error: instance port 'u1,o1' is exposed as port 'in' and exposed as "
        "port 'in2' [connected-twice]"}},
      {"missing instance and missing port",
       netlist(R"({"u1,o2": "u2,o1"})", R"({"in": "u1,o1", "out": "u3,o2", "x": "u2,o9"})"),
       {":/top/ports/out: error: 'u3,o2' names instance 'u3', which subcircuit 'top' does not "
        "have [missing-instance]",
        ":/top/ports/x: error: instance 'u2' (straight) has no port 'o9'; its ports are o1, o2 "
        "[missing-port]",
        ":/top/instances/u2: warning: port 'o2' of instance 'u2' (straight) is neither connected "
        "nor exposed [dangling-port]"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(checked(c.json, "n.json"), c.expected) << c.name;
  }
}

TEST_F(Checks, YamlAndJsonGiveTheSameFindings) {
  const char* yaml =
      "top:\n"
      "  instances:\n"
      "    a1: {component: arm, settings: {}}\n"
      "    x1: {component: coupler, settings: {gap: 0.2}}\n"
      "  connections: {'a1,b': 'x1,o1'}\n"
      "  ports: {in: 'a1,a'}\n"
      "  settings: {}\n"
      "  placements: {a1: {x: 0.0, y: 0.0, rotation: 0.0, port: ''}}\n"
      "arm:\n"
      "  instances: {w: {component: straight, settings: {}}}\n"
      "  connections: {}\n"
      "  ports: {a: 'w,o1', b: 'w,o2'}\n"
      "  settings: {}\n"
      "  placements: {}\n"
      "spare:\n"
      "  instances: {}\n"
      "  connections: {}\n"
      "  ports: {}\n"
      "  settings: {}\n"
      "  placements: {}\n";
  const std::vector<std::string> expected = {
      ":/top/instances/x1: warning: port 'o2' of instance 'x1' (coupler) is neither connected "
      "nor exposed [dangling-port]",
      ":/top/instances/x1: warning: port 'o3' of instance 'x1' (coupler) is neither connected "
      "nor exposed [dangling-port]",
      ":/top/instances/x1: warning: port 'o4' of instance 'x1' (coupler) is neither connected "
      "nor exposed [dangling-port]",
      ":/spare: warning: subcircuit 'spare' is never used and is not the top ('top') "
      "[unused-subcircuit]",
      ":/spare/instances: warning: subcircuit 'spare' has no instances [empty-subcircuit]"};
  EXPECT_EQ(checked(yaml, "n.yaml"), expected);
  EXPECT_EQ(checked(to_json(from_yaml(yaml)), "n.json"), expected);
}

TEST_F(Checks, TheKitDecidesWhichComponentsAreKnown) {
  const char* netlist = ".subckt top a b\nX1 a b ring\n.ends\n";
  EXPECT_EQ(checked(netlist).size(), 1u);
  pdk::Pdk kit;
  kit.name = "rings";
  kit.models["ring"] = sax::Model{{"o2", "o1"}};
  pdk::activate_pdk(pdk::register_pdk(kit).name);
  EXPECT_EQ(checked(netlist), std::vector<std::string>{});
}

TEST_F(Checks, ABrokenDocumentGivesSchemaFindingsOnly) {
  const auto findings =
      check_text(R"({"top": {"instances": {"u1": {"component": "nowhere", "settings": {}}},)"
                 R"( "connections": {"u1o2": "u1,o1"}, "ports": {}, "settings": {}}})",
                 "n.json");
  EXPECT_EQ(lines(findings),
            (std::vector<std::string>{
                ":/top: error: missing key 'placements' [schema]",
                ":/top/connections: error: key 'u1o2' is not an instance port (instance,port) "
                "[schema]"}));
  EXPECT_EQ(findings[0].subcircuit, "top");
}

// The checker applies the published schema: it rejects the files the Python test rejects and
// accepts every golden output.
TEST_F(Checks, SchemaAgreesOnTheSharedCorpus) {
  const fs::path data = ORVELLE_TEST_DATA;
  for (const auto& entry : fs::directory_iterator(data / "schema" / "broken")) {
    const auto findings = check_text(read(entry.path()), entry.path().filename().string());
    ASSERT_FALSE(findings.empty()) << entry.path();
    for (const Finding& finding : findings) {
      EXPECT_EQ(finding.check, "schema") << to_text(finding);
    }
  }
  for (const auto& entry : fs::directory_iterator(data / "golden")) {
    if (entry.path().extension() != ".json") continue;
    for (const Finding& finding : check_text(read(entry.path()), "golden.json")) {
      EXPECT_NE(finding.check, "schema") << entry.path() << ": " << to_text(finding);
    }
  }
  EXPECT_EQ(recursive_netlist_schema(),
            read(data / ".." / ".." / "schema" / "recursive-netlist.schema.json"));
}

TEST_F(Checks, UnreadableInputIsOneReadError) {
  const std::pair<std::string, std::string> cases[] = {
      {"n.json", "{\"top\": "},
      {"n.yaml", "top: [unclosed\n"},
  };
  for (const auto& [file, text] : cases) {
    const auto findings = check_text(text, file);
    ASSERT_EQ(findings.size(), 1u) << file;
    EXPECT_EQ(findings[0].check, "read-error") << file;
    EXPECT_EQ(findings[0].severity, Severity::error) << file;
  }
  const auto missing = check_file("/nonexistent/net.sp");
  ASSERT_EQ(missing.size(), 1u);
  EXPECT_EQ(to_text(missing[0]),
            "/nonexistent/net.sp: error: cannot open the file: No such file or directory "
            "[read-error]");
}

TEST_F(Checks, JsonListsEveryField) {
  Finding from_dialect{"a.sp", 3, "", Severity::warning, "dangling-port", "top", "m"};
  Finding from_yaml{"b.yaml", 0, "", Severity::error, "schema", "", "n"};
  EXPECT_EQ(to_json({from_dialect, from_yaml}),
            R"([{"file":"a.sp","line":3,"severity":"warning","check":"dangling-port",)"
            R"("subcircuit":"top","message":"m"},{"file":"b.yaml","path":"","severity":"error",)"
            R"("check":"schema","subcircuit":null,"message":"n"}])");
}

TEST(NearestNames, OneEditIsAnAddedDroppedChangedOrSwappedCharacter) {
  const std::tuple<const char*, const char*, bool> pairs[] = {
      {"n1", "nl", true},     {"out", "outt", true},   {"out", "ou", true},
      {"abcd", "abdc", true}, {"abcd", "badc", false}, {"net", "ten", false},
      {"a", "abc", false},    {"", "a", true},         {"same", "same", true},
  };
  for (const auto& [a, b, near] : pairs) {
    EXPECT_EQ(detail::one_edit_apart(a, b), near) << a << " " << b;
    EXPECT_EQ(detail::one_edit_apart(b, a), near) << b << " " << a;
  }
  const std::vector<std::string_view> names = {"alpha", "beta", "gamma", "gama",
                                               "betta", "gamm", "delta", "beta"};
  // beta: betta; gamma and gama: each other, the first of two; betta: the first beta;
  // the second beta: betta, not itself nor the first beta.
  const std::vector<std::optional<std::size_t>> nearest = {std::nullopt, 4, 3, 2, 1, 2,
                                                           std::nullopt, 4};
  EXPECT_EQ(detail::nearest_names(names), nearest);
}

TEST(NearestNames, FindsWhatComparingEveryPairFinds) {
  // Many near names from a small alphabet, so that keys share groups and runs, and some
  // too long for the dropped-character keys.
  std::mt19937 random(7);
  std::vector<std::string> texts;
  for (int i = 0; i < 3000; ++i) {
    const std::size_t length = i % 500 == 0 ? 64 + random() % 3 : random() % 6;
    std::string text;
    for (std::size_t c = 0; c < length; ++c) text += "abc"[random() % 3];
    texts.push_back(text);
  }
  const std::vector<std::string_view> names(texts.begin(), texts.end());
  std::vector<std::optional<std::size_t>> expected(names.size());
  for (std::size_t j = 0; j < names.size(); ++j) {
    for (std::size_t i = 0; i < names.size() && !expected[j]; ++i) {
      if (names[i] != names[j] && detail::one_edit_apart(names[i], names[j])) expected[j] = i;
    }
  }
  EXPECT_EQ(detail::nearest_names(names), expected);
}

}  // namespace
}  // namespace orvelle::check
