#include "orvelle/serve/draftbot.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>

#include "orvelle/core/cli/draftbot.hpp"
#include "orvelle/serve/detail.hpp"
#include "support/service.hpp"
#include "support/temp_folder.hpp"
#include "orvelle/codec/json.hpp"

namespace orvelle::serve {
namespace {

namespace fs = std::filesystem;
namespace t = orvelle::testing;
using namespace std::chrono_literals;

const t::Certificates& local_certificates() {
  static const t::Certificates certificates = t::make_certificates({"localhost", "127.0.0.1"});
  return certificates;
}

const char* const netlist_reply =
    R"({"type": "netlist", "netlist": {"ring": {"instances": {"r1": {"component": "ring",)"
    R"( "settings": {"radius": 5.0, "gap": 2}}}, "ports": {"in0": "r1,o1"}}}})";

// Each test gets its own home folder, so the stored API key is the test's to choose.
class ServiceClient : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv("HOME")) old_home_ = old;
    ::setenv("HOME", home_.c_str(), 1);
  }
  void TearDown() override {
    if (old_home_) ::setenv("HOME", old_home_->c_str(), 1);
  }

  void store_configuration(const std::string& toml) {
    fs::create_directories(home_ / ".kelvara");
    std::ofstream(home_ / ".kelvara" / "orvelle.toml") << toml;
  }

  static std::string url(const t::Service& service, const std::string& host = "127.0.0.1",
                         const std::string& scheme = "wss") {
    return scheme + "://" + host + ":" + std::to_string(service.port()) + "/ws";
  }

  static Value ask(const std::string& url, ClientOptions options = {}) {
    if (options.extra_ca_pem.empty()) options.extra_ca_pem = local_certificates().ca_pem;
    return cli::call_websocket_client("a ring", url, "generic", options);
  }

  // The message of the error the exchange ends in.
  static std::string failure(const std::string& url, ClientOptions options = {}) {
    try {
      ask(url, std::move(options));
    } catch (const ServiceError& e) {
      return e.what();
    }
    return "(no error)";
  }

  testing::TempFolder temp_;
  const fs::path& home_ = temp_.path();
  std::optional<std::string> old_home_;
};

TEST_F(ServiceClient, SendsThePromptAndReturnsTheNetlist) {
  store_configuration("[tool.orvelle.api]\nkey = \"sk-123\"\nnickname = \"lab\"\n");
  t::Service service(
      t::play({t::text(R"({"type": "progress", "message": "thinking"})"),
               t::text(R"({"type": "progress", "message": "placing"})"), t::text(netlist_reply)}),
      &local_certificates());
  std::vector<std::string> progress;
  ClientOptions options;
  options.on_progress = [&](std::string_view message) { progress.emplace_back(message); };

  const Value netlist = ask(url(service), options);

  EXPECT_EQ(netlist, from_json(netlist_reply).as_map().at("netlist"));
  EXPECT_EQ(progress, (std::vector<std::string>{"thinking", "placing"}));
  const t::Received received = service.received();
  EXPECT_EQ(received.first_message,
            R"({"type":"generate","prompt":"a ring","pdk_name":"generic"})");
  EXPECT_EQ(received.target, "/ws");
  EXPECT_EQ(received.user_agent, "orvelle/0.1.0");
  EXPECT_EQ(received.authorization, "Bearer sk-123");
}

TEST_F(ServiceClient, AsksWithoutAKeyWhenNoneCanBeRead) {
  t::Service service(t::play({t::text(netlist_reply)}), &local_certificates());
  const char* const configurations[] = {
      nullptr,                                     // no file at all
      "this is [not toml",                         // unreadable
      "[tool.orvelle.api]\nnickname = \"lab\"\n",  // no key
      "[tool.orvelle.api]\nkey = \"\"\n",          // an empty key
      "[tool.orvelle.api]\nkey = 42\n",            // not a text
  };
  for (const char* configuration : configurations) {
    fs::remove_all(home_ / ".kelvara");
    if (configuration) store_configuration(configuration);
    ask(url(service));
    EXPECT_FALSE(service.received().has_authorization)
        << "for " << (configuration ? configuration : "no file");
  }
  fs::remove_all(home_ / ".kelvara");
  fs::create_directories(home_ / ".kelvara" / "orvelle.toml");  // a folder where the file goes
  ask(url(service));
  EXPECT_FALSE(service.received().has_authorization);
}

TEST_F(ServiceClient, RefusesAKeyThatWouldSplitTheHeader) {
  store_configuration("[tool.orvelle.api]\nkey = \"sk\\r\\nX-Evil: 1\"\n");
  t::Service service(t::play({t::text(netlist_reply)}), &local_certificates());
  EXPECT_NE(failure(url(service)).find("holds control characters"), std::string::npos);
}

