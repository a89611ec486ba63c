#pragma once

// Small networks the runner-system tests share.

#include "runner_system.h"

namespace vela::system::testing {

// A tee with an open end on each runner; the end at a is named "inlet".
RunnerNetwork Tee();
// A four-cavity H with the sprue square to the runner plane: three junctions,
// two runners between junctions, a tapered sprue and a bend feeding a gate.
RunnerNetwork H4();
// A runner that climbs out of the junction plane and passes on through a
// point with a slight kink.
RunnerNetwork Climb();
// One tapered runner between two open ends: no junction hands it a section.
RunnerNetwork Tube();
// An H-tree of 2^levels gates: a sprue onto a tee, then levels of tees in the
// plane z = 0, each a quarter turn from the last and shorter by 1/sqrt(2).
RunnerNetwork HTree(int levels);

}  // namespace vela::system::testing
