// The compiled half of the `orvelle` package: netweave and the kit registry, with the
// reader's errors and warnings turned into Python's own kinds. It converts and maps; every
// rule of reading stays in the reader.

#include <pybind11/pybind11.h>

#include <exception>
#include <filesystem>
#include <istream>
#include <optional>
#include <streambuf>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "from_python.hpp"
#include "kits.hpp"
#include "orvelle/core/netweave/netweave.hpp"
#include "orvelle/version.hpp"
#include "to_python.hpp"

namespace py = pybind11;

namespace orvelle::python {

namespace detail {

namespace {

// The package's own classes (orvelle/__init__.py), looked up once at import; kept for the
// life of the process.
PyObject* parse_error_type = nullptr;
PyObject* parse_warning_type = nullptr;

// ---- Warnings ----

py::str message_text(std::string_view message) {
  PyObject* text =
      PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace");
  if (text == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(text);
}

// Through the warnings module, so filters, catch_warnings and -W error apply; a warning
// turned into an error ends the call.
void issue_warnings(const std::vector<std::string>& messages) {
  if (messages.empty()) return;
  const py::object warn = py::module_::import("warnings").attr("warn");
  for (const std::string& message : messages)
    warn(message_text(message), py::handle(parse_warning_type));
}

// ---- Input ----

struct Source {
  py::object filename;  // os.fspath of a path; None for a buffer
  std::optional<std::filesystem::path> path;
  py::object text_owner;  // the str or bytes that read() gave, which `text` points into
  std::string_view text;
};

std::string_view text_of(py::object& content) {
  if (PyBytes_Check(content.ptr())) {
    return {PyBytes_AS_STRING(content.ptr()),
            static_cast<std::size_t>(PyBytes_GET_SIZE(content.ptr()))};
  }
  if (!PyUnicode_Check(content.ptr())) {
    throw py::type_error(std::string("netweave(): path_or_buf.read() gave ") +
                         Py_TYPE(content.ptr())->tp_name + ", not str or bytes");
  }
  Py_ssize_t size = 0;
  if (const char* utf8 = PyUnicode_AsUTF8AndSize(content.ptr(), &size)) {
    return {utf8, static_cast<std::size_t>(size)};
  }
  // Lone surrogates (a text decoded with errors="surrogateescape", say) have no UTF-8. Kept
  // as their own bytes, they make the reader report invalid UTF-8 on their line, as a file
  // holding the original bytes would.
  PyErr_Clear();
  content = py::reinterpret_steal<py::object>(
      PyUnicode_AsEncodedString(content.ptr(), "utf-8", "surrogatepass"));
  if (!content) throw py::error_already_set();
  return text_of(content);
}

Source source_of(py::handle path_or_buf) {
  Source source;
  source.filename = fspath_of(path_or_buf);
  if (!source.filename.is_none()) {
    source.path = to_path(source.filename);
    return source;
  }
  if (!py::hasattr(path_or_buf, "read")) {
    throw py::type_error(
        std::string("netweave(): path_or_buf must be a str, an os.PathLike or an object with "
                    "read(), not ") +
        Py_TYPE(path_or_buf.ptr())->tp_name);
  }
  source.text_owner = path_or_buf.attr("read")();
  source.text = text_of(source.text_owner);
  return source;
}

Map named_values(const py::kwargs& kwargs) {
  Map named;
  for (const auto& [key, value] : kwargs) {
    const std::string name = py::cast<std::string>(key);
    named.insert_or_assign(name, to_value(value, name));
  }
  return named;
}

// ---- Reading without the GIL ----

// A text in memory as a stream, without a copy.
class TextBuffer : public std::streambuf {
 public:
  explicit TextBuffer(std::string_view text) {
    char* begin = const_cast<char*>(text.data());  // only ever read
    setg(begin, begin, begin + text.size());
  }
};

struct Reading {
  RecursiveNetlist nets;
  std::vector<std::string> warnings;
  std::exception_ptr error;  // thrown again once the GIL is back
};

RecursiveNetlist read(const Source& source, const Map& keymap, const Map& components,
                      const Map& named) {
  if (source.path) return netweave(*source.path, keymap, components, named);
  TextBuffer buffer(source.text);
  std::istream stream(&buffer);
  return netweave(stream, keymap, components, named);
}

Reading read_without_gil(const Source& source, const Map& keymap, const Map& components,
                         const Map& named) {
  Reading reading;
  py::gil_scoped_release unlocked;
  // The reader passes its warnings on on this thread, which holds no GIL: they wait in the
  // capture until the GIL is back.
  const WarningCapture capture(reading.warnings);
  try {
    const auto kits = lock_kits_for_reading();
    reading.nets = read(source, keymap, components, named);
  } catch (...) {
    reading.error = std::current_exception();
  }
  return reading;
}

// ---- Errors ----

// The reader's ParseError as the package's, with the file beside the message; a file that
// cannot be read as the OSError subclass of its errno; a netlist or kit rejected by an outside
// part as ValueError. Anything else goes to pybind11's own translation.
[[noreturn]] void raise_in_python(const std::exception_ptr& error, const py::object& filename) {
  try {
    std::rethrow_exception(error);
  } catch (const ParseError& e) {
    const py::object raised =
        py::handle(parse_error_type)(message_text(e.what()), e.line(), filename);
    PyErr_SetObject(parse_error_type, raised.ptr());
  } catch (const std::system_error& e) {
    const py::object raised =
        py::handle(PyExc_OSError)(e.code().value(), message_text(e.code().message()), filename);
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(raised.ptr())), raised.ptr());
  } catch (const std::invalid_argument& e) {
    PyErr_SetObject(PyExc_ValueError, message_text(e.what()).ptr());
  }
  throw py::error_already_set();
}

// ---- The entry ----

py::object netweave_in_python(py::handle path_or_buf, py::handle settings_keymap,
                              py::handle component_map, const py::kwargs& kwargs) {
  const Map keymap = to_map(settings_keymap, "settings_keymap");
  const Map components = to_map(component_map, "component_map");
  const Map named = named_values(kwargs);
  const Source source = source_of(path_or_buf);
  Reading reading = read_without_gil(source, keymap, components, named);
  issue_warnings(reading.warnings);
  if (reading.error) raise_in_python(reading.error, source.filename);
  PyObject* nets = to_python(Value(std::move(reading.nets)));
  if (nets == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(nets);
}

// A first line "name(parameters)" and a line "--" give the function a signature that inspect
// reads.
constexpr const char* netweave_doc =
    R"(netweave(path_or_buf, settings_keymap=None, component_map=None, **kwargs)
--

Reads a SPICE-dialect netlist into a recursive netlist: {subcircuit: {instances,
connections, ports, settings, placements}}, last-defined subcircuit first, as plain Python
data. path_or_buf is a path (str or os.PathLike) or an object whose read() gives str or
bytes. settings_keymap renames settings, component_map renames components; the keyword
arguments are named values that settings may refer to. The active kit gives the ports.

Raises ParseError (with .line and .filename) for a netlist it cannot read; issues
ParseWarning through the warnings module; a file that cannot be read is an OSError.

    nets = orvelle.netweave("examples/mzi.sp", delta=30e-6)
)";

}  // namespace

}  // namespace detail

}  // namespace orvelle::python

PYBIND11_MODULE(_orvelle, module) {
  namespace detail = orvelle::python::detail;
  const py::module_ package = py::module_::import("orvelle");
  detail::parse_error_type = py::object(package.attr("ParseError")).release().ptr();
  detail::parse_warning_type = py::object(package.attr("ParseWarning")).release().ptr();

  py::options options;
  options.disable_function_signatures();  // the docstrings give theirs
  module.doc() = "Orvelle's netlist reader (the compiled part of the orvelle package).";
  module.attr("__version__") = std::string(orvelle::version);
  module.def("netweave", &detail::netweave_in_python, py::arg("path_or_buf"),
             py::arg("settings_keymap") = py::none(), py::arg("component_map") = py::none(),
             detail::netweave_doc);
  orvelle::python::add_kit_functions(module, package.attr("Pdk"));
}
