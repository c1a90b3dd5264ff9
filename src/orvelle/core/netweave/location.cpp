// Placements from the location comments a schematic tool writes on instance lines.

#include <algorithm>

#include "orvelle/core/netweave/detail.hpp"

namespace orvelle::detail {

namespace {

constexpr std::string_view kMarker = "location=";

std::size_t count(std::string_view text, std::string_view part) noexcept {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string_view::npos;
       at = text.find(part, at + part.size())) {
    ++n;
  }
  return n;
}

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
  if (comment.find(kMarker) == std::string_view::npos) return std::nullopt;
  const auto unreadable = [&] {
    return ParseError("Cannot read location comment '" + std::string(comment) + "'.");
  };
  if (count(comment, kMarker) != 1) throw unreadable();
  std::string_view rest = comment.substr(comment.find(kMarker) + kMarker.size());
  rest = rest.substr(0, rest.find(' '));
  std::string buffer;
  std::string_view location = without_whitespace(rest, buffer);
  std::string_view port = "()";
  if (const std::size_t split = location.find(")("); split != std::string_view::npos) {
    if (count(location, ")(") != 1) throw unreadable();
    port = location.substr(split + 2);
    location = location.substr(0, split);
  }
  port = unwrap(port);
  location = unwrap(location);
  if (count(location, ",") != 2) throw unreadable();
  const std::size_t first = location.find(',');
  const std::size_t second = location.find(',', first + 1);
  Map placement;
  placement.reserve(4);
  placement.emplace("x", parse_value(location.substr(0, first)));
  placement.emplace("y", parse_value(location.substr(first + 1, second - first - 1)));
  placement.emplace("rotation", parse_value(location.substr(second + 1)));
  placement.emplace("port", std::string(port));
  return placement;
}

}  // namespace orvelle::detail
