#pragma once
// Placements from the location comments a schematic tool writes on instance lines.

#include <optional>
#include <string_view>

#include "orvelle/value.hpp"

namespace orvelle::core::netweave::detail {

/// The placement {x, y, rotation, port} of a comment holding "location=", else nothing.
/// Throws ParseError for a location that cannot be read.
std::optional<Map> parse_location_comment(std::string_view comment);

}  // namespace orvelle::core::netweave::detail
