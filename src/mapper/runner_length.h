#pragma once

namespace vela {

// For each runner i = 1..n-1 of a junction (row 0 of points is the centre),
// out[i] = the largest over its two neighbours in list order of
//   Rmax * (cot(theta / 2) + 1 / q)   for an acute angle theta between them,
//   Rmax * (1 + 1 / q)                otherwise,
// with Rmax the largest runner radius and q = a / b in integer arithmetic.
// Rmax * cot(theta / 2) is where two cylinders of radius Rmax meeting at theta
// stop intersecting; Rmax / q is the margin. b = 0 writes nothing.
void ComputeRunnerLengths(int n, const double (*points)[3], const double* radius, int a,
                          double* out, int b);

}  // namespace vela
