#include "py_mesh.h"

#include "cell_types.h"
#include "quality.h"
#include "quality_json.h"
#include "system_mesh_file.h"
#include "system_regions.h"

#include <nlohmann/json.hpp>

#include <sstream>
#include <stdexcept>
#include <utility>

namespace vela::python {

namespace {

constexpr ElementKind kKinds[] = {ElementKind::Tetra, ElementKind::Pyramid, ElementKind::Prism, ElementKind::Hexa};

size_t KindSlot(ElementKind kind) {
  for (size_t k = 0; k < std::size(kKinds); ++k)
    if (kKinds[k] == kind) return k;
  throw std::logic_error("unknown element kind");
}

// Each kind's elements, in element order.
std::array<std::vector<size_t>, 4> ElementsByKind(const MemoryMesh& mesh) {
  std::array<std::vector<size_t>, 4> byKind;
  for (size_t e = 0; e < mesh.elements.size(); ++e) byKind[KindSlot(mesh.elements[e].kind)].push_back(e);
  return byKind;
}

py::array ReadOnly(py::array array) {
  array.attr("setflags")(py::arg("write") = false);
  return array;
}

py::ssize_t Size(size_t n) { return static_cast<py::ssize_t>(n); }

py::array PointRows(const std::vector<std::array<double, 3>>& points) {
  py::array_t<double> rows({Size(points.size()), py::ssize_t{3}});
  auto out = rows.mutable_unchecked<2>();
  for (size_t i = 0; i < points.size(); ++i)
    for (size_t k = 0; k < 3; ++k) out(Size(i), Size(k)) = points[i][k];
  return ReadOnly(rows);
}

MeshElement AsGiven(MeshElement element) { return element; }

// Rows of corners of the given elements (all of one kind), each element put
// in a file format's order first.
py::array CornerRows(const MemoryMesh& mesh, const std::vector<size_t>& elements,
                     MeshElement (*order)(MeshElement)) {
  const int corners = mesh.elements[elements.front()].CornerCount();
  py::array_t<int> rows({Size(elements.size()), py::ssize_t{corners}});
  auto out = rows.mutable_unchecked<2>();
  for (size_t i = 0; i < elements.size(); ++i) {
    const MeshElement element = order(mesh.elements[elements[i]]);
    for (int k = 0; k < corners; ++k) out(Size(i), k) = element.nodes[static_cast<size_t>(k)];
  }
  return ReadOnly(rows);
}

// A system's boundary faces of one patch, triangles and quadrilaterals apart.
py::dict PatchFaces(const vela::system::SystemMesh& mesh, int patch) {
  std::array<std::vector<std::array<int, 4>>, 2> faces;  // triangles, quadrilaterals
  for (const vela::system::BoundaryFace& face : mesh.faces)
    if (face.patch == patch) faces[face.corners == 3 ? 0 : 1].push_back(face.nodes);
  py::dict out;
  const char* names[] = {"triangle", "quad"};
  for (size_t f = 0; f < 2; ++f) {
    if (faces[f].empty()) continue;
    const py::ssize_t corners = f == 0 ? 3 : 4;
    py::array_t<int> rows({Size(faces[f].size()), corners});
    auto put = rows.mutable_unchecked<2>();
    for (size_t i = 0; i < faces[f].size(); ++i)
      for (py::ssize_t k = 0; k < corners; ++k) put(Size(i), k) = faces[f][i][static_cast<size_t>(k)];
    out[names[f]] = ReadOnly(rows);
  }
  return out;
}

py::object FromJson(const nlohmann::ordered_json& value) {
  switch (value.type()) {
    case nlohmann::ordered_json::value_t::object: {
      py::dict out;
      for (const auto& [key, item] : value.items()) out[py::str(key)] = FromJson(item);
      return std::move(out);
    }
    case nlohmann::ordered_json::value_t::array: {
      py::list out;
      for (const auto& item : value) out.append(FromJson(item));
      return std::move(out);
    }
    case nlohmann::ordered_json::value_t::string: return py::str(value.get<std::string>());
    case nlohmann::ordered_json::value_t::boolean: return py::bool_(value.get<bool>());
    case nlohmann::ordered_json::value_t::number_integer: return py::int_(value.get<long long>());
    case nlohmann::ordered_json::value_t::number_unsigned: return py::int_(value.get<unsigned long long>());
    case nlohmann::ordered_json::value_t::number_float: return py::float_(value.get<double>());
    default: return py::none();
  }
}

io::Encoding EncodingOf(const std::string& encoding) {
  if (encoding == "default") return io::Encoding::Default;
  if (encoding == "ascii") return io::Encoding::Ascii;
  if (encoding == "binary") return io::Encoding::Binary;
  throw py::value_error("encoding: expected 'default', 'ascii' or 'binary', got '" + encoding + "'");
}

// What the tool stores beside a junction's cells in .vtu and .msh.
std::vector<double> ScaledJacobians(const MemoryMesh& mesh) {
  std::vector<double> values;
  values.reserve(mesh.elements.size());
  for (const MeshElement& element : mesh.elements) values.push_back(quality::ScaledJacobian(mesh, element));
  return values;
}

}  // namespace

PyMesh::PyMesh(io::MeshDocument junction, Merge merge) : m_document(std::move(junction)), m_merge(merge) {
  BuildArrays();
}

PyMesh::PyMesh(vela::system::SystemMesh system, std::string name)
    : m_system(std::move(system)), m_name(std::move(name)) {
  m_document.kind = "system";
  vela::system::WriteSolidMesh(*m_system, m_document.mesh);
  BuildArrays();
}

void PyMesh::BuildArrays() {
  const MemoryMesh& mesh = m_document.mesh;
  m_points = PointRows(mesh.nodes);
  m_farNodes = PointRows(m_document.farNodes);
  const std::array<std::vector<size_t>, 4> byKind = ElementsByKind(mesh);
  for (size_t k = 0; k < byKind.size(); ++k) {
    if (byKind[k].empty()) continue;
    const char* name = ElementKindName(kKinds[k]);
    m_cells[name] = CornerRows(mesh, byKind[k], AsGiven);
    if (!m_system) continue;
    py::array_t<int> regions(Size(byKind[k].size()));
    auto put = regions.mutable_unchecked<1>();
    for (size_t i = 0; i < byKind[k].size(); ++i) put(Size(i)) = m_system->elements[byKind[k][i]].region;
    m_regions[name] = ReadOnly(regions);
  }
  if (!m_system) return;
  for (const vela::system::Region& region : m_system->regions) m_regionNames.append(region.name);
  for (size_t p = 0; p < m_system->patches.size(); ++p)
    m_patches[py::str(m_system->patches[p])] = PatchFaces(*m_system, static_cast<int>(p));
}

py::object PyMesh::NodesBeforeMerge() const {
  return m_merge ? py::object(py::int_(m_merge->nodesBeforeMerge)) : py::none();
}

py::object PyMesh::MergeTolerance() const {
  return m_merge ? py::object(py::float_(m_merge->tolerance)) : py::none();
}

py::dict PyMesh::VtkCells() const {
  const MemoryMesh& mesh = m_document.mesh;
  const std::array<std::vector<size_t>, 4> byKind = ElementsByKind(mesh);
  py::dict out;
  for (size_t k = 0; k < byKind.size(); ++k)
    if (!byKind[k].empty())
      out[py::int_(io::detail::VtkCellType(kKinds[k]))] = CornerRows(mesh, byKind[k], io::detail::SwapWedgeCorners);
  return out;
}

py::dict PyMesh::Quality(std::optional<double> tolerance) const {
  const MemoryMesh& mesh = m_document.mesh;
  nlohmann::ordered_json report;
  {
    py::gil_scoped_release release;
    const double tol = tolerance ? *tolerance : quality::DefaultTolerance(mesh);
    const quality::QualityReport assessed =
        m_system ? quality::Assess(mesh, tol, quality::Limits::None(), 1, io::QualityRegions(*m_system))
                 : quality::Assess(mesh, tol);
    report = quality::QualityJson(assessed);
    report["summary"] = quality::SummaryLine(assessed);
  }
  return FromJson(report);
}

std::vector<std::string> PyMesh::Write(const std::string& path, const std::string& encoding) const {
  io::WriteOptions options;
  options.encoding = EncodingOf(encoding);
  std::vector<std::string> written;
  std::string failure;
  {
    py::gil_scoped_release release;
    try {
      if (m_system) {
        written = io::WriteSystemMesh(path, *m_system, m_name, options);
      } else {
        io::WriteMesh(path, m_document, ScaledJacobians(m_document.mesh), options);
        written.push_back(path);
      }
    } catch (const std::invalid_argument&) {
      throw;  // the path's extension or the mesh, not the disk: a ValueError
    } catch (const std::runtime_error& e) {
      failure = e.what();
    }
  }
  if (!failure.empty()) {
    PyErr_SetString(PyExc_OSError, failure.c_str());
    throw py::error_already_set();
  }
  return written;
}

std::string PyMesh::Repr() const {
  const MemoryMesh& mesh = m_document.mesh;
  std::ostringstream s;
  s << "<vela.Mesh " << m_document.kind << ": " << mesh.GetNodeCount() << " nodes, " << mesh.GetElementCount()
    << " elements";
  const char* sep = " (";
  for (const ElementKind kind : kKinds)
    if (mesh.CountOf(kind) > 0) {
      s << sep << mesh.CountOf(kind) << " " << ElementKindName(kind);
      sep = ", ";
    }
  s << (mesh.elements.empty() ? "" : ")") << ">";
  return s.str();
}

}  // namespace vela::python
