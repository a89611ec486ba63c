#pragma once

// Turns the point `in` about the line through `pivot` with direction `axis`
// by the angle whose sine and cosine are given (right-hand rule about axis),
// and writes the result to `out`, which may be the same storage as `in`.
//
// sin 0 and cos 1 exactly copy `in` and touch nothing else. Otherwise `axis`
// is normalised in place (the caller's array holds the unit axis afterwards),
// and a pivot exactly at the origin adds no translation. The axis must not be
// the zero vector.
void RotatePointAboutAxis(double sinAngle, double cosAngle, double* axis, const double* pivot,
                          const double* in, double* out);
