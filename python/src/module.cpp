// The compiled half of the `orvelle` package.

#include <pybind11/pybind11.h>

#include <string>

#include "orvelle/version.hpp"

namespace py = pybind11;

PYBIND11_MODULE(_orvelle, module) {
  module.doc() = "Orvelle's netlist reader (compiled part of the orvelle package).";
  module.attr("__version__") = std::string(orvelle::version);
}
