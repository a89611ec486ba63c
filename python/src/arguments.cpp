#include "arguments.h"

#include <pybind11/numpy.h>

#include <climits>
#include <string>

namespace vela::python {

namespace {

using DoubleArray = py::array_t<double, py::array::c_style | py::array::forcecast>;

std::string TypeName(py::handle value) { return py::str(py::type::handle_of(value).attr("__name__")); }

std::string ShapeText(const DoubleArray& array) {
  std::string text = "(";
  for (py::ssize_t k = 0; k < array.ndim(); ++k)
    text += (k ? ", " : "") + std::to_string(array.shape(k));
  return text + (array.ndim() == 1 ? ",)" : ")");
}

// value as a float64 array; a TypeError naming the argument when numpy
// cannot take it as numbers. numpy would read None as NaN and "1.5" as 1.5:
// neither is a number a caller meant.
DoubleArray AsArray(py::handle value, const char* name, const char* expected) {
  const bool notNumbers = value.is_none() || py::isinstance<py::str>(value) || py::isinstance<py::bytes>(value) ||
                          py::isinstance<py::dict>(value);
  // (A default array_t is an empty array, not a null one.)
  if (!notNumbers)
    if (DoubleArray array = DoubleArray::ensure(value)) return array;
  throw py::type_error(std::string(name) + ": expected " + expected + ", got " + TypeName(value));
}

[[noreturn]] void WrongShape(const char* name, const char* expected, const DoubleArray& array) {
  throw py::value_error(std::string(name) + ": expected " + expected + ", got an array of shape " + ShapeText(array));
}

}  // namespace

double Number(py::handle value, const char* name) {
  if (!value.is_none() && !py::isinstance<py::str>(value)) {
    const double number = PyFloat_AsDouble(value.ptr());
    if (!(number == -1.0 && PyErr_Occurred())) return number;
    PyErr_Clear();
  }
  throw py::type_error(std::string(name) + ": expected a number, got " + TypeName(value));
}

int Integer(py::handle value, const char* name) {
  const py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
  if (!index) {
    PyErr_Clear();
    throw py::type_error(std::string(name) + ": expected an integer, got " + TypeName(value));
  }
  int overflow = 0;
  const long long number = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
  if (overflow != 0 || number < INT_MIN || number > INT_MAX)
    throw py::value_error(std::string(name) + ": " + std::string(py::str(index)) + " is beyond an int's range");
  return static_cast<int>(number);
}

bool Flag(py::handle value, const char* name) {
  if (!py::isinstance<py::bool_>(value))
    throw py::type_error(std::string(name) + ": expected True or False, got " + TypeName(value));
  return value.cast<bool>();
}

std::array<double, 3> Point(py::handle value, const char* name) {
  const DoubleArray array = AsArray(value, name, "a point [x, y, z]");
  if (array.ndim() != 1 || array.shape(0) != 3) WrongShape(name, "a point [x, y, z]", array);
  return {array.at(0), array.at(1), array.at(2)};
}

std::vector<std::array<double, 3>> Points(py::handle value, const char* name) {
  const char* expected = "an (n, 3) array of points, n >= 1";
  const DoubleArray array = AsArray(value, name, expected);
  if (array.ndim() != 2 || array.shape(1) != 3 || array.shape(0) < 1) WrongShape(name, expected, array);
  const auto rows = array.unchecked<2>();
  std::vector<std::array<double, 3>> points(static_cast<size_t>(rows.shape(0)));
  for (py::ssize_t i = 0; i < rows.shape(0); ++i)
    points[static_cast<size_t>(i)] = {rows(i, 0), rows(i, 1), rows(i, 2)};
  return points;
}

std::vector<double> Numbers(py::handle value, const char* name) {
  const DoubleArray array = AsArray(value, name, "a list of numbers");
  if (array.ndim() != 1) WrongShape(name, "a flat list of numbers", array);
  return std::vector<double>(array.data(), array.data() + array.size());
}

std::array<int, 2> Margin(py::handle value, const char* name) {
  if (!PySequence_Check(value.ptr()) || py::isinstance<py::str>(value) || py::len(value) != 2)
    throw py::type_error(std::string(name) + ": expected two integers (a, b), got " + TypeName(value));
  const py::sequence pair = py::reinterpret_borrow<py::sequence>(value);
  const std::array<int, 2> margin{Integer(pair[0], name), Integer(pair[1], name)};
  if (margin[1] == 0) throw py::value_error(std::string(name) + ": b is 0, which gives no length (a/b)");
  return margin;
}

std::string PathText(py::handle value, const char* name) {
  const py::object path = py::reinterpret_steal<py::object>(PyOS_FSPath(value.ptr()));
  if (!path) {
    PyErr_Clear();
    throw py::type_error(std::string(name) + ": expected a path (str or os.PathLike), got " + TypeName(value));
  }
  return py::str(py::module_::import("os").attr("fsdecode")(path));
}

host::Call CallOf(py::handle value, const char* name) {
  if (py::isinstance<py::str>(value)) {
    const std::string text = py::str(value);
    if (text == "auto") return host::Call::ByRunnerCount;
    if (text == "nway") return host::Call::NWay;
    if (text == "bend") return host::Call::Bend;
  }
  throw py::value_error(std::string(name) + ": expected 'auto', 'nway' or 'bend', got " +
                        std::string(py::repr(value)));
}

}  // namespace vela::python
