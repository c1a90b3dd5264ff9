#include "support/service.hpp"

#include <arpa/inet.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>

#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

namespace orvelle::testing {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace ssl = asio::ssl;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Cert = std::unique_ptr<X509, decltype(&X509_free)>;

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("test certificate: ") + what + " failed");
}

void add_extension(X509* cert, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
  check(extension != nullptr, "an extension");
  X509_add_ext(cert, extension, -1);
  X509_EXTENSION_free(extension);
}

// Issued by `issuer`, or by itself when that is null; signed later, once its extensions are in.
Cert make_cert(EVP_PKEY* key, const std::string& common_name, X509* issuer) {
  static long serial = 1;
  Cert cert(X509_new(), X509_free);
  X509* c = cert.get();
  X509_set_version(c, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(c), serial++);
  X509_gmtime_adj(X509_getm_notBefore(c), -3600);
  X509_gmtime_adj(X509_getm_notAfter(c), 86400);
  X509_set_pubkey(c, key);
  X509_NAME_add_entry_by_txt(X509_get_subject_name(c), "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(common_name.c_str()), -1, -1,
                             0);
  X509_set_issuer_name(c, X509_get_subject_name(issuer ? issuer : c));
  return cert;
}

std::string alt_names(const std::vector<std::string>& names) {
  std::string list;
  for (const auto& name : names) {
    in_addr v4{};
    in6_addr v6{};
    const bool address = ::inet_pton(AF_INET, name.c_str(), &v4) == 1 ||
                         ::inet_pton(AF_INET6, name.c_str(), &v6) == 1;
    list += (list.empty() ? "" : ",") + std::string(address ? "IP:" : "DNS:") + name;
  }
  return list;
}

template <class Write>
std::string pem(Write write) {
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
  check(write(bio.get()) == 1, "writing PEM");
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(size));
}

}  // namespace

