// vela._vela: the compiled half of the Python package vela. Every junction
// goes through the host's value call (junction_call.h), in doubles unless
// asked for the exported class's single precision, as vela-mesh meshes its
// junction files, and a refusal is worded as vela-mesh words it
// (refusal_text.h); runner systems go through the runner system layer; files
// through the writers vela-mesh uses. The package's Python half
// (vela/__init__.py) gives these calls their documented signatures and raises
// the refusals.
//
// The GIL is released while the library works; numpy arrays are built after
// it is taken back. A refusal comes back as a value beside an empty mesh
// (mesh, refusal), not as an exception, so that the Python half raises it
// with its own class.

#include "arguments.h"
#include "py_mesh.h"
#include "refusal_text.h"
#include "system_file.h"

#include <pybind11/stl.h>

#include <cmath>
#include <optional>
#include <utility>

namespace vela::python {

namespace {

// The settings a junction file leaves out, for the Python half's defaults.
py::dict JunctionDefaults() {
  const io::JunctionFile defaults;
  py::dict out;
  out["inner_share"] = defaults.innerShare;
  out["outer_share"] = defaults.outerShare;
  out["first_circle_nodes"] = defaults.firstCircleNodes;
  out["inner_layers"] = py::tuple(py::cast(defaults.innerLayers));
  out["outer_layers"] = py::tuple(py::cast(defaults.outerLayers));
  out["margin"] = py::tuple(py::cast(defaults.margin));
  return out;
}

// The value API takes the kind from the runner count. A call forced to the
// other kind cannot mesh at all; the exported class, whose two calls the
// keyword names, says why, and checks the shares before the runner count.
bool ForcedAgainstRunnerCount(host::Call call, size_t runners) {
  return (call == host::Call::NWay && runners < 3) || (call == host::Call::Bend && runners != 2);
}

// x rounded to the nearest float. Through memory: GCC 12's vectoriser turns
// the round trip of neighbouring coordinates, double to float to double,
// into a plain copy, and the far nodes would keep their double bits.
double AsFloat(double x) {
  const volatile float f = static_cast<float>(x);
  return f;
}

py::object MeasureOrNone(double measure) { return std::isnan(measure) ? py::none() : py::object(py::float_(measure)); }

py::object UnitName(JunctionRefusal::Unit unit) {
  const char* name = host::UnitName(unit);
  return name ? py::object(py::str(name)) : py::none();
}

// The bound a call may take: None for half the machine's memory, 0 for none.
double MemoryLimit(py::handle memoryLimit) {
  const double bytes = memoryLimit.is_none() ? host::DefaultMemoryLimit() : Number(memoryLimit, "memory_limit");
  if (!(bytes >= 0.0)) throw py::value_error("memory_limit: expected bytes, 0 or more (0: no bound)");
  return bytes;
}

// What the Python half raises JunctionRefused with, the line last.
py::tuple RefusalTuple(const io::JunctionFile& junction, const JunctionRefusal& why) {
  return py::make_tuple(RefusalName(why.reason), why.runner, why.otherRunner, MeasureOrNone(why.value),
                        MeasureOrNone(why.limit), UnitName(why.unit), host::RefusalLine(junction, why));
}

// The junction's settings, as a junction file holds them.
struct Settings {
  py::object innerShare, outerShare, firstCircleNodes, innerLayers, outerLayers;
};

py::tuple MeshJunction(py::handle center, py::handle farPoints, py::handle radii, const Settings& settings,
                       py::handle call, py::handle singlePrecision, py::handle asConstructed,
                       py::handle memoryLimit) {
  io::JunctionFile junction;
  junction.name = "junction";
  junction.center = Point(center, "center");
  junction.farPoints = Points(farPoints, "far_points");
  junction.radii = Numbers(radii, "radii");
  junction.innerShare = Number(settings.innerShare, "inner_share");
  junction.outerShare = Number(settings.outerShare, "outer_share");
  junction.firstCircleNodes = Integer(settings.firstCircleNodes, "first_circle_nodes");
  junction.innerLayers = Numbers(settings.innerLayers, "inner_layers");
  junction.outerLayers = Numbers(settings.outerLayers, "outer_layers");
  const host::Call how = CallOf(call, "call");
  JunctionOptions options;
  options.singlePrecisionPoints = Flag(singlePrecision, "single_precision");
  // The class's mesh bit for bit is its construction too.
  options.asConstructed = Flag(asConstructed, "as_constructed") || options.singlePrecisionPoints;
  options.memoryLimit = MemoryLimit(memoryLimit);

  if (ForcedAgainstRunnerCount(how, junction.farPoints.size())) {
    host::CallResult refused;
    {
      py::gil_scoped_release release;
      MemoryMesh unused;
      refused = host::MeshJunction(junction, unused, how);
    }
    // Neither of the class's calls meshes the other kind; should one ever,
    // the runner count is still what the value API cannot mesh.
    if (refused.ok) refused.refusal = JunctionRefusal{Refusal::TooFewRunners};
    return py::make_tuple(py::none(), RefusalTuple(junction, refused.refusal));
  }

  io::MeshDocument document;
  std::optional<PyMesh::Merge> merge;
  JunctionRefusal why;
  {
    py::gil_scoped_release release;
    const JunctionResult result = host::MeshValue(junction, options);
    why = result.refusal;
    if (result.ok()) {
      WriteSolidMesh(result.mesh, document.mesh);
      document.kind = junction.IsBend() ? "bend" : "nway";
      // A bend hands over no far nodes, as TwoConnectRunner does not; the
      // class hands them over as floats.
      if (!junction.IsBend()) document.farNodes = host::FarNodes(junction, result.mesh);
      if (options.singlePrecisionPoints)
        for (auto& p : document.farNodes)
          for (double& x : p) x = AsFloat(x);
      merge = PyMesh::Merge{result.mesh.nodesBeforeMerge, result.mesh.mergeTolerance};
    }
  }
  if (!merge) return py::make_tuple(py::none(), RefusalTuple(junction, why));
  return py::make_tuple(PyMesh(std::move(document), *merge), py::none());
}

py::array RunnerLength(py::handle center, py::handle farPoints, py::handle radii, py::handle margin) {
  io::JunctionFile junction;
  junction.center = Point(center, "center");
  junction.farPoints = Points(farPoints, "far_points");
  junction.radii = Numbers(radii, "radii");
  junction.margin = Margin(margin, "margin");
  // The host reads the far-end radius of every runner.
  if (junction.radii.size() < 2 * junction.farPoints.size())
    throw py::value_error("radii: expected two numbers per runner (" + std::to_string(2 * junction.farPoints.size()) +
                          "), got " + std::to_string(junction.radii.size()));
  std::vector<double> lengths;
  {
    py::gil_scoped_release release;
    lengths = host::RunnerLengths(junction);
  }
  return py::array_t<double>(static_cast<py::ssize_t>(lengths.size()), lengths.data());
}

vela::system::BuildOptions SystemOptions(py::handle threads, py::handle memoryLimit, bool asConstructed) {
  vela::system::BuildOptions options;
  options.asConstructed = asConstructed;
  options.threads = Integer(threads, "threads");
  if (options.threads < 0) throw py::value_error("threads: expected 0 (every core) or more");
  options.memoryLimit = MemoryLimit(memoryLimit);
  return options;
}

// The network meshed, or its refusal worded as vela-mesh words it.
py::tuple MeshNetwork(const vela::system::RunnerNetwork& network, const vela::system::BuildOptions& options) {
  vela::system::SystemOutcome outcome;
  {
    py::gil_scoped_release release;
    outcome = vela::system::MeshRunnerSystem(network, options);
  }
  if (!outcome.ok) {
    const vela::system::SystemRefusal& why = outcome.refusal;
    const auto text = [](const std::string& s) { return s.empty() ? py::object(py::none()) : py::object(py::str(s)); };
    const py::object junction =
        why.junctionReason == Refusal::None ? py::object(py::none()) : py::object(py::str(RefusalName(why.junctionReason)));
    return py::make_tuple(py::none(),
                          py::make_tuple(why.reason, text(why.point), text(why.runner), MeasureOrNone(why.value),
                                         MeasureOrNone(why.limit), UnitName(why.unit), junction,
                                         network.name + ": refused (" + why.reason + "): " + why.message));
  }
  return py::make_tuple(PyMesh(std::move(outcome.mesh), network.name), py::none());
}

py::tuple MeshSystemText(const std::string& text, py::handle threads, py::handle memoryLimit, bool asConstructed) {
  const vela::system::BuildOptions options = SystemOptions(threads, memoryLimit, asConstructed);
  vela::system::RunnerNetwork network = io::ParseSystemFile(text);
  if (network.name.empty()) network.name = "system";
  return MeshNetwork(network, options);
}

py::tuple MeshSystemFile(py::handle path, py::handle threads, py::handle memoryLimit, bool asConstructed) {
  const vela::system::BuildOptions options = SystemOptions(threads, memoryLimit, asConstructed);
  const std::string file = PathText(path, "system");
  vela::system::RunnerNetwork network;
  {
    py::gil_scoped_release release;
    network = io::ReadSystemFile(file);
  }
  return MeshNetwork(network, options);
}

void BindMesh(py::module_& m) {
  py::class_<PyMesh>(m, "Mesh",
                     "A meshed junction or runner system, made by vela.mesh_junction or vela.mesh_system;\n"
                     "the arrays are read-only copies of what the library handed over.")
      .def_property_readonly("points", &PyMesh::Points, "(n, 3) float64 node coordinates.")
      .def_property_readonly("cells", &PyMesh::Cells,
                             "dict kind -> (m, k) int32 corners, 0-based: kinds in the order 'tetra', 'pyramid',\n"
                             "'prism', 'hexa' (those present), rows in element order, corners in the library's order.")
      .def_property_readonly("far_nodes", &PyMesh::FarNodes,
                             "(N, 3) float64: per runner of an N-way junction, the angle-0 node of the outermost\n"
                             "ring of its far-end section; (0, 3) for a bend or a system.")
      .def_property_readonly("kind", &PyMesh::Kind, "'nway', 'bend' or 'system'.")
      .def_property_readonly("nodes_before_merge", &PyMesh::NodesBeforeMerge,
                             "A junction's nodes as its pieces made them, before the copies neighbouring\n"
                             "pieces share were merged into one; None for a system.")
      .def_property_readonly("merge_tolerance", &PyMesh::MergeTolerance,
                             "The distance within which a junction's shared copies were merged, in the\n"
                             "input's length unit; None for a system.")
      .def_property_readonly("name", &PyMesh::Name, "The runner system's name; '' for a junction.")
      .def_property_readonly("regions", &PyMesh::Regions,
                             "dict kind -> (m,) int32: each cell's index into region_names, cells as in\n"
                             "cells (a system; {} for a junction).")
      .def_property_readonly("region_names", &PyMesh::RegionNames,
                             "Where elements came from: 'junction at s', 'bend at a', 'runner s-a'.")
      .def_property_readonly("patches", &PyMesh::Patches,
                             "dict patch name -> {'triangle': (f, 3), 'quad': (g, 4)}: the boundary faces,\n"
                             "wound outward; 'wall' first, then one patch per open end (a system; {} for a\n"
                             "junction).")
      .def("vtk_cells", &PyMesh::VtkCells,
           "vtk_cells() -> dict\n\n"
           "The cells in VTK's corner order, keyed by VTK cell type (10 tetra, 14 pyramid,\n"
           "13 wedge, 12 hexahedron), for VTK-based tools.")
      .def("quality", &PyMesh::Quality, py::arg("tolerance") = py::none(),
           "quality(tolerance=None) -> dict\n\n"
           "The quality report as `vela-mesh --json` gives it: 'faults' (a count per fault\n"
           "class), 'has_faults', 'min_scaled_jacobian', 'by_kind', 'volume',\n"
           "'coincidence_tolerance'; and 'summary', its one line. tolerance: the distance (in\n"
           "the mesh's length unit) within which two nodes count as coincident; by default a\n"
           "millionth of the bounding box's diagonal. ValueError for a negative or non-finite one.")
      .def(
          "write",
          [](const PyMesh& mesh, py::handle path, const std::string& encoding) {
            return mesh.Write(PathText(path, "path"), encoding);
          },
          py::arg("path"), py::arg("encoding") = "default",
          "write(path, encoding='default') -> list[str]\n\n"
          "Writes the mesh with vela-mesh's writers, the format by the extension: .json, .vtu or\n"
          ".msh for a junction; .json, .vtu (with NAME.patches.vtu beside it), .msh or .svg for\n"
          "a system. encoding: 'default' (binary .vtu, ASCII .msh), 'ascii' or 'binary'.\n"
          "Returns the paths written. ValueError for another extension, OSError when a file\n"
          "cannot be written.")
      .def("__repr__", &PyMesh::Repr);
}

}  // namespace

}  // namespace vela::python

