// Instance and subcircuit settings: reading name=value words, renaming, unit conversion.

#include <algorithm>

#include "orvelle/core/netweave/detail.hpp"

namespace orvelle::detail {

Map get_ir_settings(std::span<const std::string_view> words, const Map& kwargs) {
  Map settings;
  for (const std::string_view word : words) {
    const std::size_t equals = word.find('=');
    if (equals == std::string_view::npos) continue;
    if (word.find('=', equals + 1) != std::string_view::npos) {
      throw ParseError("Cannot read setting '" + std::string(word) + "'.");
    }
    settings.insert_or_assign(std::string(word.substr(0, equals)),
                              parse_value(word.substr(equals + 1), kwargs));
  }
  return settings;
}

Map map_settings_keys(const Map& settings, const Map& settings_keymap) {
  std::vector<const Map::value_type*> sorted;
  sorted.reserve(settings.size());
  for (const auto& entry : settings) sorted.push_back(&entry);
  std::sort(sorted.begin(), sorted.end(),
            [](const auto* a, const auto* b) { return a->first < b->first; });
  Map result;
  result.reserve(sorted.size());
  for (const auto* entry : sorted) {
    const auto mapped = settings_keymap.find(entry->first);
    if (mapped == settings_keymap.end()) {
      result.insert_or_assign(entry->first, entry->second);
    } else if (const auto* name = mapped->second.get_if<std::string>()) {
      result.insert_or_assign(*name, entry->second);
    } else {
      throw std::invalid_argument("settings_keymap: the new name for '" + entry->first +
                                  "' is not a text");
    }
  }
  return result;
}

Map& convert_um(Map& settings) {
  for (auto it = settings.begin(); it != settings.end(); ++it) {
    const double* v = it->second.get_if<double>();
    if (v != nullptr && *v > 1e-10 && *v < 1e-2) it.value() = *v * 1e6;
  }
  return settings;
}

Map patch_settings(const Map& settings, const Map& settings_keymap) {
  Map mapped = map_settings_keys(settings, settings_keymap);
  convert_um(mapped);
  return mapped;
}

}  // namespace orvelle::detail
