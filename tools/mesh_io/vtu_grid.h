#pragma once

// A VTK XML unstructured grid as the junction and the system .vtu files write
// it, in ASCII or as compressed binary. Internal to the host-side formats.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace vela::io::detail {

enum class VtkType { UInt8, Int32, Float64 };

// One DataArray. Integer types take their values from integers, Float64 from
// reals; components values make one tuple. Int32 holds every index and
// offset of a mesh whose corner count fits in Int32, which the callers check.
struct VtuArray {
  std::string name;
  VtkType type = VtkType::Int32;
  int components = 1;
  std::vector<std::int32_t> integers;
  std::vector<double> reals;
};

// One piece: points, the three cell arrays, cell data and field data. The
// writer assumes every array holds what its name promises (one value per
// cell, offsets matching the types): the callers build it from checked meshes.
struct VtuGrid {
  std::vector<VtuArray> fieldData;
  const std::vector<std::array<double, 3>>* points = nullptr;
  size_t cellCount = 0;
  VtuArray connectivity, offsets, types;
  std::vector<VtuArray> cellData;
};

// The field data that names the coordinates' unit: "metres_per_unit", one
// Float64 (0.001 for millimetres), a number every reader of the format
// takes, which a viewer can scale by. Nothing for units "".
std::vector<VtuArray> UnitsField(const std::string& units);

// Names the grid's three cell arrays and makes room in them for cellCount
// cells of cornerCount corners in all. Throws std::invalid_argument when
// that many corners cannot be numbered by Int32 offsets.
void StartCells(VtuGrid& grid, size_t cellCount, size_t cornerCount);

// The grid as a .vtu text. ASCII writes every number as text (coordinates
// with every bit); binary writes the points, cells and cell data as appended
// raw data, each array zlib-compressed in VTK's blocks with UInt64 headers,
// the layout the VTK tools themselves write. Field data stays ASCII in both:
// it is a few values, and a reader finds them without decoding anything.
std::string FormatVtuGrid(const VtuGrid& grid, bool binary);

}  // namespace vela::io::detail