Certificates make_certificates(const std::vector<std::string>& names) {
  Key authority_key(EVP_EC_gen("P-256"), EVP_PKEY_free);
  Key server_key(EVP_EC_gen("P-256"), EVP_PKEY_free);
  check(authority_key && server_key, "making a key");
  Cert authority = make_cert(authority_key.get(), "Orvelle test authority", nullptr);
  add_extension(authority.get(), authority.get(), NID_basic_constraints, "critical,CA:TRUE");
  add_extension(authority.get(), authority.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
  add_extension(authority.get(), authority.get(), NID_subject_key_identifier, "hash");
  check(X509_sign(authority.get(), authority_key.get(), EVP_sha256()) > 0, "signing");

  Cert server = make_cert(server_key.get(), names.front(), authority.get());
  add_extension(server.get(), authority.get(), NID_basic_constraints, "CA:FALSE");
  add_extension(server.get(), authority.get(), NID_ext_key_usage, "serverAuth");
  add_extension(server.get(), authority.get(), NID_subject_alt_name, alt_names(names));
  add_extension(server.get(), authority.get(), NID_authority_key_identifier, "keyid");
  check(X509_sign(server.get(), authority_key.get(), EVP_sha256()) > 0, "signing");

  return {pem([&](BIO* b) { return PEM_write_bio_X509(b, authority.get()); }),
          pem([&](BIO* b) { return PEM_write_bio_X509(b, server.get()); }), pem([&](BIO* b) {
            return PEM_write_bio_PrivateKey(b, server_key.get(), nullptr, nullptr, 0, nullptr,
                                            nullptr);
          })};
}

struct Service::Impl {
  Script script;
  std::optional<ssl::context> tls;
  asio::io_context loop;
  tcp::acceptor acceptor{loop, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)};
  mutable std::mutex mutex;
  Received received;
  std::thread thread;

  asio::awaitable<void> accept_all() {
    for (;;) {
      auto [ec, socket] = co_await acceptor.async_accept(asio::as_tuple(asio::use_awaitable));
      if (ec) co_return;
      asio::co_spawn(loop, serve(std::move(socket)), asio::detached);
    }
  }

  asio::awaitable<void> wait_forever() {
    asio::steady_timer forever(loop, asio::steady_timer::time_point::max());
    co_await forever.async_wait(asio::as_tuple(asio::use_awaitable));
  }

  asio::awaitable<void> serve(tcp::socket socket) {
    if (script.stall_handshake) co_return co_await wait_forever();
    try {
      if (!tls) co_return co_await play(websocket::stream<tcp::socket>(std::move(socket)));
      ssl::stream<tcp::socket> stream(std::move(socket), *tls);
      co_await stream.async_handshake(ssl::stream_base::server, asio::use_awaitable);
      co_await play(websocket::stream<ssl::stream<tcp::socket>>(std::move(stream)));
    } catch (const std::exception&) {
      // The client hung up or refused us; the test judges by what the client says.
    }
  }

  template <class Stream>
  asio::awaitable<void> play(websocket::stream<Stream> ws) {
    beast::flat_buffer buffer;
    http::request<http::string_body> request;
    co_await http::async_read(ws.next_layer(), buffer, request, asio::use_awaitable);
    record(request);
    if (script.refuse_status != 0) co_return co_await refuse(ws.next_layer(), request);
    co_await ws.async_accept(request, asio::use_awaitable);
    buffer.clear();
    co_await ws.async_read(buffer, asio::use_awaitable);
    {
      std::lock_guard lock(mutex);
      received.first_message = beast::buffers_to_string(buffer.data());
    }
    for (const Step& step : script.steps) {
      switch (step.kind) {
        case Step::Kind::text:
        case Step::Kind::binary:
          ws.text(step.kind == Step::Kind::text);
          co_await ws.async_write(asio::buffer(step.payload), asio::use_awaitable);
          break;
        case Step::Kind::raw:
          co_await asio::async_write(ws.next_layer(), asio::buffer(step.payload),
                                     asio::use_awaitable);
          break;
        case Step::Kind::close:
          co_return co_await ws.async_close(
              websocket::close_reason(websocket::close_code::normal, step.payload),
              asio::use_awaitable);
        case Step::Kind::stall:
          co_return co_await wait_forever();
        case Step::Kind::reset: {
          auto& lowest = beast::get_lowest_layer(ws);
          lowest.set_option(asio::socket_base::linger(true, 0));
          lowest.close();
          co_return;
        }
      }
    }
    // Reading answers the client's close; it ends in an error once the connection is closed.
    for (;;) {
      buffer.clear();
      co_await ws.async_read(buffer, asio::use_awaitable);
    }
  }

  template <class Stream>
  asio::awaitable<void> refuse(Stream& stream, const http::request<http::string_body>& request) {
    http::response<http::string_body> response(static_cast<http::status>(script.refuse_status),
                                               request.version());
    response.body() = "refused by the test service";
    response.keep_alive(false);
    response.prepare_payload();
    co_await http::async_write(stream, response, asio::use_awaitable);
  }

  void record(const http::request<http::string_body>& request) {
    std::lock_guard lock(mutex);
    received = {};
    received.target = std::string(request.target());
    received.user_agent = std::string(request[http::field::user_agent]);
    const auto authorization = request.find(http::field::authorization);
    received.has_authorization = authorization != request.end();
    if (received.has_authorization) received.authorization = std::string(authorization->value());
  }
};

Service::Service(Script script, const Certificates* certificates) : impl_(new Impl) {
  impl_->script = std::move(script);
  if (certificates) {
    auto& tls = impl_->tls.emplace(ssl::context::tls_server);
    tls.use_certificate_chain(asio::buffer(certificates->cert_pem));
    tls.use_private_key(asio::buffer(certificates->key_pem), ssl::context::pem);
  }
  asio::co_spawn(impl_->loop, impl_->accept_all(), asio::detached);
  impl_->thread = std::thread([this] { impl_->loop.run(); });
}

Service::~Service() {
  impl_->loop.stop();
  impl_->thread.join();
}

unsigned short Service::port() const {
  return impl_->acceptor.local_endpoint().port();
}

Received Service::received() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->received;
}

}  // namespace orvelle::testing
