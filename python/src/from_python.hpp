#pragma once
// From Python arguments to the reader's values.

#include <pybind11/pybind11.h>

#include <filesystem>
#include <string_view>

#include "orvelle/value.hpp"

namespace orvelle::python {

/// Converts int, float, str, bool, None, list and dict with str keys, nested, into a Value.
/// `name` says in messages where `object` came from ("delta", "settings_keymap").
/// Throws pybind11::type_error naming the place of any other type (x['a'][0]), and
/// pybind11::error_already_set for an integer past 64 bits (OverflowError) or nesting past
/// the interpreter's recursion limit (RecursionError). Needs the GIL.
///
///   orvelle::Value delta = to_value(kwargs["delta"], "delta");
Value to_value(pybind11::handle object, std::string_view name);

/// A dict converted as to_value does; None gives an empty mapping. Any other type is a
/// pybind11::type_error naming `name`.
///
///   orvelle::Map keymap = to_map(settings_keymap, "settings_keymap");
Map to_map(pybind11::handle object, std::string_view name);

/// os.fspath(object) for a str or an os.PathLike, else None (bytes too: they are not taken
/// for a path). Throws pybind11::error_already_set when __fspath__ fails.
///
///   py::object filename = fspath_of(path_or_buf);
pybind11::object fspath_of(pybind11::handle object);

/// The file-system path of an os.fspath result (str or bytes), encoded as os.fsencode does.
///
///   std::filesystem::path path = to_path(fspath_of(path_or_buf));
std::filesystem::path to_path(pybind11::handle fspath);

}  // namespace orvelle::python
