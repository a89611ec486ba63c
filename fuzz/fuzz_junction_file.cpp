// Fuzzes the junction-file reader: any text either gives a JunctionFileError
// or a junction of the shape the header promises (at least two far points,
// two radii per runner, every number finite, a name). Whether the numbers make
// a junction that can be meshed is the library's question, not the reader's.

#include "CheckingMesh.h"

#include <junction_file.h>

#include <cmath>
#include <cstdint>
#include <string>

namespace {

using vela::fuzz::Fault;

bool Finite(double v) { return std::isfinite(v); }

bool Finite(const std::array<double, 3>& p) { return Finite(p[0]) && Finite(p[1]) && Finite(p[2]); }

void CheckShape(const vela::io::JunctionFile& j) {
  if (j.name.empty()) Fault("junction file read with an empty name");
  if (j.farPoints.size() < 2) Fault("junction file read with fewer than two far points");
  if (j.radii.size() != 2 * j.farPoints.size())
    Fault("junction file read with " + std::to_string(j.radii.size()) + " radii for " +
          std::to_string(j.farPoints.size()) + " runners");
  bool finite = Finite(j.center) && Finite(j.innerShare) && Finite(j.outerShare);
  for (const auto& p : j.farPoints) finite = finite && Finite(p);
  for (const auto* list : {&j.radii, &j.innerLayers, &j.outerLayers})
    for (double v : *list) finite = finite && Finite(v);
  if (!finite) Fault("junction file read with a number that is not finite");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    CheckShape(vela::io::ParseJunction(text, "fuzz"));
  } catch (const vela::io::JunctionFileError& e) {
    // One line, as the tool prints it after the file name.
    if (std::string(e.what()).find('\n') != std::string::npos)
      Fault(std::string("junction file error of more than one line: ") + e.what());
  }
  return 0;
}
