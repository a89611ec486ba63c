// Fuzzes one mesh-file reader, chosen by VELA_FUZZ_FORMAT (0 .json, 1 .vtu,
// 2 .msh); the three targets are this file built three times.
//
// Any text either gives a MeshFileError or a document that holds what
// mesh_file.h promises: a known junction kind or none (far nodes only on an N-way),
// finite coordinates, known element kinds whose corners name existing nodes
// (unused corner slots -1). Such a document is then written in every format
// and read back, and must come back bit for bit: the writers must accept
// whatever a reader returns, and the readers must read what the writers wrote.

#include "CheckingMesh.h"

#include <mesh_file.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#ifndef VELA_FUZZ_FORMAT
#error "VELA_FUZZ_FORMAT must name the format: 0 json, 1 vtu, 2 msh"
#endif

namespace {

using vela::fuzz::Fault;
using vela::io::MeshDocument;
using vela::io::MeshFormat;

constexpr MeshFormat kFormat = static_cast<MeshFormat>(VELA_FUZZ_FORMAT);
constexpr MeshFormat kAllFormats[] = {MeshFormat::Json, MeshFormat::Vtu, MeshFormat::Msh};
const char* const kFormatNames[] = {"json", "vtu", "msh"};

bool Finite(const std::array<double, 3>& p) {
  return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]);
}

void CheckDocument(const MeshDocument& d) {
  if (d.kind != "nway" && d.kind != "bend" && !d.kind.empty())
    Fault("mesh read with junction kind '" + d.kind + "'");
  if (d.kind != "nway" && !d.farNodes.empty()) Fault("far nodes read on a mesh that is not N-way");
  for (const auto& p : d.farNodes)
    if (!Finite(p)) Fault("far node read that is not finite");
  const int nodeCount = static_cast<int>(d.mesh.nodes.size());
  for (const auto& p : d.mesh.nodes)
    if (!Finite(p)) Fault("node read that is not finite");
  for (size_t e = 0; e < d.mesh.elements.size(); ++e) {
    const MeshElement& element = d.mesh.elements[e];
    const int corners = static_cast<int>(element.kind);
    if (corners != 4 && corners != 5 && corners != 6 && corners != 8)
      Fault("element " + std::to_string(e) + " read with an unknown kind");
    for (int c = 0; c < 8; ++c) {
      const int node = element.nodes[static_cast<size_t>(c)];
      if (c < corners ? (node < 0 || node >= nodeCount) : node != -1)
        Fault("element " + std::to_string(e) + " read with corner " + std::to_string(c) +
              " = node " + std::to_string(node) + " of " + std::to_string(nodeCount));
    }
  }
}

bool SameBits(const std::vector<std::array<double, 3>>& a,
              const std::vector<std::array<double, 3>>& b) {
  // memcmp must not see the null data() of an empty vector, even for no bytes.
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof a[0]) == 0);
}

bool Same(const MeshDocument& a, const MeshDocument& b) {
  if (a.kind != b.kind || !SameBits(a.mesh.nodes, b.mesh.nodes) ||
      !SameBits(a.farNodes, b.farNodes) || a.mesh.elements.size() != b.mesh.elements.size())
    return false;
  for (size_t e = 0; e < a.mesh.elements.size(); ++e)
    if (a.mesh.elements[e].kind != b.mesh.elements[e].kind ||
        a.mesh.elements[e].nodes != b.mesh.elements[e].nodes)
      return false;
  return true;
}

// Writes the document in format (with a scaled Jacobian per element where
// the format stores one, which the readers must skip) and reads it back.
void CheckRoundTrip(const MeshDocument& document, MeshFormat format) {
  const char* name = kFormatNames[static_cast<int>(format)];
  const std::vector<double> scaledJacobian(
      format == MeshFormat::Json ? 0 : document.mesh.elements.size(), 0.5);
  std::string text;
  try {
    text = vela::io::FormatMesh(document, format, scaledJacobian);
  } catch (const std::exception& e) {
    Fault(std::string("the .") + name +
          " writer refused a document a reader returned: " + e.what());
  }
  try {
    if (!Same(vela::io::ParseMesh(text, format), document))
      Fault(std::string("a .") + name + " write and read changed the document");
  } catch (const vela::io::MeshFileError& e) {
    Fault(std::string("the .") + name + " reader refused what its writer wrote: " + e.what());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  MeshDocument document;
  try {
    document = vela::io::ParseMesh(text, kFormat);
  } catch (const vela::io::MeshFileError&) {
    return 0;
  }
  CheckDocument(document);
  for (MeshFormat format : kAllFormats) CheckRoundTrip(document, format);
  return 0;
}
