#pragma once
// The kit registry as Python sees it: get_active_pdk, register_pdk, activate_pdk.

#include <pybind11/pybind11.h>

#include <shared_mutex>

namespace orvelle::python {

/// Holds the kit registry still while a netlist is read: a kit registered or activated from
/// another Python thread waits until the read is over. The active kit is settled first
/// (ORVELLE_PDK, else "generic"); an unknown name throws std::invalid_argument. Take it only
/// without the GIL, as every use of the registry here does, so no thread ever waits for the
/// lock while holding the GIL.
///
///   std::shared_lock kits = lock_kits_for_reading();
std::shared_lock<std::shared_mutex> lock_kits_for_reading();

/// Adds get_active_pdk, register_pdk and activate_pdk to `module`; `pdk_type` is the
/// package's Pdk class, which their results are made of.
void add_kit_functions(pybind11::module_& module, pybind11::handle pdk_type);

}  // namespace orvelle::python
