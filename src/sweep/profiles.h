#pragma once

// Blend shapes of a branch's size across the junction plane, t in [0, 1].

namespace vela {

// 0 over the first half, then a quarter-circle rise to 1: a branch wider than
// the junction keeps its size for half its length before it narrows.
double CircularProfile(double t);

// t itself: a branch narrower than the junction widens evenly.
double LinearProfile(double t);

}  // namespace vela
