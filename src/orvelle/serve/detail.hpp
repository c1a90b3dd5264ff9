#pragma once
// Internals of the service client, apart so tests can reach them without a network.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace orvelle::serve::detail {

struct ServiceUrl {
  bool secure = true;  // wss
  std::string host;    // without the brackets of an IPv6 address
  std::string port;
  std::string target;      // path and query, at least "/"
  std::string host_field;  // the value of the Host header
};

/// Splits a "wss://" or "ws://" URL; throws ServiceError naming the URL when it is malformed,
/// has another scheme, carries user information, or is "ws://" to a host that is not loopback.
ServiceUrl parse_service_url(std::string_view url);

/// "localhost", 127.0.0.0/8 or ::1.
bool is_loopback_host(std::string_view host);

/// The stored tool.orvelle.api.key, if `file` can be read and holds a non-empty text.
/// Throws ServiceError when the key could not be sent in a header.
std::optional<std::string> read_api_key(const std::filesystem::path& file);

/// `text` made safe for one line of a terminal: control characters become spaces, and past
/// `max_chars` characters it is cut with "...".
std::string one_line(std::string_view text, std::size_t max_chars);

}  // namespace orvelle::serve::detail
