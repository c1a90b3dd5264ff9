#pragma once

#include <string_view>

namespace orvelle {
inline constexpr std::string_view version = "0.1.0";
}