PYBIND11_MODULE(_vela, m) {
  namespace py = pybind11;
  using namespace vela::python;
  m.doc() = "The compiled half of the package vela; use vela's functions.";
  // The docstrings carry their own signature lines, in Python's terms.
  py::options options;
  options.disable_function_signatures();
  py::register_exception_translator([](std::exception_ptr error) {
    try {
      if (error) std::rethrow_exception(error);
    } catch (const vela::io::SystemFileError& e) {
      PyErr_SetString(PyExc_ValueError, e.what());
    }
  });
  BindMesh(m);
  m.def("junction_defaults", &JunctionDefaults);
  m.def("mesh_junction",
        [](py::handle center, py::handle farPoints, py::handle radii, py::object innerShare, py::object outerShare,
           py::object firstCircleNodes, py::object innerLayers, py::object outerLayers, py::handle call,
           py::handle singlePrecision, py::handle asConstructed, py::handle memoryLimit) {
          const Settings settings{std::move(innerShare), std::move(outerShare), std::move(firstCircleNodes),
                                  std::move(innerLayers), std::move(outerLayers)};
          return MeshJunction(center, farPoints, radii, settings, call, singlePrecision, asConstructed, memoryLimit);
        });
  m.def("runner_length", &RunnerLength);
  m.def("mesh_system_text", &MeshSystemText);
  m.def("mesh_system_file", &MeshSystemFile);
}
