#pragma once
/// Process-wide settings.

#include <string>

namespace orvelle {

struct PdkSettings {
  std::string name;
};

struct Settings {
  PdkSettings pdk;
};

/// Read once, on first use: pdk.name is the environment variable ORVELLE_PDK when set,
/// else "generic".
const Settings& settings();

}  // namespace orvelle
