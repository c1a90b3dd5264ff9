#include "orvelle/serve/draftbot.hpp"

#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>

#include <iostream>
#include <memory>
#include <type_traits>

#include "orvelle/serve/detail.hpp"
#include "orvelle/version.hpp"
#include "orvelle/codec/json.hpp"

namespace orvelle::serve {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace ssl = asio::ssl;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using boost::system::error_code;

auto with(error_code& ec) {
  return asio::redirect_error(asio::use_awaitable, ec);
}

std::string describe(std::chrono::milliseconds limit) {
  if (limit.count() % 1000 == 0) return std::to_string(limit.count() / 1000) + " s";
  return std::to_string(limit.count()) + " ms";
}

std::string describe_size(std::size_t bytes) {
  if (bytes % (1u << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
  return std::to_string(bytes) + " bytes";
}

// Closes the connection when a limit passes, so that whatever operation waits on it ends.
class Watchdog {
 public:
  Watchdog(asio::any_io_executor executor, std::function<void()> on_expiry)
      : timer_(executor), state_(std::make_shared<State>()) {
    state_->on_expiry = std::move(on_expiry);
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  void arm(std::chrono::milliseconds limit) {
    const auto generation = ++state_->generation;
    timer_.expires_after(limit);
    // A weak reference: the handler may run after the exchange is over and gone.
    timer_.async_wait([state = std::weak_ptr<State>(state_), generation](error_code ec) {
      const auto live = state.lock();
      if (ec || !live || live->generation != generation) return;
      live->fired = true;
      live->on_expiry();
    });
  }
  bool fired() const { return state_->fired; }

 private:
  struct State {
    std::function<void()> on_expiry;
    unsigned generation = 0;
    bool fired = false;
  };
  asio::steady_timer timer_;
  std::shared_ptr<State> state_;
};

// Progress as a status line that rewrites itself, on a terminal only.
class ProgressDisplay {
 public:
  explicit ProgressDisplay(std::function<void(std::string_view)> sink)
      : sink_(std::move(sink)), terminal_(!sink_ && ::isatty(STDERR_FILENO) == 1) {}
  ProgressDisplay(const ProgressDisplay&) = delete;
  ProgressDisplay& operator=(const ProgressDisplay&) = delete;
  ~ProgressDisplay() {
    if (shown_) std::cerr << "\r\033[K" << std::flush;
  }

  void show(std::string_view message) {
    if (sink_) return sink_(message);
    if (!terminal_) return;
    std::cerr << "\r\033[K" << detail::one_line(message, width() - 1) << std::flush;
    shown_ = true;
  }

 private:
  static std::size_t width() {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1) return size.ws_col;
    return 80;
  }

  std::function<void(std::string_view)> sink_;
  bool terminal_;
  bool shown_ = false;
};

ssl::context make_tls_context(const std::string& extra_ca_pem) {
  ssl::context context(ssl::context::tls_client);
  SSL_CTX_set_min_proto_version(context.native_handle(), TLS1_2_VERSION);
  context.set_default_verify_paths();
  if (!extra_ca_pem.empty()) context.add_certificate_authority(asio::buffer(extra_ca_pem));
  context.set_verify_mode(ssl::verify_peer);
  return context;
}

// The connection types, apart from the library's own so that ending them is ours to say:
// the WebSocket closing handshake already tells the service we are done, so the transport
// is cut at once instead of waiting for the service's goodbye. A service that stalls then
// costs no time, and a protocol failure is reported as itself, not as the stalled teardown
// that would follow it.
class PlainStream : public tcp::socket {
 public:
  using tcp::socket::socket;
};

class TlsStream : public ssl::stream<tcp::socket> {
 public:
  using ssl::stream<tcp::socket>::stream;
};

template <class Stream, class Handler>
requires std::is_same_v<Stream, PlainStream> || std::is_same_v<Stream, TlsStream>
void async_teardown(beast::role_type, Stream& stream, Handler&& handler) {
  error_code ignored;
  auto& socket = beast::get_lowest_layer(stream);
  socket.shutdown(tcp::socket::shutdown_both, ignored);
  socket.close(ignored);
  asio::post(stream.get_executor(),
             beast::bind_front_handler(std::forward<Handler>(handler), error_code{}));
}

template <class Stream>
constexpr bool is_tls = std::is_same_v<Stream, TlsStream>;

// One run of the protocol over a WebSocket on `Stream` (a TLS stream or, for a loopback
// host, a plain socket).
template <class Stream>
class Exchange {
 public:
  Exchange(asio::any_io_executor executor, Stream&& stream, std::string url,
           detail::ServiceUrl where, const ClientOptions& options)
      : ws_(std::move(stream)),
        resolver_(executor),
        url_(std::move(url)),
        where_(std::move(where)),
        options_(options),
        watchdog_(executor, [this] {
          resolver_.cancel();
          error_code ignored;
          beast::get_lowest_layer(ws_).close(ignored);
        }) {}

  asio::awaitable<Value> run(std::string request, std::optional<std::string> key) {
    ProgressDisplay progress(options_.on_progress);
    watchdog_.arm(options_.limits.handshake);
    co_await connect();
    co_await upgrade(key);
    watchdog_.arm(options_.limits.silence);
    error_code ec;
    ws_.text(true);
    co_await ws_.async_write(asio::buffer(request), with(ec));
    if (ec) fail_reading(ec);
    Value netlist = co_await receive(progress);
    watchdog_.arm(options_.limits.handshake);
    // The netlist is in hand: a close the service botches does not undo it.
    co_await ws_.async_close(websocket::close_code::normal, with(ec));
    co_return netlist;
  }

 private:
  asio::awaitable<void> connect() {
    error_code ec;
    auto endpoints = co_await resolver_.async_resolve(where_.host, where_.port, with(ec));
    if (ec) fail_connecting("cannot resolve " + where_.host, ec);
    std::vector<tcp::endpoint> targets;
    for (const auto& entry : endpoints) {
      // Without TLS nothing but a loopback address may carry the prompt and the key.
      if (is_tls<Stream> || entry.endpoint().address().is_loopback()) {
        targets.push_back(entry.endpoint());
      }
    }
    if (targets.empty()) throw ServiceError(where_.host + " is not a loopback host; use wss://");
    co_await asio::async_connect(beast::get_lowest_layer(ws_), targets, with(ec));
    if (ec) fail_connecting("cannot connect to " + where_.host_field, ec);
    if constexpr (is_tls<Stream>) co_await handshake_tls();
  }

  asio::awaitable<void> handshake_tls() {
    SSL* connection = ws_.next_layer().native_handle();
    identify_peer(connection);
    error_code ec;
    co_await ws_.next_layer().async_handshake(ssl::stream_base::client, with(ec));
    if (!ec) co_return;
    const long verdict = SSL_get_verify_result(connection);
    if (verdict != X509_V_OK && !watchdog_.fired()) {
      throw ServiceError("the certificate of " + where_.host +
                         " was refused: " + X509_verify_cert_error_string(verdict));
    }
    fail_connecting("TLS handshake with " + where_.host_field + " failed", ec);
  }

  // Sends the host name (SNI) and makes the handshake fail unless the certificate names it.
  void identify_peer(SSL* connection) {
    X509_VERIFY_PARAM* check = SSL_get0_param(connection);
    const bool address = X509_VERIFY_PARAM_set1_ip_asc(check, where_.host.c_str()) == 1;
    if (address) return;  // SNI carries names only
    SSL_set_hostflags(connection, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    if (SSL_set1_host(connection, where_.host.c_str()) != 1 ||
        SSL_set_tlsext_host_name(connection, where_.host.c_str()) != 1) {
      throw ServiceError("cannot check the certificate of " + where_.host);
    }
  }

  asio::awaitable<void> upgrade(const std::optional<std::string>& key) {
    ws_.set_option(websocket::stream_base::decorator([&key](websocket::request_type& request) {
      request.set(http::field::user_agent, "orvelle/" + std::string(version));
      if (key) request.set(http::field::authorization, "Bearer " + *key);
    }));
    ws_.read_message_max(options_.limits.max_message);
    websocket::response_type response;
    error_code ec;
    co_await ws_.async_handshake(response, where_.host_field, where_.target, with(ec));
    if (ec == websocket::error::upgrade_declined) {
      std::string refusal = "the service at " + url_ + " refused the WebSocket upgrade: HTTP " +
                            std::to_string(response.result_int()) + " " +
                            detail::one_line(response.reason(), 80);
      if (response.result() == http::status::unauthorized ||
          response.result() == http::status::forbidden) {
        refusal += "; check the API key stored with orvelle configure";
      }
      throw ServiceError(refusal);
    }
    if (ec) fail_connecting("WebSocket upgrade with " + url_ + " failed", ec);
  }

  asio::awaitable<Value> receive(ProgressDisplay& progress) {
    beast::flat_buffer buffer;
    for (;;) {
      co_await read_message(buffer);
      if (!ws_.got_text()) {
        throw ServiceError("the service sent a binary message of " + std::to_string(buffer.size()) +
                           " bytes instead of JSON text");
      }
      const std::string_view text(static_cast<const char*>(buffer.data().data()), buffer.size());
      Value message = parse(text);
      if (auto netlist = take_result(message, text, progress)) co_return std::move(*netlist);
    }
  }

  // Reads one whole message, restarting the silence limit whenever bytes arrive, so a large
  // netlist on a slow link is not cut off while it still flows.
  asio::awaitable<void> read_message(beast::flat_buffer& buffer) {
    buffer.clear();
    error_code ec;
    do {
      watchdog_.arm(options_.limits.silence);
      co_await ws_.async_read_some(buffer, 0, with(ec));
      if (ec) fail_reading(ec);
    } while (!ws_.is_message_done());
  }

  static Value parse(std::string_view text) {
    Value message;
    try {
      message = from_json(text);
    } catch (const std::invalid_argument&) {
      // The parser's own words name byte offsets and tokens; the excerpt says more.
      throw ServiceError("the service sent a message that is not JSON: " + excerpt(text));
    }
    if (!message.is_map()) {
      throw ServiceError("the service sent JSON that is not an object: " + excerpt(text));
    }
    return message;
  }

  static std::optional<Value> take_result(Value& message, std::string_view text,
                                          ProgressDisplay& progress) {
    Map& fields = message.as_map();
    const auto type = fields.find("type");
    if (type == fields.end() || !type->second.is_string()) {
      throw ServiceError("the service sent a message without a \"type\": " + excerpt(text));
    }
    const std::string_view kind = type->second.as_string();
    const auto text_of = [&fields](std::string_view key) -> std::optional<std::string> {
      const auto found = fields.find(key);
      if (found == fields.end()) return std::nullopt;
      return found->second.is_string() ? std::string(found->second.as_string())
                                        : to_json(found->second);
    };
    if (kind == "progress") {
      progress.show(text_of("message").value_or(""));
      return std::nullopt;
    }
    if (kind == "error") {
      throw ServiceError("the service reported an error: " +
                         detail::one_line(text_of("message").value_or("(no message)"), 1000));
    }
    if (kind == "netlist") {
      auto netlist = fields.find("netlist");
      if (netlist == fields.end()) {
        throw ServiceError("the service sent a netlist message without \"netlist\": " +
                           excerpt(text));
      }
      return std::move(netlist.value());
    }
    throw ServiceError("the service sent a message of unknown type \"" +
                       detail::one_line(kind, 80) + "\"");
  }

  static std::string excerpt(std::string_view text) { return detail::one_line(text, 80); }

  [[noreturn]] void fail_connecting(const std::string& what, const error_code& ec) const {
    if (watchdog_.fired()) {
      throw ServiceError("no WebSocket connection to " + url_ + " within " +
                         describe(options_.limits.handshake));
    }
    throw ServiceError(what + ": " + ec.message());
  }

  [[noreturn]] void fail_reading(const error_code& ec) const {
    if (watchdog_.fired()) {
      throw ServiceError("the service at " + url_ + " sent nothing for " +
                         describe(options_.limits.silence));
    }
    if (ec == websocket::error::message_too_big || ec == websocket::error::buffer_overflow) {
      throw ServiceError("the service sent a message larger than the limit of " +
                         describe_size(options_.limits.max_message));
    }
    if (ec == websocket::error::bad_frame_payload) {
      throw ServiceError("the service sent a text message that is not valid UTF-8");
    }
    if (ec == websocket::error::closed) {
      const auto& reason = ws_.reason();
      std::string closed = "the service closed the connection before sending a netlist";
      if (!reason.reason.empty()) closed += ": " + detail::one_line(reason.reason.c_str(), 200);
      throw ServiceError(closed);
    }
    if (ec == asio::error::eof || ec == ssl::error::stream_truncated) {
      throw ServiceError("the connection to " + url_ + " ended before a netlist came");
    }
    throw ServiceError("lost the connection to " + url_ + ": " + ec.message());
  }

  websocket::stream<Stream> ws_;
  tcp::resolver resolver_;
  std::string url_;
  detail::ServiceUrl where_;
  const ClientOptions& options_;
  Watchdog watchdog_;
};

template <class Stream>
asio::awaitable<Value> run_exchange(Stream stream, std::string url, detail::ServiceUrl where,
                                    const ClientOptions& options, std::string request,
                                    std::optional<std::string> key) {
  auto executor = co_await asio::this_coro::executor;
  Exchange<Stream> exchange(executor, std::move(stream), std::move(url), std::move(where), options);
  co_return co_await exchange.run(std::move(request), std::move(key));
}

void require_utf8(std::string_view what, const std::string& text) {
  if (!is_valid_utf8(text)) throw ServiceError("the " + std::string(what) + " is not valid UTF-8");
}

}  // namespace

asio::awaitable<Value> websocket_client(std::string prompt, std::string url, std::string pdk_name,
                                        ClientOptions options) {
  detail::ServiceUrl where = detail::parse_service_url(url);
  require_utf8("prompt", prompt);
  require_utf8("kit name", pdk_name);
  std::string request =
      to_json(Map{{"type", "generate"}, {"prompt", std::move(prompt)}, {"pdk_name", pdk_name}});
  std::optional<std::string> key = detail::read_api_key(options.api_key_file);
  auto executor = co_await asio::this_coro::executor;
  if (!where.secure) {
    co_return co_await run_exchange(PlainStream(executor), std::move(url), std::move(where),
                                    options, std::move(request), std::move(key));
  }
  ssl::context context = make_tls_context(options.extra_ca_pem);
  co_return co_await run_exchange(TlsStream(executor, context), std::move(url), std::move(where),
                                  options, std::move(request), std::move(key));
}

}  // namespace orvelle::serve
