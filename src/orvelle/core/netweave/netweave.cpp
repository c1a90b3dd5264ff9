#include "orvelle/core/netweave/netweave.hpp"

#include "orvelle/core/netweave/scheduling.hpp"
#include "orvelle/core/netweave/source.hpp"

namespace orvelle {

namespace reader = core::netweave::detail;

RecursiveNetlist netweave(const std::filesystem::path& path, const Map& settings_keymap,
                          const Map& component_map, const Map& kwargs) {
  return reader::read_netlist(reader::read_file(path), settings_keymap, component_map, kwargs);
}

RecursiveNetlist netweave(std::istream& stream, const Map& settings_keymap,
                          const Map& component_map, const Map& kwargs) {
  return reader::read_netlist(reader::read_stream(stream), settings_keymap, component_map, kwargs);
}

}  // namespace orvelle
