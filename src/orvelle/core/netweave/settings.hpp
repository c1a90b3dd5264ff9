#pragma once
// Settings: name=value words read into mappings, renamed and converted for the netlist.

#include <span>
#include <string_view>

#include "orvelle/value.hpp"

namespace orvelle::core::netweave::detail {

/// name=value words as settings (other words are skipped). Throws ParseError for a word
/// that does not split into exactly two pieces at "=".
Map get_ir_settings(std::span<const std::string_view> words, const Map& kwargs = {});
/// A new mapping in sorted name order, names renamed through `settings_keymap`.
Map map_settings_keys(const Map& settings, const Map& settings_keymap);
/// Floats strictly between 1e-10 and 1e-2 are lengths in metres: made micrometres, in place.
Map& convert_um(Map& settings);
Map patch_settings(const Map& settings, const Map& settings_keymap);
/// The same, reusing `settings` when its names are already in order and none is renamed
/// (the usual case), so an instance's settings are not copied on their way to the netlist.
Map patch_settings(Map&& settings, const Map& settings_keymap);

}  // namespace orvelle::core::netweave::detail
