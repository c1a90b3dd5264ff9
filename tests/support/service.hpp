#pragma once
// A scripted draftbot service for the tests: a WebSocket server on 127.0.0.1, over TLS with
// certificates made at test time, or in the clear. It records what the client sent and then
// plays its script.

#include <memory>
#include <string>
#include <vector>

namespace orvelle::testing {

struct Certificates {
  std::string ca_pem;    // the authority a client must trust
  std::string cert_pem;  // the server's certificate, signed by it
  std::string key_pem;
};

/// A fresh authority and a server certificate for `names` (host names or IP addresses).
Certificates make_certificates(const std::vector<std::string>& names);

struct Step {
  enum class Kind { text, binary, raw, close, stall, reset };
  Kind kind;
  std::string payload;  // a message, raw bytes on the stream, or a close reason
};
inline Step text(std::string message) {
  return {Step::Kind::text, std::move(message)};
}
inline Step binary(std::string message) {
  return {Step::Kind::binary, std::move(message)};
}
/// Bytes written past the WebSocket framing, to send what a proper server never would.
inline Step raw(std::string bytes) {
  return {Step::Kind::raw, std::move(bytes)};
}
inline Step close(std::string reason = "") {
  return {Step::Kind::close, std::move(reason)};
}
/// Says nothing more and keeps the connection open.
inline Step stall() {
  return {Step::Kind::stall, {}};
}
/// Drops the connection with a TCP reset.
inline Step reset() {
  return {Step::Kind::reset, {}};
}

struct Script {
  std::vector<Step> steps;       // played after the client's first message
  int refuse_status = 0;         // answer the upgrade with this HTTP status instead
  bool stall_handshake = false;  // accept the connection, then never answer
};

inline Script play(std::vector<Step> steps) {
  Script script;
  script.steps = std::move(steps);
  return script;
}
inline Script refuse_upgrade(int status) {
  Script script;
  script.refuse_status = status;
  return script;
}

struct Received {
  std::string target;
  std::string user_agent;
  std::string authorization;
  bool has_authorization = false;
  std::string first_message;
};

class Service {
 public:
  /// Serves over TLS with `certificates`; without them, in the clear.
  explicit Service(Script script, const Certificates* certificates = nullptr);
  ~Service();
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  unsigned short port() const;
  /// What the latest client sent.
  Received received() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace orvelle::testing