// The start of a server's text or binary frame announcing `length` bytes of payload.
std::string frame_header(unsigned char first, std::uint64_t length) {
  std::string header(1, static_cast<char>(first));
  const int bytes = length < 126 ? 0 : length < 65536 ? 2 : 8;
  header += static_cast<char>(bytes == 0 ? length : bytes == 2 ? 126 : 127);
  for (int i = bytes - 1; i >= 0; --i) header += static_cast<char>(length >> (8 * i));
  return header;
}

t::Script stalled_handshake() {
  t::Script script;
  script.stall_handshake = true;
  return script;
}

TEST_F(ServiceClient, ReportsEachWayTheServiceFails) {
  struct Case {
    const char* name;
    t::Script script;
    ClientLimits limits;
    const char* expected;  // a regular expression the message must contain
  };
  const ClientLimits normal;
  ClientLimits small = normal;
  small.max_message = 1024;
  ClientLimits impatient = normal;
  impatient.silence = 300ms;
  impatient.handshake = 300ms;
  const std::string deep = std::string(100'000, '[') + std::string(100'000, ']');
  const Case cases[] = {
      {"error frame",
       t::play({t::text(R"({"type": "progress", "message": "x"})"),
                t::text(R"({"type": "error", "message": "unknown kit\nfoo"})")}),
       normal, "^the service reported an error: unknown kit foo$"},
      {"early close", t::play({t::close("going away")}), normal,
       "closed the connection before sending a netlist: going away$"},
      {"not JSON", t::play({t::text("hello")}), normal, "that is not JSON: hello$"},
      {"not an object", t::play({t::text("[1, 2]")}), normal, "not an object: \\[1, 2\\]"},
      {"no type", t::play({t::text(R"({"netlist": {}})")}), normal, "without a \"type\""},
      {"unknown type", t::play({t::text(R"({"type": "done"})")}), normal, "unknown type \"done\""},
      {"netlist missing", t::play({t::text(R"({"type": "netlist"})")}), normal,
       "netlist message without \"netlist\""},
      {"binary", t::play({t::binary("{}")}), normal, "binary message of 2 bytes"},
      {"over the limit", t::play({t::text(std::string(2000, ' ') + netlist_reply)}), small,
       "larger than the limit of 1024 bytes"},
      {"a header claiming a terabyte",
       t::play({t::raw(frame_header(0x81, std::uint64_t{1} << 40)), t::stall()}), normal,
       "larger than the limit of 64 MiB"},
      {"invalid UTF-8", t::play({t::raw("\x81\x04\"\xff\xfe\""), t::stall()}), normal,
       "not valid UTF-8"},
      {"too deep", t::play({t::text(deep)}), normal, "that is not JSON: \\[\\[\\[.*\\.\\.\\.$"},
      {"silent", t::play({t::stall()}), impatient, "sent nothing for 300 ms$"},
      {"silent mid-message", t::play({t::raw(frame_header(0x81, 100) + "{\"type\""), t::stall()}),
       impatient, "sent nothing for 300 ms$"},
      {"reset mid-message", t::play({t::raw(frame_header(0x81, 100) + "{\"type\""), t::reset()}),
       normal, "(lost the connection to|ended before a netlist came)"},
      {"upgrade refused", t::refuse_upgrade(403), normal,
       "refused the WebSocket upgrade: HTTP 403 Forbidden; check the API key"},
      {"server error", t::refuse_upgrade(502), normal, "upgrade: HTTP 502 Bad Gateway$"},
      {"stalled handshake", stalled_handshake(), impatient,
       "^no WebSocket connection to wss://127.0.0.1:[0-9]+/ws within 300 ms$"},
  };
  for (const Case& c : cases) {
    t::Service service(c.script, &local_certificates());
    ClientOptions options;
    options.limits = c.limits;
    const std::string message = failure(url(service), options);
    EXPECT_TRUE(std::regex_search(message, std::regex(c.expected))) << c.name << ": " << message;
  }
}

TEST_F(ServiceClient, ChecksTheCertificateAndItsName) {
  const t::Certificates stranger = t::make_certificates({"localhost", "127.0.0.1"});
  const t::Certificates other_name = t::make_certificates({"other.example"});
  t::Service untrusted(t::play({t::text(netlist_reply)}), &stranger);
  t::Service misnamed(t::play({t::text(netlist_reply)}), &other_name);
  ClientOptions trust_other;
  trust_other.extra_ca_pem = other_name.ca_pem;

  EXPECT_EQ(failure(url(untrusted)),
            "the certificate of 127.0.0.1 was refused: unable to get local issuer certificate");
  EXPECT_EQ(failure(url(misnamed, "localhost"), trust_other),
            "the certificate of localhost was refused: hostname mismatch");
  EXPECT_EQ(failure(url(misnamed), trust_other),
            "the certificate of 127.0.0.1 was refused: IP address mismatch");
  // The name the certificate does carry passes, so the checks above are about the name.
  t::Service named(t::play({t::text(netlist_reply)}), &local_certificates());
  EXPECT_TRUE(ask(url(named, "localhost")).is_map());
}

TEST_F(ServiceClient, SpeaksInTheClearOnlyToThisMachine) {
  t::Service plain(t::play({t::text(netlist_reply)}));
  EXPECT_TRUE(ask(url(plain, "127.0.0.1", "ws")).is_map());
  EXPECT_TRUE(std::regex_search(failure(url(plain, "127.0.0.1")), std::regex("TLS handshake")));
}

TEST_F(ServiceClient, NamesTheAddressItCannotReach) {
  std::string closed_port;
  {
    t::Service gone(t::play({}));
    closed_port = std::to_string(gone.port());
  }
  EXPECT_TRUE(std::regex_search(failure("wss://127.0.0.1:" + closed_port + "/ws"),
                                std::regex("^cannot connect to 127.0.0.1:[0-9]+: Connection "
                                           "refused$")));
  EXPECT_EQ(failure("wss://127.0.0.1:1/ws?\x01"),
            "invalid service URL \"wss://127.0.0.1:1/ws? \": blanks or control characters in "
            "the path");
}

TEST(ServiceUrl, SplitsWhatTheClientNeeds) {
  struct Case {
    const char* url;
    bool secure;
    const char* host;
    const char* port;
    const char* target;
    const char* host_field;
  };
  const Case cases[] = {
      {"wss://draftbot.orvelle.dev/ws", true, "draftbot.orvelle.dev", "443", "/ws",
       "draftbot.orvelle.dev"},
      {"WSS://Example.com:8443/ws?v=2#top", true, "Example.com", "8443", "/ws?v=2",
       "Example.com:8443"},
      {"wss://example.com", true, "example.com", "443", "/", "example.com"},
      {"wss://example.com:443?x", true, "example.com", "443", "/?x", "example.com"},
      {"ws://localhost:9000/ws", false, "localhost", "9000", "/ws", "localhost:9000"},
      {"ws://127.0.0.2/ws", false, "127.0.0.2", "80", "/ws", "127.0.0.2"},
      {"ws://[::1]:9000/ws", false, "::1", "9000", "/ws", "[::1]:9000"},
      {"wss://[2001:db8::1]/ws", true, "2001:db8::1", "443", "/ws", "[2001:db8::1]"},
  };
  for (const Case& c : cases) {
    const detail::ServiceUrl url = detail::parse_service_url(c.url);
    EXPECT_EQ(url.secure, c.secure) << c.url;
    EXPECT_EQ(url.host, c.host) << c.url;
    EXPECT_EQ(url.port, c.port) << c.url;
    EXPECT_EQ(url.target, c.target) << c.url;
    EXPECT_EQ(url.host_field, c.host_field) << c.url;
  }
}

TEST(ServiceUrl, RefusesWhatItCannotUseSafely) {
  const std::pair<const char*, const char*> cases[] = {
      {"draftbot.orvelle.dev/ws", "expected wss://"},
      {"https://example.com/ws", "the scheme must be wss"},
      {"ws://example.com/ws", "accepted only for a loopback host"},
      {"ws://10.0.0.1/ws", "accepted only for a loopback host"},
      {"ws://localhost.evil.com/ws", "accepted only for a loopback host"},
      {"wss://user:pw@example.com/ws", "user information is not allowed"},
      {"wss:///ws", "missing or malformed host"},
      {"wss://exa mple.com/ws", "missing or malformed host"},
      {"wss://example.com:0/ws", "malformed port"},
      {"wss://example.com:65536/ws", "malformed port"},
      {"wss://example.com:/ws", "malformed port"},
      {"wss://example.com:+80/ws", "malformed port"},
      {"wss://[::1/ws", "unclosed '['"},
      {"wss://[nope]/ws", "not an IPv6 address"},
      {"wss://example.com/a b", "blanks or control characters"},
      {"wss://example.com/\xC3\xA9", "blanks or control characters"},
  };
  for (const auto& [url, reason] : cases) {
    try {
      detail::parse_service_url(url);
      ADD_FAILURE() << url << " was accepted";
    } catch (const ServiceError& e) {
      const std::string message = e.what();
      EXPECT_NE(message.find("service URL \"" + std::string(url) + "\""), std::string::npos)
          << message;
      EXPECT_NE(message.find(reason), std::string::npos) << url << ": " << message;
    }
  }
}

TEST(OneLine, KeepsTheTerminalSafe) {
  EXPECT_EQ(detail::one_line("plain \xC3\xA9t\xC3\xA9", 80), "plain \xC3\xA9t\xC3\xA9");
  EXPECT_EQ(detail::one_line("a\nb\r\x1b[2Jc\x7f", 80), "a b  [2Jc ");
  EXPECT_EQ(detail::one_line("csi\xC2\x9B"
                             "31m",
                             80),
            "csi 31m");  // a one-byte escape in C1
  EXPECT_EQ(detail::one_line("bad\xFF\xC3", 80), "bad??");
  EXPECT_EQ(detail::one_line("\xC3\xA9\xC3\xA9\xC3\xA9", 2), "\xC3\xA9\xC3\xA9...");
  EXPECT_EQ(detail::one_line("abc", 3), "abc");
}

}  // namespace
}  // namespace orvelle::serve
