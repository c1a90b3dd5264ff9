#include "from_python.hpp"

#include <string>

namespace py = pybind11;

namespace orvelle::python {

namespace detail {

namespace {

// Where a value sits inside an argument, as a chain back to the argument's name; rendered
// only when something is wrong with it.
struct Place {
  const Place* outer;
  std::string_view name;    // set on the argument itself
  PyObject* key = nullptr;  // a dict key
  Py_ssize_t index = -1;    // else a list position

  std::string str() const {
    if (outer == nullptr) return std::string(name);
    std::string place = outer->str() + "[";
    place += key != nullptr ? py::repr(key).cast<std::string>() : std::to_string(index);
    return place + "]";
  }
};

std::string type_name(py::handle object) {
  return Py_TYPE(object.ptr())->tp_name;
}

class RecursionGuard {
 public:
  RecursionGuard() {
    if (Py_EnterRecursiveCall(" while converting a Python value") != 0)
      throw py::error_already_set();
  }
  ~RecursionGuard() { Py_LeaveRecursiveCall(); }
  RecursionGuard(const RecursionGuard&) = delete;
  RecursionGuard& operator=(const RecursionGuard&) = delete;
};

Value convert(py::handle object, const Place& place);

Value convert_int(py::handle object, const Place& place) {
  int overflow = 0;
  const long long number = PyLong_AsLongLongAndOverflow(object.ptr(), &overflow);
  if (overflow != 0) {
    PyErr_Format(PyExc_OverflowError, "%s is an integer past 64 bits", place.str().c_str());
    throw py::error_already_set();
  }
  if (number == -1 && PyErr_Occurred()) throw py::error_already_set();
  return static_cast<std::int64_t>(number);
}

Value convert_str(py::handle object) {
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(object.ptr(), &size);
  if (text == nullptr) throw py::error_already_set();
  return std::string_view(text, static_cast<std::size_t>(size));
}

Value convert_list(py::handle object, const Place& place) {
  RecursionGuard guard;
  List list;
  const Py_ssize_t size = PyList_GET_SIZE(object.ptr());
  list.reserve(static_cast<std::size_t>(size));
  for (Py_ssize_t i = 0; i < size; ++i) {
    list.push_back(convert(PyList_GET_ITEM(object.ptr(), i), Place{&place, {}, nullptr, i}));
  }
  return list;
}

Map convert_dict(py::handle object, const Place& place) {
  RecursionGuard guard;
  Map map;
  Py_ssize_t position = 0;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  while (PyDict_Next(object.ptr(), &position, &key, &value)) {
    if (!PyUnicode_Check(key)) {
      throw py::type_error(place.str() + " has the key " + py::repr(key).cast<std::string>() +
                           " of type " + type_name(key) + "; keys must be str");
    }
    Value converted_key = convert_str(key);
    map.insert_or_assign(converted_key.as_text(), convert(value, Place{&place, {}, key}));
  }
  return map;
}

Value convert(py::handle object, const Place& place) {
  PyObject* raw = object.ptr();
  if (raw == Py_None) return Value();
  if (PyBool_Check(raw)) return raw == Py_True;
  if (PyLong_Check(raw)) return convert_int(object, place);
  if (PyFloat_Check(raw)) return PyFloat_AS_DOUBLE(raw);
  if (PyUnicode_Check(raw)) return convert_str(object);
  if (PyList_Check(raw)) return convert_list(object, place);
  if (PyDict_Check(raw)) return convert_dict(object, place);
  throw py::type_error(place.str() + " is of type " + type_name(object) +
                       "; values may be int, float, str, bool, None, list or dict");
}

}  // namespace

}  // namespace detail

Value to_value(py::handle object, std::string_view name) {
  return detail::convert(object, detail::Place{nullptr, name});
}

Map to_map(py::handle object, std::string_view name) {
  if (object.is_none()) return Map{};
  if (!PyDict_Check(object.ptr())) {
    throw py::type_error(std::string(name) + " must be a dict or None, not " +
                         detail::type_name(object));
  }
  return detail::convert_dict(object, detail::Place{nullptr, name});
}

py::object fspath_of(py::handle object) {
  const bool is_path =
      PyUnicode_Check(object.ptr()) ||
      PyObject_HasAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object.ptr())), "__fspath__");
  if (!is_path) return py::none();
  PyObject* fspath = PyOS_FSPath(object.ptr());
  if (fspath == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(fspath);
}

std::filesystem::path to_path(py::handle fspath) {
  py::object encoded = py::reinterpret_borrow<py::object>(fspath);
  if (PyUnicode_Check(fspath.ptr())) {
    encoded = py::reinterpret_steal<py::object>(PyUnicode_EncodeFSDefault(fspath.ptr()));
    if (!encoded) throw py::error_already_set();
  }
  const std::string_view bytes(PyBytes_AS_STRING(encoded.ptr()),
                               static_cast<std::size_t>(PyBytes_GET_SIZE(encoded.ptr())));
  // The system would read the path only up to the NUL: another file than the one named.
  if (bytes.find('\0') != std::string_view::npos) throw py::value_error("embedded null byte");
  return std::filesystem::path(bytes);
}

}  // namespace orvelle::python
