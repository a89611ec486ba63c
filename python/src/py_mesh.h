#pragma once

// vela.Mesh: a meshed junction or runner system as Python sees it. It keeps
// what the library handed over (the junction as a mesh document, a system
// with its regions and patches) for the writers and the quality report that
// vela-mesh uses too, and the numpy arrays built from it once, read-only, so
// that the arrays a caller reads are always those a write() writes.
//
// Cells are grouped by kind in the order "tetra", "pyramid", "prism", "hexa"
// (ElementKindName; kinds the mesh has none of are left out), each kind's
// rows in element order, corners in the library's order (Vela_SolidMesh.h),
// 0-based node indices.

#include "mesh_file.h"
#include "runner_system.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <optional>
#include <string>
#include <vector>

namespace vela::python {

namespace py = pybind11;

class PyMesh {
public:
  // How a junction's pieces were merged into one mesh.
  struct Merge {
    int nodesBeforeMerge = 0;
    double tolerance = 0.0;
  };

  // A junction as the host call gave it (kind "nway" or "bend"). Needs the GIL.
  PyMesh(io::MeshDocument junction, Merge merge);
  // A runner system (kind "system"), its volume in the library's order. Needs the GIL.
  PyMesh(vela::system::SystemMesh system, std::string name);

  const py::array& Points() const { return m_points; }
  const py::dict& Cells() const { return m_cells; }
  const py::array& FarNodes() const { return m_farNodes; }
  const std::string& Kind() const { return m_document.kind; }
  const std::string& Name() const { return m_name; }
  const py::dict& Regions() const { return m_regions; }
  const py::list& RegionNames() const { return m_regionNames; }
  const py::dict& Patches() const { return m_patches; }
  // The junction call's merge record; None for a system.
  py::object NodesBeforeMerge() const;
  py::object MergeTolerance() const;

  // The cells in VTK's corner order, keyed by VTK cell type number (cell_types.h).
  py::dict VtkCells() const;

  // The quality report (quality.h) as vela-mesh --json gives it, with its
  // summary line; tolerance for coincident nodes as `vela-mesh check` takes it.
  py::dict Quality(std::optional<double> tolerance) const;

  // Writes the mesh by the path's extension with the tool's writers; the
  // paths written. ValueError for an unknown extension, OSError when a file
  // cannot be written.
  std::vector<std::string> Write(const std::string& path, const std::string& encoding) const;

  std::string Repr() const;

private:
  void BuildArrays();

  io::MeshDocument m_document;                       // the volume, kind, far nodes
  std::optional<vela::system::SystemMesh> m_system;  // a system's regions and patches
  std::optional<Merge> m_merge;                      // a junction's
  std::string m_name;
  py::array m_points, m_farNodes;
  py::dict m_cells, m_regions, m_patches;
  py::list m_regionNames;
};

}  // namespace vela::python
