#include "orvelle/serve/detail.hpp"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <charconv>

#include <toml++/toml.h>

#include "orvelle/serve/draftbot.hpp"
#include "orvelle/value.hpp"

namespace orvelle::serve::detail {

namespace {

[[noreturn]] void reject(std::string_view url, std::string_view reason) {
  throw ServiceError("invalid service URL \"" + one_line(url, 200) + "\": " + std::string(reason));
}

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

bool is_ipv6(const std::string& host) {
  in6_addr address{};
  return ::inet_pton(AF_INET6, host.c_str(), &address) == 1;
}

bool is_host_name(std::string_view host) {
  return !host.empty() && std::all_of(host.begin(), host.end(), [](unsigned char c) {
    return std::isalnum(c) || c == '-' || c == '.' || c == '_';
  });
}

// Printable ASCII without blanks: anything else would break the request line.
bool is_request_target(std::string_view target) {
  return std::all_of(target.begin(), target.end(),
                     [](unsigned char c) { return c > 0x20 && c < 0x7f; });
}

bool is_port(std::string_view port) {
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
  return ec == std::errc{} && end == port.data() + port.size() && port.front() != '+' &&
         value >= 1 && value <= 65535;
}

// Splits "HOST[:PORT]" or "[IPV6][:PORT]" into `url`'s host and port.
void split_authority(std::string_view authority, std::string_view whole, ServiceUrl& url) {
  if (authority.find('@') != std::string_view::npos) {
    reject(whole, "user information is not allowed; the API key comes from the configuration");
  }
  std::string_view rest;
  if (authority.starts_with('[')) {
    const auto close = authority.find(']');
    if (close == std::string_view::npos) reject(whole, "unclosed '[' in the host");
    url.host = std::string(authority.substr(1, close - 1));
    if (!is_ipv6(url.host)) reject(whole, "not an IPv6 address in brackets");
    rest = authority.substr(close + 1);
  } else {
    const auto colon = authority.find(':');
    url.host = std::string(authority.substr(0, colon));
    if (!is_host_name(url.host)) reject(whole, "missing or malformed host");
    rest = colon == std::string_view::npos ? std::string_view{} : authority.substr(colon);
  }
  if (!rest.empty()) {
    if (rest.front() != ':' || !is_port(rest.substr(1))) reject(whole, "malformed port");
    url.port = std::string(rest.substr(1));
  }
}

bool is_header_safe(std::string_view value) {
  return std::none_of(value.begin(), value.end(),
                      [](unsigned char c) { return (c < 0x20 && c != '\t') || c == 0x7f; });
}

// Length of the UTF-8 sequence that starts with `lead`; 0 for a byte that cannot start one.
std::size_t sequence_length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

}  // namespace

ServiceUrl parse_service_url(std::string_view url) {
  const auto separator = url.find("://");
  if (separator == std::string_view::npos) reject(url, "expected wss://HOST[:PORT]/PATH");
  const std::string scheme = lower(url.substr(0, separator));
  if (scheme != "wss" && scheme != "ws") {
    reject(url, "the scheme must be wss (or ws for a loopback host)");
  }
  ServiceUrl result;
  result.secure = scheme == "wss";
  std::string_view rest = url.substr(separator + 3);
  rest = rest.substr(0, rest.find('#'));  // a fragment never goes to the server
  const auto path_start = rest.find_first_of("/?");
  split_authority(rest.substr(0, path_start), url, result);
  const std::string_view target =
      path_start == std::string_view::npos ? std::string_view{} : rest.substr(path_start);
  if (!is_request_target(target)) reject(url, "blanks or control characters in the path");
  if (!target.starts_with('/')) result.target.push_back('/');
  result.target.append(target);
  if (!result.secure && !is_loopback_host(result.host)) {
    reject(url,
           "ws:// sends everything in the clear and is accepted only for a loopback host; "
           "use wss://");
  }
  const std::string default_port = result.secure ? "443" : "80";
  result.host_field =
      result.host.find(':') == std::string::npos ? result.host : "[" + result.host + "]";
  if (result.port.empty()) {
    result.port = default_port;
  } else if (result.port != default_port) {
    result.host_field += ":" + result.port;
  }
  return result;
}

bool is_loopback_host(std::string_view host) {
  const std::string name = lower(host);
  if (name == "localhost" || name == "localhost.") return true;
  in_addr v4{};
  if (::inet_pton(AF_INET, name.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  return ::inet_pton(AF_INET6, name.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

std::optional<std::string> read_api_key(const std::filesystem::path& file) {
  if (file.empty()) return std::nullopt;
  std::optional<std::string> key;
  try {
    key = toml::parse_file(file.string()).at_path("tool.orvelle.api.key").value<std::string>();
  } catch (const toml::parse_error&) {
    return std::nullopt;  // no readable configuration: ask without a key
  }
  if (!key || key->empty()) return std::nullopt;
  if (!is_header_safe(*key) || !is_valid_utf8(*key)) {
    throw ServiceError("the API key in " + file.string() +
                       " holds control characters; store it again with orvelle configure");
  }
  return key;
}

std::string one_line(std::string_view text, std::size_t max_chars) {
  std::string out;
  out.reserve(std::min(text.size(), max_chars * 4));
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++chars) {
    if (chars == max_chars) return out + "...";
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = sequence_length(lead);
    if (length == 0 || i + length > text.size() || !is_valid_utf8(text.substr(i, length))) {
      out += '?';
      ++i;
      continue;
    }
    const bool c0 = lead < 0x20 || lead == 0x7f;
    // U+0080 to U+009F: some terminals take them as escape sequences.
    const bool c1 = lead == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
    out += c0 || c1 ? std::string_view(" ") : text.substr(i, length);
    i += length;
  }
  return out;
}

}  // namespace orvelle::serve::detail
