#pragma once

// System files: the JSON description of a whole runner network that
// `vela-mesh system` meshes.
//
//   { "name": "h8",                                optional, default: the file stem
//     "points": {"inlet": [0, 0, 60], ...},        required, name -> [x, y, z], kept in file order
//     "runners": [                                 required
//        {"from": "inlet", "to": "s", "radius": [3, 4]},   radius at from, at to
//        {"from": "s", "to": "a", "radius": 3}, ...],      or one radius for both ends
//     "ends": {"inlet": "inlet", "g1": "gate-1"},  optional, patch names of open ends
//                                                  (an end left out gets "end-<point>")
//     "first_circle_nodes": 8,
//     "inner_layers": [0, 0.25, 0.5, 0.75, 1],
//     "outer_layers": [0, 0.5, 1],                 may be []
//     "inner_share": 0.8, "outer_share": 0.2,
//     "margin": [5, 1],                            RunnerLength margin: positive integers a and b
//     "axial_size": 1.0,                           target element length along plain runners
//     "units": "mm" }                              the unit of every length: "mm" (the
//                                                  default), "cm", "m" or "in"
//
// The reader checks the file's form: keys, types, counts, the points the
// runners and ends name, radii above zero, the margin, and patch names that
// would clash. Whether the network can be meshed (a point too sharp, a runner
// too short, unusable section settings) is the network layer's decision,
// given with its own reason.

#include "runner_system.h"

#include <stdexcept>
#include <string>

namespace vela::io {

// A system file that cannot be used. what() is one line naming the key or
// the point at fault and the problem, e.g.
// "runners[2].to: no point named \"g9\" in points"; ReadSystemFile puts the
// file path in front.
class SystemFileError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Parses the text of a system file. Missing optional keys keep the defaults
// of RunnerNetwork; the name stays empty when the file has none. Throws
// SystemFileError when the text is not JSON, not an object, has an unknown
// key (at the top or in a runner), misses a required key, names a point twice
// or not at all, or a value has the wrong type, count or range.
vela::system::RunnerNetwork ParseSystemFile(const std::string& text);
// The same, with the file's "units" (length_unit.h; "mm" without the key).
vela::system::RunnerNetwork ParseSystemFile(const std::string& text, std::string& units);

// Reads and parses the system file at path; a file without a name takes the
// file name without folder and extension. Throws SystemFileError, with the
// path at the start of the message, when the file cannot be read or
// ParseSystemFile rejects it.
vela::system::RunnerNetwork ReadSystemFile(const std::string& path);
vela::system::RunnerNetwork ReadSystemFile(const std::string& path, std::string& units);

}  // namespace vela::io
