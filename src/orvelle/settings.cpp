#include "orvelle/settings.hpp"

#include <cstdlib>

namespace orvelle {

namespace {

Settings read_settings() {
  Settings s;
  const char* kit = std::getenv("ORVELLE_PDK");
  s.pdk.name = kit ? kit : "generic";
  return s;
}

}  // namespace

const Settings& settings() {
  static const Settings instance = read_settings();
  return instance;
}

}  // namespace orvelle
