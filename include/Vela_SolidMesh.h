#pragma once

// CVela_SolidMesh: the host's solid-mesh container, into which the library
// writes a finished junction mesh.
//
// The host owns the object; the library only calls it and keeps no pointer to
// it after a junction call returns. During one call the library calls, in
// this order:
//   1. SetMeshSize(elementCount, nodeCount), once;
//   2. SetNodeCoord for every node 0..nodeCount-1;
//   3. one element setter for every element 0..elementCount-1.
// All indices are 0-based. The library reads nothing back and never calls
// GetNodeCount or GetElementCount; they exist for hosts and tools.
//
// Corner orders, as the library hands them over (node numbers 0-based):
//
//   tetrahedron       pyramid          prism            hexahedron
//        3               4                5               7-------6
//       /|\             /|\              /|\             /|      /|
//      / | \           / | \            3---4           4-------5 |
//     0--|--2         3--|--2           | 2 |           | 3-----|-2
//      \ | /          |  |  |           |/ \|           |/      |/
//        1            0-----1           0---1           0-------1
//
//   pyramid: base 0..3, apex 4. prism: base 0, 1, 2; corners 3, 4, 5 the
//   same corners one section on. hexahedron: base 0..3; 4..7 the same
//   corners one section on.
//
// With positive orientation the base (first three or four corners) turns
// counter-clockwise when seen from the apex or from the second section.
class CVela_SolidMesh {
public:
  virtual ~CVela_SolidMesh() = default;

  virtual void SetMeshSize(int elementCount, int nodeCount) = 0;
  virtual void SetTetraElement(int element, int n0, int n1, int n2, int n3) = 0;
  virtual void SetPyramidElement(int element, int n0, int n1, int n2, int n3, int n4) = 0;
  virtual void SetPrismElement(int element, int n0, int n1, int n2, int n3, int n4, int n5) = 0;
  virtual void SetHexaElement(int element, int n0, int n1, int n2, int n3, int n4, int n5, int n6,
                              int n7) = 0;
  virtual int GetNodeCount() const = 0;
  virtual int GetElementCount() const = 0;
  virtual void SetNodeCoord(int node, double x, double y, double z) = 0;
};
