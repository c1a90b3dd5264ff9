#include "orvelle/core/netweave/settings.hpp"

#include <algorithm>
#include <array>

#include "orvelle/core/netweave/netweave.hpp"
#include "orvelle/core/netweave/values.hpp"

namespace orvelle::core::netweave::detail {

Map get_ir_settings(std::span<const std::string_view> words, const Map& kwargs) {
  // Each word is searched once: the positions of "=" are kept for the second pass.
  constexpr std::size_t kOnStack = 16;
  std::array<std::size_t, kOnStack> on_stack;
  std::vector<std::size_t> on_heap;
  std::span<std::size_t> equals_at(on_stack.data(), std::min(words.size(), kOnStack));
  if (words.size() > kOnStack) {
    on_heap.resize(words.size());
    equals_at = on_heap;
  }
  std::size_t count = 0;
  for (std::size_t i = 0; i < words.size(); ++i) {
    equals_at[i] = words[i].find('=');
    if (equals_at[i] != std::string_view::npos) ++count;
  }
  Map settings;
  settings.reserve(count);
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string_view word = words[i];
    const std::size_t equals = equals_at[i];
    if (equals == std::string_view::npos) continue;
    if (word.find('=', equals + 1) != std::string_view::npos) {
      throw ParseError("Cannot read setting '" + std::string(word) + "'.");
    }
    settings.insert_or_assign(word.substr(0, equals), parse_value(word.substr(equals + 1), kwargs));
  }
  return settings;
}

Map map_settings_keys(const Map& settings, const Map& settings_keymap) {
  // Settings are few: sort pointers on the stack, and only fall back to the heap for many.
  std::array<const Map::value_type*, 16> inline_order;
  std::vector<const Map::value_type*> heap_order;
  std::span<const Map::value_type*> order;
  if (settings.size() <= inline_order.size()) {
    order = std::span(inline_order.data(), settings.size());
  } else {
    heap_order.resize(settings.size());
    order = heap_order;
  }
  std::size_t i = 0;
  for (const auto& entry : settings) order[i++] = &entry;
  std::sort(order.begin(), order.end(),
            [](const auto* a, const auto* b) { return a->first < b->first; });
  Map result;
  result.reserve(order.size());
  for (const auto* entry : order) {
    const auto mapped = settings_keymap.find(entry->first);
    if (mapped == settings_keymap.end()) {
      result.insert_or_assign(entry->first, entry->second);
    } else if (const auto* name = mapped->second.get_if<Text>()) {
      result.insert_or_assign(*name, entry->second);
    } else {
      throw std::invalid_argument("settings_keymap: the new name for '" + entry->first.str() +
                                  "' is not a text");
    }
  }
  return result;
}

Map& convert_um(Map& settings) {
  for (auto it = settings.begin(); it != settings.end(); ++it) {
    double* v = it.value().get_if<double>();
    if (v != nullptr && *v > 1e-10 && *v < 1e-2) *v *= 1e6;
  }
  return settings;
}

Map patch_settings(const Map& settings, const Map& settings_keymap) {
  Map mapped = map_settings_keys(settings, settings_keymap);
  convert_um(mapped);
  return mapped;
}

namespace {

bool keeps_names(const Map& settings, const Map& settings_keymap) {
  const Map::value_type* previous = nullptr;
  for (const auto& entry : settings) {
    if (previous != nullptr && !(previous->first < entry.first)) return false;
    if (!settings_keymap.empty() && settings_keymap.contains(entry.first)) return false;
    previous = &entry;
  }
  return true;
}

}  // namespace

Map patch_settings(Map&& settings, const Map& settings_keymap) {
  if (!keeps_names(settings, settings_keymap)) return patch_settings(settings, settings_keymap);
  Map patched = std::move(settings);
  convert_um(patched);
  return patched;
}

}  // namespace orvelle::core::netweave::detail
