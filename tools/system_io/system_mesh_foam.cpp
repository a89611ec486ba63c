// The OpenFOAM case of a meshed system: the polyMesh of its elements, with
// the patches as boundary and the regions as cell zones.

#include "binary_data.h"
#include "file_text.h"
#include "system_detail.h"
#include "system_mesh_formats.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <map>
#include <stdexcept>

namespace vela::io::detail {

namespace {

using vela::system::SystemMesh;
using Label = std::int32_t;  // OpenFOAM's label as Debian and most builds have it
using FaceKey = std::array<int, 4>;

// A face of an element: its corners sorted (the key; a triangle's fourth is
// INT_MAX) and its corners wound out of the element.
struct ElementFace {
  FaceKey key;
  Label element;
  std::vector<int> corners;
};

FaceKey KeyOf(const std::vector<int>& corners) {
  FaceKey key{0, 0, 0, INT_MAX};
  std::copy(corners.begin(), corners.end(), key.begin());
  std::sort(key.begin(), key.end());
  return key;
}

std::string Corners(const std::vector<int>& corners) {
  std::string text;
  for (const int node : corners) text += (text.empty() ? "" : " ") + std::to_string(node);
  return text;
}

// OpenFOAM reads a name as a word: no white space, quotes, slashes,
// semicolons or braces, and a first character that cannot start a number.
// Letters, digits and "_-." are kept, anything else becomes '_'.
std::string FoamWord(const std::string& name) {
  std::string word;
  for (const char c : name) {
    const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '_' || c == '-' || c == '.';
    word += keep ? c : '_';
  }
  if (word.empty() || !((word[0] >= 'a' && word[0] <= 'z') || (word[0] >= 'A' && word[0] <= 'Z') || word[0] == '_'))
    word.insert(word.begin(), '_');
  return word;
}

// The OpenFOAM words of names; two names that would become one word are refused.
std::vector<std::string> FoamWords(const std::vector<std::string>& names, const char* what) {
  std::vector<std::string> words;
  std::map<std::string, size_t> seen;
  for (size_t i = 0; i < names.size(); ++i) {
    words.push_back(FoamWord(names[i]));
    const auto [it, fresh] = seen.emplace(words.back(), i);
    if (!fresh)
      throw std::invalid_argument(std::string(what) + "s \"" + Printable(names[it->second]) + "\" and \"" +
                                  Printable(names[i]) + "\" would both be named " + words.back() +
                                  " in OpenFOAM, which takes letters, digits and _-. alone");
  }
  return words;
}

// The polyMesh: points, faces as a compact list (offsets into the corner
// labels), owner and neighbour per face, the patches as runs of the faces
// after the internal ones, and the cells of each zone.
struct PolyMesh {
  std::vector<std::array<double, 3>> points;
  std::vector<Label> offsets;
  std::vector<Label> labels;
  std::vector<Label> owner;
  std::vector<Label> neighbour;
  std::vector<Label> patchStart;
  std::vector<Label> patchSize;
  std::vector<std::vector<Label>> zones;
  size_t cells = 0;
};

// The elements' faces paired up: internal faces in upper-triangular order,
// then the boundary faces patch by patch in the mesh's face order, every one
// wound out of its owner; the points the elements use, renumbered in order.
PolyMesh Build(const SystemMesh& mesh) {
  if (mesh.elements.size() > static_cast<size_t>(INT32_MAX / 6))
    throw std::invalid_argument("too many elements for OpenFOAM's 32-bit labels");
  std::vector<ElementFace> all;
  all.reserve(mesh.elements.size() * 6);
  for (size_t e = 0; e < mesh.elements.size(); ++e)
    for (std::vector<int>& corners : vela::system::detail::OutwardFaces(mesh.elements[e]))
      all.push_back({KeyOf(corners), static_cast<Label>(e), std::move(corners)});
  std::stable_sort(all.begin(), all.end(), [](const ElementFace& a, const ElementFace& b) { return a.key < b.key; });

  PolyMesh poly;
  struct Internal {
    Label owner, neighbour;
    size_t face;  // into all
  };
  std::vector<Internal> internal;
  std::map<FaceKey, size_t> boundary;  // key -> index into all
  for (size_t i = 0; i < all.size();) {
    size_t j = i + 1;
    while (j < all.size() && all[j].key == all[i].key) ++j;
    if (j - i > 2)
      throw std::invalid_argument("the face " + Corners(all[i].corners) + " is shared by " + std::to_string(j - i) +
                                  " elements; OpenFOAM takes a face of one or two");
    if (j - i == 2) internal.push_back({all[i].element, all[i + 1].element, i});  // sorted by element: owner first
    else boundary.emplace(all[i].key, i);
    i = j;
  }
  std::sort(internal.begin(), internal.end(), [&all](const Internal& a, const Internal& b) {
    if (a.owner != b.owner) return a.owner < b.owner;
    if (a.neighbour != b.neighbour) return a.neighbour < b.neighbour;
    return all[a.face].key < all[b.face].key;
  });

  std::vector<Label> place(mesh.nodes.size(), -1);
  for (const vela::system::SystemElement& element : mesh.elements)
    for (int c = 0; c < element.corners; ++c) place[static_cast<size_t>(element.nodes[static_cast<size_t>(c)])] = 0;
  for (size_t n = 0; n < mesh.nodes.size(); ++n) {
    if (place[n] < 0) continue;
    place[n] = static_cast<Label>(poly.points.size());
    poly.points.push_back(mesh.nodes[n]);
  }
  const auto addFace = [&](const ElementFace& face) {
    for (const int node : face.corners) poly.labels.push_back(place[static_cast<size_t>(node)]);
    poly.offsets.push_back(static_cast<Label>(poly.labels.size()));
    poly.owner.push_back(face.element);
  };
  poly.offsets.push_back(0);
  for (const Internal& face : internal) {
    addFace(all[face.face]);
    poly.neighbour.push_back(face.neighbour);
  }

  std::vector<std::vector<size_t>> byPatch(mesh.patches.size());
  for (size_t f = 0; f < mesh.faces.size(); ++f) byPatch[static_cast<size_t>(mesh.faces[f].patch)].push_back(f);
  for (size_t p = 0; p < mesh.patches.size(); ++p) {
    poly.patchStart.push_back(static_cast<Label>(poly.owner.size()));
    for (const size_t f : byPatch[p]) {
      const vela::system::BoundaryFace& face = mesh.faces[f];
      const std::vector<int> corners(face.nodes.begin(), face.nodes.begin() + face.corners);
      const auto found = boundary.find(KeyOf(corners));
      if (found == boundary.end() || found->second == SIZE_MAX)
        throw std::invalid_argument("face " + std::to_string(f) + " (" + Corners(corners) + ") of patch \"" +
                                    Printable(mesh.patches[p]) + "\" is " +
                                    (found == boundary.end() ? "no face of one element alone" : "in a patch twice"));
      addFace(all[found->second]);
      found->second = SIZE_MAX;  // taken
    }
    poly.patchSize.push_back(static_cast<Label>(poly.owner.size()) - poly.patchStart.back());
  }
  for (const auto& [key, face] : boundary)
    if (face != SIZE_MAX)
      throw std::invalid_argument("the face " + Corners(all[face].corners) + " of element " +
                                  std::to_string(all[face].element) + " is on the boundary but in no patch");
  if (poly.labels.size() > static_cast<size_t>(INT32_MAX))
    throw std::invalid_argument("too many face corners for OpenFOAM's 32-bit labels");

  poly.cells = mesh.elements.size();
  poly.zones.resize(mesh.regions.size());
  for (size_t e = 0; e < mesh.elements.size(); ++e)
    poly.zones[static_cast<size_t>(mesh.elements[e].region)].push_back(static_cast<Label>(e));
  return poly;
}

// --- the files ---------------------------------------------------------------------------------

const char* const kRule =
    "// * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * //\n";
const char* const kEnd =
    "\n// ************************************************************************* //\n";

// A title inside a C++ comment: printable ASCII alone, and never the end of the comment.
std::string CommentText(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    out += byte >= 0x20 && byte < 0x7f ? c : '?';
    if (out.size() >= 2 && out.compare(out.size() - 2, 2, "*/") == 0) out.back() = '_';
  }
  return out;
}

// The comment and FoamFile dictionary every file opens with.
std::string Header(const FoamText& text, const char* cls, const char* location, const char* object,
                   const std::string& note = "") {
  std::string out =
      "/*--------------------------------*- C++ -*----------------------------------*\\\n"
      "  Written by vela-mesh: " + CommentText(text.title) + "\n" +
      (text.units.empty() ? "" : "  Lengths in " + text.units + ".\n") +
      "\\*---------------------------------------------------------------------------*/\n"
      "FoamFile\n{\n"
      "    version     2.0;\n"
      "    format      " + std::string(text.binary ? "binary" : "ascii") + ";\n"
      "    class       " + cls + ";\n";
  if (text.binary) out += "    arch        \"LSB;label=32;scalar=64\";\n";
  if (!note.empty()) out += "    note        \"" + note + "\";\n";
  out += std::string("    location    \"") + location + "\";\n    object      " + object + ";\n}\n" + kRule + "\n";
  return out;
}

// A list of labels as OpenFOAM writes one: its size, then the values in
// parentheses, as text one a line or as raw little-endian 32-bit integers.
void AppendLabels(std::string& out, const std::vector<Label>& labels, bool binary) {
  // An empty binary list is its size alone: OpenFOAM reads no parentheses
  // after a size of 0 in binary, and writes none.
  if (binary && labels.empty()) {
    out += "0\n";
    return;
  }
  out += std::to_string(labels.size()) + "\n(";
  if (binary) {
    for (const Label label : labels) AppendLittleEndian(out, label);
  } else {
    out += '\n';
    for (const Label label : labels) out += std::to_string(label) + '\n';
  }
  out += ")\n";
}

std::string Points(const PolyMesh& poly, const FoamText& text) {
  std::string out = Header(text, "vectorField", "constant/polyMesh", "points");
  out += std::to_string(poly.points.size()) + "\n(";
  if (text.binary) {
    for (const auto& p : poly.points)
      for (const double x : p) AppendLittleEndian(out, x);
  } else {
    out += '\n';
    for (const auto& p : poly.points) {
      out += '(';
      for (size_t k = 0; k < 3; ++k) {
        AppendDouble(out, p[k]);
        out += k < 2 ? ' ' : ')';
      }
      out += '\n';
    }
  }
  return out + ")\n" + kEnd;
}

// ASCII as a faceList ("4(a b c d)" a line), binary as the faceCompactList
// OpenFOAM itself writes: the offsets into the corner list, then the corners.
std::string Faces(const PolyMesh& poly, const FoamText& text) {
  std::string out = Header(text, text.binary ? "faceCompactList" : "faceList", "constant/polyMesh", "faces");
  if (text.binary) {
    AppendLabels(out, poly.offsets, true);
    AppendLabels(out, poly.labels, true);
    return out + kEnd;
  }
  out += std::to_string(poly.offsets.size() - 1) + "\n(\n";
  for (size_t f = 0; f + 1 < poly.offsets.size(); ++f) {
    const auto first = static_cast<size_t>(poly.offsets[f]), last = static_cast<size_t>(poly.offsets[f + 1]);
    out += std::to_string(last - first) + '(';
    for (size_t i = first; i < last; ++i) out += (i > first ? " " : "") + std::to_string(poly.labels[i]);
    out += ")\n";
  }
  return out + ")\n" + kEnd;
}

std::string CellList(const PolyMesh& poly, const FoamText& text, const char* object) {
  const std::string note = "nPoints:" + std::to_string(poly.points.size()) + "  nCells:" + std::to_string(poly.cells) +
                           "  nFaces:" + std::to_string(poly.owner.size()) +
                           "  nInternalFaces:" + std::to_string(poly.neighbour.size());
  std::string out = Header(text, "labelList", "constant/polyMesh", object, note);
  AppendLabels(out, std::string(object) == "owner" ? poly.owner : poly.neighbour, text.binary);
  return out + kEnd;
}

// Text in both encodings: the dictionaries of the patches.
std::string Boundary(const SystemMesh& mesh, const PolyMesh& poly, const FoamText& text) {
  const std::vector<std::string> words = FoamWords(mesh.patches, "patch");
  std::string out = Header(text, "polyBoundaryMesh", "constant/polyMesh", "boundary");
  out += std::to_string(words.size()) + "\n(\n";
  for (size_t p = 0; p < words.size(); ++p) {
    const bool wall = mesh.patches[p] == "wall";
    out += "    " + words[p] + "\n    {\n        type            " + (wall ? "wall" : "patch") + ";\n";
    if (wall) out += "        inGroups        List<word> 1(wall);\n";
    out += "        nFaces          " + std::to_string(poly.patchSize[p]) + ";\n        startFace       " +
           std::to_string(poly.patchStart[p]) + ";\n    }\n";
  }
  return out + ")\n" + kEnd;
}

std::string CellZones(const SystemMesh& mesh, const PolyMesh& poly, const FoamText& text) {
  std::vector<std::string> names;
  for (const vela::system::Region& region : mesh.regions) names.push_back(region.name);
  const std::vector<std::string> words = FoamWords(names, "region");
  std::string out = Header(text, "regIOobject", "constant/polyMesh", "cellZones");
  out += std::to_string(words.size()) + "\n(\n";
  for (size_t z = 0; z < words.size(); ++z) {
    out += words[z] + "\n{\n    type            cellZone;\n    cellLabels      List<label> ";
    AppendLabels(out, poly.zones[z], text.binary);
    out.back() = ';';  // the list's closing line ends the entry
    out += "\n}\n";
  }
  return out + ")\n" + kEnd;
}

// The dictionaries of system/ are text whatever the mesh is in.
FoamText AsText(FoamText text) {
  text.binary = false;
  return text;
}

// Enough for OpenFOAM to open the case: its utilities read the controlDict
// first, and checkMesh builds the finite-volume mesh, which reads fvSchemes
// and fvSolution. A solver's own settings replace these.
std::string ControlDict(const FoamText& text) {
  return Header(AsText(text), "dictionary", "system", "controlDict") +
         "application     simpleFoam;\n"
         "startFrom       startTime;\n"
         "startTime       0;\n"
         "stopAt          endTime;\n"
         "endTime         1;\n"
         "deltaT          1;\n"
         "writeControl    timeStep;\n"
         "writeInterval   1;\n"
         "writeFormat     " + std::string(text.binary ? "binary" : "ascii") + ";\n"
         "writePrecision  17;\n"
         "writeCompression off;\n"
         "timeFormat      general;\n"
         "runTimeModifiable false;\n" + kEnd;
}

std::string FvSchemes(const FoamText& text) {
  return Header(AsText(text), "dictionary", "system", "fvSchemes") +
         "ddtSchemes           { default steadyState; }\n"
         "gradSchemes          { default Gauss linear; }\n"
         "divSchemes           { default none; }\n"
         "laplacianSchemes     { default Gauss linear corrected; }\n"
         "interpolationSchemes { default linear; }\n"
         "snGradSchemes        { default corrected; }\n" + kEnd;
}

std::string FvSolution(const FoamText& text) {
  return Header(AsText(text), "dictionary", "system", "fvSolution") + "solvers {}\n" + kEnd;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> FormatFoamCase(const SystemMesh& mesh, const FoamText& text) {
  const PolyMesh poly = Build(mesh);
  return {{"constant/polyMesh/points", Points(poly, text)},
          {"constant/polyMesh/faces", Faces(poly, text)},
          {"constant/polyMesh/owner", CellList(poly, text, "owner")},
          {"constant/polyMesh/neighbour", CellList(poly, text, "neighbour")},
          {"constant/polyMesh/boundary", Boundary(mesh, poly, text)},
          {"constant/polyMesh/cellZones", CellZones(mesh, poly, text)},
          {"system/controlDict", ControlDict(text)},
          {"system/fvSchemes", FvSchemes(text)},
          {"system/fvSolution", FvSolution(text)}};
}

}  // namespace vela::io::detail
