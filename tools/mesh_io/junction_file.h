#pragma once

// Junction files: the JSON description of one junction that vela-mesh meshes.
//
//   { "name": "tee",                               optional, default: the file stem
//     "center": [x, y, z],                         required
//     "far_points": [[x, y, z], ...],              required, in order around the junction;
//                                                  2 points make a bend, 3 or more an N-way
//     "radii": [r0_far, r0_junction, r1_far, ...], required, two per runner
//     "inner_share": 0.8, "outer_share": 0.2,
//     "first_circle_nodes": 8,
//     "inner_layers": [0, 0.25, 0.5, 0.75, 1],
//     "outer_layers": [0, 0.5, 1],                 may be []
//     "margin": [5, 1],                            for runner lengths, integers a and b
//     "extent": "runner-length",                   optional: the far points give only the
//                                                  runners' directions; the host places each
//                                                  at its runner's length (host::PlaceFarPoints)
//     "units": "mm" }                              the unit of every length: "mm" (the
//                                                  default), "cm", "m" or "in"
//
// The reader checks the shape of the file (keys, types, counts, finite
// numbers) and nothing else: whether the numbers make a junction that can be
// meshed is the library's decision, and its answer must not be pre-empted by a
// second, possibly different, rule here.

#include <array>
#include <stdexcept>
#include <string>
#include <vector>

namespace vela::io {

// A junction file that cannot be used. what() is one line naming the key at
// fault and the problem, e.g. "radii: expected 6 numbers (two per runner), got 5";
// ReadJunctionFile puts the file path in front.
class JunctionFileError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

struct JunctionFile {
  std::string name;
  std::array<double, 3> center{};
  std::vector<std::array<double, 3>> farPoints;
  std::vector<double> radii;  // two per runner: far end, junction end
  double innerShare = 0.8;
  double outerShare = 0.2;
  int firstCircleNodes = 8;
  std::vector<double> innerLayers{0.0, 0.25, 0.5, 0.75, 1.0};
  std::vector<double> outerLayers{0.0, 0.5, 1.0};
  std::array<int, 2> margin{5, 1};
  // Where the far points lie: as the file gives them, or along the given
  // directions at the runner lengths (the key "extent": "runner-length").
  enum class Extent { AsGiven, RunnerLength };
  Extent extent = Extent::AsGiven;
  std::string units = "mm";  // length_unit.h

  int RunnerCount() const { return static_cast<int>(farPoints.size()); }
  // Exactly two runners: the library meshes those as a bend, not as an N-way junction.
  bool IsBend() const { return farPoints.size() == 2; }
};

// Parses the text of a junction file. nameHint becomes the name when the file
// has no "name" key. Missing optional keys keep the defaults of JunctionFile.
// Throws JunctionFileError when the text is not JSON, not an object, has an
// unknown key, misses a required key, or a value has the wrong type, count or
// is not finite (e.g. 1e400); when "units" is not one of the units above;
// and when "extent" is not "runner-length", or is
// with a margin other than a >= b > 0, which gives no usable length to place
// a far point at.
JunctionFile ParseJunction(const std::string& text, const std::string& nameHint);

// Reads and parses the junction file at path; the default name is the file
// name without folder and extension. Throws JunctionFileError, with the path
// at the start of the message, when the file cannot be read or ParseJunction
// rejects it.
JunctionFile ReadJunctionFile(const std::string& path);

}  // namespace vela::io
