#include "orvelle/core/netweave/location.hpp"

#include <algorithm>

#include "orvelle/core/netweave/lines.hpp"
#include "orvelle/core/netweave/netweave.hpp"
#include "orvelle/core/netweave/values.hpp"

namespace orvelle::core::netweave::detail {

namespace {

constexpr std::string_view kMarker = "location=";

// Usually there is nothing to remove, and then no copy is made.
std::string_view without_whitespace(std::string_view text, std::string& out) {
  // Printable ASCII holds no white space: the usual location needs no closer look.
  if (std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c < 0x7F; })) {
    return text;
  }
  bool clean = true;
  for (std::size_t i = 0; i < text.size() && clean; ++i) clean = whitespace_at(text, i) == 0;
  if (clean) return text;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = whitespace_at(text, i);
    if (n == 0) out += text[i];
    i += n == 0 ? 1 : n;
  }
  return out;
}

std::string_view unwrap(std::string_view part) noexcept {
  if (part.starts_with('(')) part.remove_prefix(1);
  if (part.ends_with(')')) part.remove_suffix(1);
  return part;
}

}  // namespace

std::optional<Map> parse_location_comment(std::string_view comment) {
  const std::size_t marker = comment.find(kMarker);
  if (marker == std::string_view::npos) return std::nullopt;
  const auto unreadable = [&] {
    return ParseError("Cannot read location comment '" + std::string(comment) + "'.");
  };
  // Neither the marker, ")(" nor "," can overlap itself: one more search tells one
  // occurrence from several.
  const auto once_more = [](std::string_view text, std::string_view part, std::size_t at) {
    return text.find(part, at + part.size()) != std::string_view::npos;
  };
  if (once_more(comment, kMarker, marker)) throw unreadable();
  std::string_view rest = comment.substr(marker + kMarker.size());
  rest = rest.substr(0, rest.find(' '));
  std::string buffer;
  std::string_view location = without_whitespace(rest, buffer);
  std::string_view port = "()";
  if (const std::size_t split = location.find(")("); split != std::string_view::npos) {
    if (once_more(location, ")(", split)) throw unreadable();
    port = location.substr(split + 2);
    location = location.substr(0, split);
  }
  port = unwrap(port);
  location = unwrap(location);
  const std::size_t first = location.find(',');
  const std::size_t second = location.find(',', first + 1);
  if (first == std::string_view::npos || second == std::string_view::npos ||
      once_more(location, ",", second)) {
    throw unreadable();
  }
  Map placement;
  placement.reserve(4);
  placement.emplace("x", parse_value(location.substr(0, first)));
  placement.emplace("y", parse_value(location.substr(first + 1, second - first - 1)));
  placement.emplace("rotation", parse_value(location.substr(second + 1)));
  placement.emplace("port", port);
  return placement;
}

}  // namespace orvelle::core::netweave::detail
