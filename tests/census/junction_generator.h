#pragma once

// Seeded random junctions for the census: every junction is rebuilt exactly
// from (profile, seed, index), so a failure found in a long run can be
// replayed alone.
//
//   plausible  what a runner system in a real mould looks like: 2-8 runners
//              spread roughly evenly in a plane, a few degrees of elevation,
//              radii within 15 % of each other, light tapers, modest sections.
//   broad      everything a host could hand over without being wrong on its
//              face: near-planar to fully 3D directions, neighbours 1 to 180
//              degrees apart, radius ratios up to 6, tapers up to 40 %, fine
//              sections, and now and then an odd first ring (to be refused).
//   bends      plausible bends alone, of every opening from 20 degrees (a
//              hairpin, its runners running back side by side) to 180 (a
//              straight pass): the junctions most likely to have sharp turns.

#include "../junction_fixtures.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vela::census {

enum class Profile { Plausible, Broad, Bends };

// "plausible", "broad" or "bends".
const char* ProfileName(Profile profile);
// The profile named name, or nothing for an unknown name.
std::optional<Profile> ProfileFromName(const std::string& name);

// Junction number index of the run (profile, seed). Its name is
// "<profile>-s<seed>-i<index>".
Junction GenerateJunction(Profile profile, std::uint64_t seed, std::uint64_t index);

// The smallest angle in degrees between the directions (centre to far point)
// of two runners that follow each other in the list, the last and the first
// included; 180 for fewer than two runners.
double SmallestNeighbourAngleDeg(const Junction& j);

// The junction as a junction file of vela-mesh (the keys of examples/*.json),
// numbers written with 17 significant digits.
std::string JunctionFileText(const Junction& j);

}  // namespace vela::census
