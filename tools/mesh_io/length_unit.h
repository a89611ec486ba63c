#pragma once

// Length units of junction and system files and of the mesh files written
// from them. The library does not know units: a junction in millimetres is
// meshed as the same numbers in metres would be. The files say which one
// their numbers are in, and a mesh file may be written in another.

#include <string>

namespace vela::io {

// The unit a junction or system file is in when it names none.
inline const char* const kDefaultUnit = "mm";

// The units a file or the command line may name, as a message lists them.
inline const char* const kUnitNames = "\"mm\", \"cm\", \"m\", \"in\"";

// The metres one unit holds: 0.001 for "mm", 0.01 for "cm", 1 for "m",
// 0.0254 for "in"; 0 for any other name.
double MetresPerUnit(const std::string& unit);

// The factor that turns lengths in unit `from` into lengths in unit `to`;
// exactly 1 for the same unit, so that a file written in the unit it was
// given in keeps every coordinate's bits. Throws std::invalid_argument for
// a unit MetresPerUnit does not know.
double UnitFactor(const std::string& from, const std::string& to);

}  // namespace vela::io
