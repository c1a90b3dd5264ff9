#include "kits.hpp"

#include <pybind11/stl.h>

#include <atomic>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "from_python.hpp"
#include "orvelle/pdk/pdk.hpp"

namespace py = pybind11;

namespace orvelle::python {

namespace detail {

namespace {

std::shared_mutex& registry_mutex() {
  static std::shared_mutex mutex;
  return mutex;
}

// Once a kit is active one always is: readers then only read the registry.
std::atomic<bool> active_kit_settled{false};

PyObject* pdk_type = nullptr;

using PartPorts = std::vector<std::pair<std::string, std::vector<std::string>>>;

// What Python is shown of a kit, copied out under the lock.
struct KitPorts {
  std::string name;
  PartPorts models;
  PartPorts cells;
};

KitPorts ports_of(const pdk::Pdk& kit) {
  KitPorts ports{kit.name, {}, {}};
  for (const auto& [name, model] : kit.models)
    ports.models.emplace_back(name, sax::get_ports(model));
  for (const auto& [name, build] : kit.cells) {
    std::vector<std::string> names;
    try {
      for (auto& port : build().ports) names.push_back(std::move(port.name));
    } catch (...) {
      continue;  // the reader counts a cell that cannot be built as unknown, so it is left out
    }
    ports.cells.emplace_back(name, std::move(names));
  }
  return ports;
}

py::object to_python(const KitPorts& kit) {
  const auto section = [](const PartPorts& parts) {
    py::dict ports;
    for (const auto& [name, names] : parts) ports[py::str(name)] = py::cast(names);
    return ports;
  };
  return py::handle(pdk_type)(kit.name, section(kit.models), section(kit.cells));
}

KitPorts active_kit() {
  py::gil_scoped_release unlocked;
  const auto lock = lock_kits_for_reading();
  return ports_of(pdk::get_active_pdk());
}

KitPorts store(pdk::Pdk kit) {
  py::gil_scoped_release unlocked;
  std::unique_lock lock(registry_mutex());
  return ports_of(pdk::register_pdk(std::move(kit)));
}

pdk::Pdk read_kit(py::handle path_or_mapping) {
  if (PyDict_Check(path_or_mapping.ptr())) {
    return pdk::read_pdk(Value(to_map(path_or_mapping, "path_or_mapping")), "kit mapping");
  }
  const py::object fspath = fspath_of(path_or_mapping);
  if (fspath.is_none()) {
    throw py::type_error(std::string("register_pdk(): path_or_mapping must be a str, an "
                                     "os.PathLike or a dict, not ") +
                         Py_TYPE(path_or_mapping.ptr())->tp_name);
  }
  const std::filesystem::path path = to_path(fspath);
  py::gil_scoped_release unlocked;
  return pdk::load_pdk_file(path);
}

void activate(const std::string& name) {
  py::gil_scoped_release unlocked;
  std::unique_lock lock(registry_mutex());
  pdk::activate_pdk(name);
  active_kit_settled.store(true, std::memory_order_release);
}

}  // namespace

}  // namespace detail

std::shared_lock<std::shared_mutex> lock_kits_for_reading() {
  if (!detail::active_kit_settled.load(std::memory_order_acquire)) {
    std::unique_lock settling(detail::registry_mutex());
    pdk::get_active_pdk();
    detail::active_kit_settled.store(true, std::memory_order_release);
  }
  return std::shared_lock(detail::registry_mutex());
}

void add_kit_functions(py::module_& module, py::handle pdk_type) {
  detail::pdk_type = py::reinterpret_borrow<py::object>(pdk_type).release().ptr();
  module.def(
      "get_active_pdk", [] { return detail::to_python(detail::active_kit()); },
      "get_active_pdk()\n--\n\n"
      "The active kit: its name and the port names of its models and cells, as stored.\n"
      "Until a kit is activated, ORVELLE_PDK (else 'generic') is.\n\n"
      "    orvelle.get_active_pdk().models['mmi1x2']  # ['o1', 'o3', 'o2']");
  module.def(
      "register_pdk",
      [](py::handle path_or_mapping) {
        return detail::to_python(detail::store(detail::read_kit(path_or_mapping)));
      },
      py::arg("path_or_mapping"),
      "register_pdk(path_or_mapping)\n--\n\n"
      "Registers a kit from a kit file or a dict of its shape, replacing a kit of the same\n"
      "name, and returns it. A malformed kit is a ValueError naming the key at fault.\n\n"
      "    orvelle.activate_pdk(orvelle.register_pdk('examples/acme.yaml').name)");
  module.def("activate_pdk", &detail::activate, py::arg("name"),
             "activate_pdk(name)\n--\n\n"
             "Makes the registered kit `name` the one netweave uses; ValueError if unknown.\n\n"
             "    orvelle.activate_pdk('generic')");
}

}  // namespace orvelle::python
