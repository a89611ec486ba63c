// A plain runner swept between two sections, and the sections placed at open
// ends and where a runner carries straight on through a point.

#include "system_detail.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace vela::system::detail {
namespace {

// v turned by the smallest rotation that takes unit vector a onto unit b.
Vec3 TurnOnto(const Vec3& v, const Vec3& a, const Vec3& b) {
  const double c = Dot(a, b);
  if (c < -1.0 + 1e-12) {  // half a turn, about any axis square to a
    const Vec3 k = AnySquareTo(a);
    return Sub(Scale(k, 2 * Dot(k, v)), v);
  }
  const Vec3 k = Cross(a, b);
  return Add(Add(Scale(v, c), Cross(k, v)), Scale(k, Dot(k, v) / (1.0 + c)));
}

// v turned by angle about unit axis.
Vec3 TurnAbout(const Vec3& v, const Vec3& axis, double angle) {
  const double c = std::cos(angle), s = std::sin(angle);
  return Add(Add(Scale(v, c), Scale(Cross(axis, v), s)), Scale(axis, Dot(axis, v) * (1.0 - c)));
}

// The face wound the other way round.
SectionFace Reversed(SectionFace face) {
  std::reverse(face.at.begin() + 1, face.at.begin() + face.corners);
  return face;
}

int AddNode(SystemMesh& mesh, const Vec3& p) {
  mesh.nodes.push_back(p);
  return static_cast<int>(mesh.nodes.size()) - 1;
}

// For each face, which of its edges (edge k from corner k to the next) lie
// on the rim of the section: those no other face shares.
std::vector<std::array<bool, 4>> RimEdges(const std::vector<SectionFace>& faces) {
  std::map<std::pair<int, int>, int> uses;
  auto edge = [](const SectionFace& face, int k) {
    const int a = face.at[static_cast<std::size_t>(k)];
    const int b = face.at[static_cast<std::size_t>((k + 1) % face.corners)];
    return std::pair<int, int>(std::min(a, b), std::max(a, b));
  };
  for (const SectionFace& face : faces)
    for (int k = 0; k < face.corners; ++k) ++uses[edge(face, k)];
  std::vector<std::array<bool, 4>> rim(faces.size(), {false, false, false, false});
  for (std::size_t f = 0; f < faces.size(); ++f)
    for (int k = 0; k < faces[f].corners; ++k) rim[f][static_cast<std::size_t>(k)] = uses[edge(faces[f], k)] == 1;
  return rim;
}

// The faces of a section's nodes, wound about the runner (reversed: against it).
void AddSectionFaces(const std::vector<SectionFace>& faces, const std::vector<int>& nodes, bool reversed,
                     std::vector<std::vector<int>>& boundary) {
  for (const SectionFace& face : faces) {
    const SectionFace wound = reversed ? Reversed(face) : face;
    std::vector<int> corners;
    for (int k = 0; k < wound.corners; ++k)
      corners.push_back(nodes[static_cast<std::size_t>(wound.at[static_cast<std::size_t>(k)])]);
    boundary.push_back(std::move(corners));
  }
}

// One layer of elements between two sections' nodes, a prism per triangle
// and a hexahedron per quadrilateral, the faces turning about the runner;
// and the layer's share of the runner's side.
void AddLayer(const std::vector<SectionFace>& faces, const std::vector<std::array<bool, 4>>& rim,
              const std::vector<int>& lower, const std::vector<int>& upper, int region,
              SystemMesh& mesh, std::vector<std::vector<int>>& boundary) {
  for (std::size_t f = 0; f < faces.size(); ++f) {
    const SectionFace& face = faces[f];
    for (int k = 0; k < face.corners; ++k) {
      if (!rim[f][static_cast<std::size_t>(k)]) continue;
      const auto a = static_cast<std::size_t>(face.at[static_cast<std::size_t>(k)]);
      const auto b = static_cast<std::size_t>(face.at[static_cast<std::size_t>((k + 1) % face.corners)]);
      boundary.push_back({lower[a], lower[b], upper[b], upper[a]});
    }
    SystemElement element;
    element.corners = 2 * face.corners;
    element.nodes.fill(-1);
    element.region = region;
    for (int k = 0; k < face.corners; ++k) {
      const auto at = static_cast<std::size_t>(face.at[static_cast<std::size_t>(k)]);
      element.nodes[static_cast<std::size_t>(k)] = lower[at];
      element.nodes[static_cast<std::size_t>(k + face.corners)] = upper[at];
    }
    mesh.elements.push_back(element);
  }
}

}  // namespace

Section PlaceSection(const Section& like, const Vec3& origin, const Vec3& axis, double radius,
                     const Vec3* mitre, SystemMesh& mesh) {
  Section placed;
  placed.origin = origin;
  placed.axis = axis;
  placed.radius = radius;
  placed.faces = like.faces;
  const double scale = radius / like.radius;
  for (const Vec3& p : like.places) {
    Vec3 offset = TurnOnto(Scale(Sub(p, like.origin), scale), like.axis, axis);
    if (mitre) offset = Sub(offset, Scale(axis, Dot(offset, *mitre) / Dot(axis, *mitre)));
    placed.places.push_back(Add(origin, offset));
    placed.nodes.push_back(AddNode(mesh, placed.places.back()));
  }
  return placed;
}

void SweepRunner(const Section& from, const Section& to, const SectionJoin& join, int layers,
                 int region, SystemMesh& mesh, std::vector<std::vector<int>>& boundary) {
  const Vec3 along = Sub(to.origin, from.origin);
  const Vec3 axis = Unit(along);
  std::vector<SectionFace> faces = from.faces;
  if (Dot(from.axis, axis) < 0)
    for (SectionFace& face : faces) face = Reversed(face);
  const std::vector<std::array<bool, 4>> rim = RimEdges(faces);
  AddSectionFaces(faces, from.nodes, true, boundary);

  // Each node of `from` keeps its offset square to the runner, turned by its
  // share of the twist and scaled with the radius; the offset along the
  // runner (where an end is mitred) fades from one end's to the other's.
  std::vector<int> lower = from.nodes;
  std::vector<int> upper(from.nodes.size());
  for (int layer = 1; layer <= layers; ++layer) {
    const double t = static_cast<double>(layer) / layers;
    for (std::size_t k = 0; k < from.nodes.size(); ++k) {
      const auto joined = static_cast<std::size_t>(join.to[k]);
      if (layer == layers) {
        upper[k] = to.nodes[joined];
        continue;
      }
      const Vec3 offsetA = Sub(from.places[k], from.origin);
      const Vec3 offsetB = Sub(to.places[joined], to.origin);
      const double alongA = Dot(offsetA, axis), alongB = Dot(offsetB, axis);
      const Vec3 square = Sub(offsetA, Scale(axis, alongA));
      const double radius = from.radius + t * (to.radius - from.radius);
      const Vec3 turned = Scale(TurnAbout(square, axis, t * join.twist), radius / from.radius);
      const Vec3 centre = Add(from.origin, Scale(along, t));
      upper[k] = AddNode(mesh, Add(Add(centre, turned), Scale(axis, alongA + t * (alongB - alongA))));
    }
    AddLayer(faces, rim, lower, upper, region, mesh, boundary);
    lower = upper;
  }
  AddSectionFaces(faces, lower, false, boundary);
}

}  // namespace vela::system::detail
