#include "picture.h"

#include "quality.h"
#include "vec.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <map>
#include <sstream>
#include <vector>

namespace vela::picture {

namespace {

using quality::Cross;
using quality::Dot;
using quality::kPi;
using quality::Vec;

Vec Unit(const Vec& a) {
  const double l = std::sqrt(Dot(a, a));
  return l > 0.0 ? Vec{a[0] / l, a[1] / l, a[2] / l} : Vec{0, 0, 0};
}

struct Camera {
  Vec toViewer, right, up;
  Vec toLight;  // over the viewer's left shoulder
};

Camera MakeCamera(const ViewOptions& view) {
  const double az = view.azimuthDeg * kPi / 180.0, el = view.elevationDeg * kPi / 180.0;
  Camera c;
  c.toViewer = {std::cos(el) * std::cos(az), std::cos(el) * std::sin(az), std::sin(el)};
  // Looking straight down or up, the world's y axis stands in for "up".
  const Vec worldUp = std::fabs(c.toViewer[2]) > 0.999 ? Vec{0, 1, 0} : Vec{0, 0, 1};
  c.right = Unit(Cross(worldUp, c.toViewer));
  c.up = Cross(c.toViewer, c.right);
  c.toLight = Unit({c.toViewer[0] + 0.5 * c.up[0] - 0.4 * c.right[0], c.toViewer[1] + 0.5 * c.up[1] - 0.4 * c.right[1],
                    c.toViewer[2] + 0.5 * c.up[2] - 0.4 * c.right[2]});
  return c;
}

struct Face {
  std::vector<int> nodes;
  ElementKind kind;
  double depth;   // towards the viewer
  double facing;  // cosine between the outward normal and the view direction
  double lit;     // cosine between the outward normal and the light
};

// Boundary faces, outward, with the kind of the element they bound.
std::vector<Face> BoundaryFaces(const MemoryMesh& mesh, const Camera& camera) {
  std::map<std::vector<int>, std::pair<int, Face>> uses;
  for (const MeshElement& e : mesh.elements)
    for (std::vector<int>& f : quality::OutwardFaces(e)) {
      std::vector<int> key = f;
      std::sort(key.begin(), key.end());
      auto& entry = uses[key];
      if (++entry.first == 1) entry.second = Face{std::move(f), e.kind, 0.0, 0.0, 0.0};
    }
  std::vector<Face> faces;
  for (auto& [key, entry] : uses) {
    if (entry.first != 1) continue;
    Face& f = entry.second;
    Vec normal{0, 0, 0}, centre{0, 0, 0};
    const size_t n = f.nodes.size();
    for (size_t i = 0; i < n; ++i) {  // Newell's normal: exact for flat faces, fair for warped ones
      const Vec& a = mesh.nodes[static_cast<size_t>(f.nodes[i])];
      const Vec& b = mesh.nodes[static_cast<size_t>(f.nodes[(i + 1) % n])];
      normal[0] += (a[1] - b[1]) * (a[2] + b[2]);
      normal[1] += (a[2] - b[2]) * (a[0] + b[0]);
      normal[2] += (a[0] - b[0]) * (a[1] + b[1]);
      for (int k = 0; k < 3; ++k) centre[static_cast<size_t>(k)] += a[static_cast<size_t>(k)] / static_cast<double>(n);
    }
    f.facing = Dot(Unit(normal), camera.toViewer);
    f.lit = Dot(Unit(normal), camera.toLight);
    f.depth = Dot(centre, camera.toViewer);
    faces.push_back(std::move(f));
  }
  return faces;
}

std::vector<Face> VisibleFaces(const MemoryMesh& mesh, const Camera& camera) {
  std::vector<Face> faces = BoundaryFaces(mesh, camera);
  // Faces seen edge-on (up to rounding) cover no area: left out with the back faces.
  faces.erase(std::remove_if(faces.begin(), faces.end(), [](const Face& f) { return f.facing <= 1e-9; }),
              faces.end());
  // Painter's order: the farthest face first.
  std::stable_sort(faces.begin(), faces.end(), [](const Face& a, const Face& b) { return a.depth < b.depth; });
  return faces;
}

struct Rgb {
  int r, g, b;
};

Rgb KindColour(ElementKind kind) {
  switch (kind) {
    case ElementKind::Hexa: return {78, 121, 167};
    case ElementKind::Prism: return {242, 142, 43};
    case ElementKind::Pyramid: return {89, 161, 79};
    case ElementKind::Tetra: return {225, 87, 89};
  }
  return {128, 128, 128};
}

std::string Shaded(const Rgb& c, double light) {
  std::ostringstream s;
  auto channel = [&](int v) { return std::min(255, static_cast<int>(std::lround(v * light))); };
  s << "#" << std::hex << std::setfill('0') << std::setw(2) << channel(c.r) << std::setw(2) << channel(c.g)
    << std::setw(2) << channel(c.b);
  return s.str();
}

// Text for an XML text node. Control characters other than white space have
// no place in XML at all, escaped or not: a question mark stands in.
std::string Escaped(const std::string& text) {
  std::string out;
  for (char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    if (ch == '<') out += "&lt;";
    else if (ch == '>') out += "&gt;";
    else if (ch == '&') out += "&amp;";
    else if ((byte < 0x20 && ch != '\t' && ch != '\n' && ch != '\r') || byte == 0x7f) out += '?';
    else out += ch;
  }
  return out;
}

}  // namespace

int VisibleFaceCount(const MemoryMesh& mesh, const ViewOptions& view) {
  return static_cast<int>(VisibleFaces(mesh, MakeCamera(view)).size());
}

std::string RenderSvg(const MemoryMesh& mesh, const ViewOptions& view) {
  const Camera camera = MakeCamera(view);
  const std::vector<Face> faces = VisibleFaces(mesh, camera);

  // Fit the projected nodes into the picture, below the title.
  double minX = 0, maxX = 1, minY = 0, maxY = 1;
  bool first = true;
  for (const auto& p : mesh.nodes) {
    const double x = Dot(p, camera.right), y = Dot(p, camera.up);
    if (first || x < minX) minX = x;
    if (first || x > maxX) maxX = x;
    if (first || y < minY) minY = y;
    if (first || y > maxY) maxY = y;
    first = false;
  }
  const double margin = 20.0, top = 90.0;  // the title and the legend above the mesh
  const double scale = std::min((view.width - 2 * margin) / std::max(maxX - minX, 1e-12),
                                (view.height - margin - top) / std::max(maxY - minY, 1e-12));
  const double offsetX = (view.width - scale * (maxX - minX)) / 2.0;
  const double offsetY = top + (view.height - top - margin - scale * (maxY - minY)) / 2.0;

  std::ostringstream svg;
  svg << std::fixed << std::setprecision(2);
  svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << view.width << "\" height=\"" << view.height
      << "\" viewBox=\"0 0 " << view.width << " " << view.height << "\">\n";
  svg << "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
  if (!view.title.empty())
    svg << "<text x=\"" << margin << "\" y=\"26\" font-family=\"sans-serif\" font-size=\"18\">"
        << Escaped(view.title) << "</text>\n";
  svg << "<g stroke=\"#303030\" stroke-width=\"0.3\" stroke-linejoin=\"round\">\n";
  for (const Face& f : faces) {
    // Faces square to the light are brightest, faces turned from it darkest
    // but never black, so that the shape reads without any edge.
    const double light = 0.3 + 0.8 * std::max(0.0, f.lit);
    svg << "<polygon fill=\"" << Shaded(KindColour(f.kind), light) << "\" points=\"";
    for (size_t i = 0; i < f.nodes.size(); ++i) {
      const Vec& p = mesh.nodes[static_cast<size_t>(f.nodes[i])];
      svg << (i ? " " : "") << offsetX + scale * (Dot(p, camera.right) - minX) << ","
          << offsetY + scale * (maxY - Dot(p, camera.up));
    }
    svg << "\"/>\n";
  }
  svg << "</g>\n";

  // Legend, top right: the kinds present in the mesh.
  const ElementKind kinds[4] = {ElementKind::Hexa, ElementKind::Prism, ElementKind::Pyramid, ElementKind::Tetra};
  double y = 24;
  for (ElementKind kind : kinds) {
    if (mesh.CountOf(kind) == 0) continue;
    svg << "<rect x=\"" << view.width - 130 << "\" y=\"" << y - 11 << "\" width=\"12\" height=\"12\" fill=\""
        << Shaded(KindColour(kind), 1.0) << "\"/><text x=\"" << view.width - 112 << "\" y=\"" << y
        << "\" font-family=\"sans-serif\" font-size=\"12\">" << ElementKindName(kind) << " " << mesh.CountOf(kind)
        << "</text>\n";
    y += 16;
  }
  svg << "</svg>\n";
  return svg.str();
}

}  // namespace vela::picture
