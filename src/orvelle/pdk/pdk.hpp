#pragma once
/// Process design kits: a registry of named kits, one of them active.
///
///   orvelle::pdk::register_pdk(orvelle::pdk::load_pdk_file("acme.yaml"));
///   orvelle::pdk::activate_pdk("acme");
///   const auto& kit = orvelle::pdk::get_active_pdk();

#include <tsl/ordered_map.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "orvelle/value.hpp"
#include "sax/sax.hpp"

namespace orvelle::pdk {

struct Port {
  std::string name;
};

/// A built layout cell, as far as the reader cares: its ports in stored order.
struct Component {
  std::vector<Port> ports;
};

/// Builds a cell with its default settings; may throw.
using CellBuilder = std::function<Component()>;

struct Pdk {
  std::string name;
  tsl::ordered_map<std::string, sax::Model, StringHash, std::equal_to<>> models;
  tsl::ordered_map<std::string, CellBuilder, StringHash, std::equal_to<>> cells;
  /// Unique per registration, so caches keyed by it never mix two kits of one name.
  std::uint64_t serial = 0;
};

/// Adds `kit` to the registry, replacing a kit of the same name. Returns the stored kit.
const Pdk& register_pdk(Pdk kit);

/// Makes the registered kit `name` the active one; throws std::invalid_argument naming it
/// when no such kit is registered.
void activate_pdk(std::string_view name);

/// The active kit. Until a kit is activated, the settings' kit name (ORVELLE_PDK, else
/// "generic") is activated on first use. The embedded "generic" kit is always registered.
const Pdk& get_active_pdk();

/// The embedded default kit "generic".
Pdk generic_pdk();

/// Reads a kit file (YAML, so JSON too):
///   name: acme
///   models: {mmi1x2: {ports: [o3, o1, o2]}}
///   cells: {pad: {ports: [e2, e1]}}
/// Throws std::invalid_argument naming the file and the key at fault.
Pdk load_pdk_file(const std::filesystem::path& path);

/// Reads a kit from a document of the kit file's shape, already parsed, with the kit file's
/// checks. `origin` begins each message, which then names the key at fault:
/// "<origin>: key 'models.m.ports' must be a list of port names".
///
///   orvelle::pdk::register_pdk(orvelle::pdk::read_pdk(orvelle::from_json(text), "kit text"));
Pdk read_pdk(const Value& document, std::string_view origin);

}  // namespace orvelle::pdk
