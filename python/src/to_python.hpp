#pragma once
// From the reader's values to Python objects.

#include <Python.h>

#include "orvelle/value.hpp"

namespace orvelle::python {

/// Moves `value` into plain Python objects, as the JSON writer sees it: dict in insertion
/// order, list, str, int, float, bool, None, and None for a float that is not finite. Each
/// part of `value` is freed once converted, so the two trees never both hold all of it.
/// Needs the GIL. Returns a new reference, or nullptr with a Python error set.
///
///   PyObject* nets = to_python(Value(orvelle::netweave(path)));
PyObject* to_python(Value&& value);

}  // namespace orvelle::python
