#include "orvelle/pdk/pdk.hpp"

#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "orvelle/settings.hpp"
#include "orvelle/codec/yaml.hpp"

namespace orvelle::pdk {

namespace {

struct Registry {
  // unique_ptr keeps a kit where it is while others are added, so references stay valid.
  std::map<std::string, std::unique_ptr<Pdk>, std::less<>> kits;
  const Pdk* active = nullptr;
  std::uint64_t next_serial = 1;
};

Registry& registry() {
  static Registry r;
  return r;
}

const Pdk& store(Registry& r, Pdk kit) {
  kit.serial = r.next_serial++;
  auto& slot = r.kits[kit.name];
  const bool was_active = slot && r.active == slot.get();
  slot = std::make_unique<Pdk>(std::move(kit));
  if (was_active) r.active = slot.get();
  return *slot;
}

void ensure_generic(Registry& r) {
  if (!r.kits.contains("generic")) store(r, generic_pdk());
}

std::string registered_names(const Registry& r) {
  std::string names;
  for (const auto& [name, kit] : r.kits) names += (names.empty() ? "" : ", ") + name;
  return names;
}

CellBuilder cell_with_ports(std::vector<std::string> names) {
  return [names = std::move(names)] {
    Component component;
    for (const auto& name : names) component.ports.push_back({name});
    return component;
  };
}

}  // namespace

const Pdk& register_pdk(Pdk kit) {
  Registry& r = registry();
  ensure_generic(r);
  return store(r, std::move(kit));
}

void activate_pdk(std::string_view name) {
  Registry& r = registry();
  ensure_generic(r);
  const auto it = r.kits.find(name);
  if (it == r.kits.end())
    throw std::invalid_argument("unknown kit '" + std::string(name) +
                                "'; registered kits: " + registered_names(r));
  r.active = it->second.get();
}

const Pdk& get_active_pdk() {
  Registry& r = registry();
  if (!r.active) activate_pdk(settings().pdk.name);
  return *r.active;
}

Pdk generic_pdk() {
  // Port lists as the parts store them; several are deliberately out of canonical order,
  // as real kits are, so readers must sort them.
  const std::vector<std::pair<std::string, std::vector<std::string>>> optical = {
      {"straight", {"o1", "o2"}},
      {"bend_euler", {"o2", "o1"}},
      {"mmi1x2", {"o1", "o3", "o2"}},
      {"mmi2x2", {"o3", "o4", "o1", "o2"}},
      {"coupler", {"o1", "o2", "o3", "o4"}},
      {"grating_coupler", {"o1"}},
      {"crossing", {"o4", "o3", "o2", "o1"}},
  };
  Pdk kit;
  kit.name = "generic";
  for (const auto& [name, ports] : optical) {
    kit.models[name] = sax::Model{ports};
    kit.cells[name] = cell_with_ports(ports);
  }
  kit.cells["phase_shifter"] = cell_with_ports({"o1", "o2", "e2", "e1"});
  kit.cells["pad"] = cell_with_ports({"e1", "e2", "e4", "e3"});
  return kit;
}

namespace {

[[noreturn]] void bad_kit(std::string_view origin, const std::string& key,
                          const std::string& problem) {
  throw std::invalid_argument(std::string(origin) + ": " +
                              (key.empty() ? "" : "key '" + key + "' ") + problem);
}

std::string file_origin(const std::filesystem::path& path) {
  return "kit file '" + path.string() + "'";
}

std::vector<std::string> read_ports(const Value& entry, std::string_view origin,
                                    const std::string& key) {
  if (!entry.is_map()) bad_kit(origin, key, "must be a mapping with 'ports'");
  for (const auto& [field, value] : entry.as_map()) {
    if (field != "ports") bad_kit(origin, key + "." + field.str(), "is not known");
  }
  const auto it = entry.as_map().find("ports");
  if (it == entry.as_map().end()) bad_kit(origin, key + ".ports", "is missing");
  if (!it->second.is_list()) bad_kit(origin, key + ".ports", "must be a list of port names");
  std::vector<std::string> ports;
  for (const auto& port : it->second.as_list()) {
    if (!port.is_string() || port.as_string().empty())
      bad_kit(origin, key + ".ports", "must be a list of port names");
    ports.emplace_back(port.as_string());
  }
  return ports;
}

template <class Add>
void read_section(const Map& top, std::string_view section, std::string_view origin, Add add) {
  const auto it = top.find(section);
  if (it == top.end() || it->second.is_null()) return;
  const std::string key(section);
  if (!it->second.is_map()) bad_kit(origin, key, "must be a mapping");
  for (const auto& [name, entry] : it->second.as_map()) {
    add(name.str(), read_ports(entry, origin, key + "." + name.str()));
  }
}

std::string read_text(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) bad_kit(file_origin(path), "", "cannot be read");
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

Pdk load_pdk_file(const std::filesystem::path& path) {
  Value doc;
  try {
    doc = from_yaml(read_text(path));
  } catch (const std::invalid_argument& e) {
    if (std::string_view(e.what()).starts_with("kit file")) throw;
    bad_kit(file_origin(path), "", std::string("is not valid YAML: ") + e.what());
  }
  return read_pdk(doc, file_origin(path));
}

Pdk read_pdk(const Value& document, std::string_view origin) {
  if (!document.is_map())
    bad_kit(origin, "", "must be a mapping with 'name', 'models' and 'cells'");
  const Map& top = document.as_map();
  for (const auto& [key, value] : top) {
    if (key != "name" && key != "models" && key != "cells")
      bad_kit(origin, key.str(), "is not known");
  }
  const auto name = top.find("name");
  if (name == top.end()) bad_kit(origin, "name", "is missing");
  if (!name->second.is_string() || name->second.as_string().empty())
    bad_kit(origin, "name", "must be a non-empty text");
  Pdk kit;
  kit.name = name->second.as_string();
  read_section(top, "models", origin, [&](const std::string& n, std::vector<std::string> ports) {
    kit.models[n] = sax::Model{std::move(ports)};
  });
  read_section(top, "cells", origin, [&](const std::string& n, std::vector<std::string> ports) {
    kit.cells[n] = cell_with_ports(std::move(ports));
  });
  return kit;
}

}  // namespace orvelle::pdk
