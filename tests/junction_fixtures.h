#pragma once

// Junctions for the end-to-end tests, built the way a host would build them.

#include <VelaRunnerMapping.h>

#include "MemoryMesh.h"

#include <cmath>
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
};

struct Meshed {
  bool ok = false;
  MemoryMesh mesh;
  std::vector<ON_3fPoint> farNodes;
};

// Runners at the given angles (degrees) in the xy-plane, distance 20, radius r.
Junction Planar(const std::string& name, const std::vector<double>& degrees, double r = 2.0);

// Meshes the junction with NConnectRunner (3+ runners) or TwoConnectRunner (2).
Meshed MeshJunction(const Junction& j);

// The junction moved by offset and turned by the rotation matrix rot.
Junction Transformed(const Junction& j, const double rot[3][3], const std::array<double, 3>& offset);

// The merge tolerance the library uses for this junction (for the coincident-node check).
double MergeTolOf(const Junction& j);
