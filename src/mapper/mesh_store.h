#pragma once

// The junction mesh as the library holds it: 1-based node rows of three
// doubles and 1-based element rows of 8 node numbers, trailing zeros telling
// the kind (4 corners tetrahedron, 5 pyramid, 6 prism, 8 hexahedron).

#include <Vela_SolidMesh.h>

namespace vela {

// Writes nodes 1..nodeCount and elements 1..elementCount into the host's
// container, 0-based: SetMeshSize first, then every node, then every element
// by its kind.
void WriteSolidMesh(const double (*nodes)[3], int nodeCount, const int (*elements)[8],
                    int elementCount, CVela_SolidMesh& mesh);

}  // namespace vela
