#pragma once

// A refused junction in words a user can act on: the library's reason, and
// the key of the junction file (or the runner) to look at.
//
//   tee: refused (shares): the inner and outer shares of the radius do not add up to 1; check inner_share, outer_share
//   y: refused (far-point-degenerate): a far point lies at ...; check runner 2 (far_points[2])
//   y: refused (elevation): runner 2 leaves the junction plane at 33.2 degrees, limit 10 degrees; check runner 2 (far_points[2])
//
// Runners are numbered from 0, in the order of far_points, as the `length`
// table and the library's record number them. vela-mesh prints this line and
// the Python module raises it, so both point at the same key.

#include "junction_file.h"

#include <VelaRefusal.h>

#include <string>

namespace vela::host {

// What the user should look at for this reason: junction file keys, the
// runner's own entries when the library names a runner.
std::string RefusalSubject(const io::JunctionFile& junction, const vela::JunctionRefusal& why);

// The whole line, without the newline: the reason's words are the measured
// value against its limit where the library measured one
// (vela::RefusalMessage), its description otherwise. The junction's name is
// printed with control characters escaped.
std::string RefusalLine(const io::JunctionFile& junction, const vela::JunctionRefusal& why);

// What a refusal's measure counts, as scripts read it: "degrees", "length"
// (the input's unit), "ratio", "count" or "bytes"; nullptr for no measure.
const char* UnitName(vela::JunctionRefusal::Unit unit);

}  // namespace vela::host
