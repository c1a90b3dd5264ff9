#pragma once
/// The client of the draftbot generation service: one prompt out, one netlist back, over a
/// WebSocket secured by TLS.
///
///   boost::asio::io_context loop;
///   auto task = orvelle::serve::websocket_client("a ring resonator",
///   "wss://draftbot.orvelle.dev/ws",
///                                                "generic");
///   boost::asio::co_spawn(loop, std::move(task), handler);
///   loop.run();
///
/// The exchange: the client sends {"type": "generate", "prompt": ..., "pdk_name": ...}, then
/// reads any number of {"type": "progress", "message": ...} and exactly one
/// {"type": "netlist", "netlist": ...} (the result) or {"type": "error", "message": ...}.

#include <boost/asio/awaitable.hpp>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "orvelle/value.hpp"

namespace orvelle::serve {

/// Everything that goes wrong with the service: a bad URL, a failed connection or
/// certificate check, a timeout, a broken protocol or an error the service reports.
/// what() is one line, fit to show to the user.
class ServiceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ClientLimits {
  /// Connecting, the TLS handshake and the WebSocket upgrade together.
  std::chrono::milliseconds handshake{std::chrono::seconds(30)};
  /// Longest wait for the next bytes of the service's answer.
  std::chrono::milliseconds silence{std::chrono::seconds(120)};
  /// Largest message accepted; a netlist is large, but not without bound.
  std::size_t max_message = std::size_t{64} << 20;
};

struct ClientOptions {
  ClientLimits limits;
  /// PEM certificates trusted besides the system store (which honours SSL_CERT_FILE and
  /// SSL_CERT_DIR). Certificates are always verified; there is no way to turn that off.
  std::string extra_ca_pem;
  /// A TOML file whose tool.orvelle.api.key, when it can be read, is sent as
  /// "Authorization: Bearer KEY". Empty: no key is sent.
  std::filesystem::path api_key_file;
  /// Receives each progress message. Unset: a one-line status on standard error when it is
  /// a terminal, nothing otherwise.
  std::function<void(std::string_view)> on_progress;
};

/// Asks the service at `url` ("wss://HOST[:PORT]/PATH"; "ws://" only for a loopback host)
/// for a netlist made from `prompt` with the kit `pdk_name`, and yields the netlist.
/// Throws ServiceError.
boost::asio::awaitable<Value> websocket_client(std::string prompt, std::string url,
                                               std::string pdk_name, ClientOptions options = {});

}  // namespace orvelle::serve
