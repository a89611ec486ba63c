#pragma once

// Python arguments as the tool's values. Each conversion checks the form
// only (a number where one is expected, three coordinates to a point) and
// names the argument in its TypeError or ValueError. Whether the numbers
// make a junction is the library's decision, as it is for a junction file:
// NaN, infinities and huge values pass through for it to refuse by name.
//
// Sequences go through numpy, so lists, tuples and arrays of any numeric
// dtype are taken alike; strings and None are not numbers here. Needs the GIL.

#include "junction_call.h"
#include "junction_file.h"

#include <pybind11/pybind11.h>

#include <array>
#include <string>
#include <vector>

namespace vela::python {

namespace py = pybind11;

// A float: TypeError for anything that is not a real number.
double Number(py::handle value, const char* name);

// An integer within an int's range: TypeError for anything that is not an
// integer (8.0 included), ValueError beyond the range.
int Integer(py::handle value, const char* name);

// True or False: TypeError for anything else, 0 and 1 included, so that a
// number passed in the wrong place is not read as a switch.
bool Flag(py::handle value, const char* name);

// Three numbers [x, y, z].
std::array<double, 3> Point(py::handle value, const char* name);

// An (n, 3) array of points, n >= 1.
std::vector<std::array<double, 3>> Points(py::handle value, const char* name);

// A flat list of numbers, of any length (the library judges the counts).
std::vector<double> Numbers(py::handle value, const char* name);

// Two integers (a, b); ValueError for b = 0, which gives no length at all.
std::array<int, 2> Margin(py::handle value, const char* name);

// A file path: str, bytes or os.PathLike.
std::string PathText(py::handle value, const char* name);

// "auto", "nway" or "bend".
host::Call CallOf(py::handle value, const char* name);

}  // namespace vela::python
