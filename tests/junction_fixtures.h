#pragma once

// Junctions for the end-to-end tests, built the way a host would build them.

#include <VelaRunnerMapping.h>

#include "junction_file.h"
#include "memory_mesh.h"
#include "junction_call.h"

#include <cmath>
#include <functional>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

struct Junction {
  std::string name;
  std::array<double, 3> center{0, 0, 0};
  std::vector<std::array<double, 3>> farPoints;
  std::vector<double> radii;  // two per runner: far end, junction end
  double innerShare = 0.8, outerShare = 0.2;
  int firstRing = 8;
  std::vector<double> inner{0, 0.25, 0.5, 0.75, 1};
  std::vector<double> outer{};
  bool bend = false;  // meshed by TwoConnectRunner rather than NConnectRunner
};

// Names the junction in the failure messages of parameterised tests.
inline void PrintTo(const Junction& j, std::ostream* os) { *os << j.name; }

struct Meshed {
  bool ok = false;
  MemoryMesh mesh;
  std::vector<ON_3fPoint> farNodes;
};

// The junction's lists as the library takes them.
struct JunctionArrays {
  CArray<ON_3fPoint, ON_3fPoint> far;
  CArray<double, double> radii, inner, outer;
};

// Runners at the given angles (degrees) in the xy-plane, distance 20, radius r.
Junction Planar(const std::string& name, const std::vector<double>& degrees, double r = 2.0);

// j with change made to it, for tables of variants of one junction.
inline Junction With(Junction j, const std::function<void(Junction&)>& change) {
  change(j);
  return j;
}

// The junction's far points (as floats), radii and layer lists.
JunctionArrays ArraysOf(const Junction& j);
// A list of doubles as the library takes it.
CArray<double, double> List(std::initializer_list<double> values);

// Meshes the junction through the host calls (junction_call.h) with mapper (a
// fresh one when null): TwoConnectRunner when j.bend, else NConnectRunner.
Meshed MeshJunction(const Junction& j, CVelaRunnerMapping* mapper = nullptr);

// The junction moved by offset and turned by the rotation matrix rot.
Junction Transformed(const Junction& j, const double rot[3][3], const std::array<double, 3>& offset);

// A rigid motion: turned by `angle` radians about the unit `axis` through
// the origin, then shifted.
struct Motion {
  std::array<double, 3> axis;
  double angle;
  std::array<double, 3> shift;
  std::array<double, 3> operator()(const std::array<double, 3>& p) const;
};

// The junction as a junction file (its name, lists and settings).
vela::io::JunctionFile FileOf(const Junction& j);

// The merge tolerance the library uses for this junction (for the
// coincident-node check); 0 where the library refuses it.
double MergeTolOf(const Junction& j);
