#include "msh_model.h"

#include "binary_data.h"
#include "file_text.h"

#include <algorithm>
#include <cstdint>

namespace vela::io::detail {

namespace {

// Writes MSH numbers as text (separated by spaces, a line ending when asked)
// or as Gmsh's binary: size_t for counts and tags, int for entity fields.
class MshWriter {
public:
  MshWriter(std::string& out, bool binary) : m_out(out), m_binary(binary) {}

  void Size(unsigned long long value) {
    if (m_binary) return AppendLittleEndian(m_out, static_cast<std::uint64_t>(value));
    Separate();
    m_out += std::to_string(value);
  }
  void Int(int value) {
    if (m_binary) return AppendLittleEndian(m_out, static_cast<std::int32_t>(value));
    Separate();
    m_out += std::to_string(value);
  }
  void Real(double value) {
    if (m_binary) return AppendLittleEndian(m_out, value);
    Separate();
    AppendDouble(m_out, value);
  }
  // The end of a line in text; nothing in binary.
  void EndLine() {
    if (!m_binary) m_out += '\n';
    m_lineStart = true;
  }
  // Opens a section whose data follows on the next line in both encodings.
  void Open(const char* section) {
    m_out += std::string("$") + section + "\n";
    m_lineStart = true;
  }
  // Binary data ends with a line break before the closing tag, as Gmsh writes it.
  void Close(const char* section) {
    if (m_binary) m_out += '\n';
    m_out += std::string("$End") + section + "\n";
  }

private:
  void Separate() {
    if (!m_lineStart) m_out += ' ';
    m_lineStart = false;
  }

  std::string& m_out;
  bool m_binary;
  bool m_lineStart = true;
};

void AppendPhysicalNames(std::string& out, const std::vector<MshPhysical>& physicals) {
  if (physicals.empty()) return;
  out += "$PhysicalNames\n" + std::to_string(physicals.size()) + "\n";
  for (const MshPhysical& p : physicals)
    out += std::to_string(p.dim) + ' ' + std::to_string(p.tag) + " \"" + p.name + "\"\n";
  out += "$EndPhysicalNames\n";
}

void AppendEntities(MshWriter& w, const std::vector<MshEntity>& entities) {
  w.Open("Entities");
  const auto count = [&entities](int dim) {
    return static_cast<unsigned long long>(
        std::count_if(entities.begin(), entities.end(), [dim](const MshEntity& e) { return e.dim == dim; }));
  };
  for (int dim = 0; dim <= 3; ++dim) w.Size(count(dim));
  w.EndLine();
  for (const MshEntity& entity : entities) {
    w.Int(entity.tag);
    for (const double v : entity.box) w.Real(v);
    w.Size(entity.physicals.size());
    for (const int tag : entity.physicals) w.Int(tag);
    w.Size(entity.bounding.size());
    for (const int tag : entity.bounding) w.Int(tag);
    w.EndLine();
  }
  w.Close("Entities");
}

void AppendNodes(MshWriter& w, const MshModel& model) {
  const std::vector<std::array<double, 3>>& nodes = *model.nodes;
  w.Open("Nodes");
  const bool any = !nodes.empty();
  const size_t first = any ? 1 : 0;
  for (const size_t v : {first, nodes.size(), first, nodes.size()}) w.Size(v);
  w.EndLine();
  if (any) {
    w.Int(3);
    w.Int(model.nodeEntity);
    w.Int(0);
    w.Size(nodes.size());
    w.EndLine();
    for (size_t i = 0; i < nodes.size(); ++i) {
      w.Size(i + 1);
      w.EndLine();
    }
    for (const auto& p : nodes) {
      for (const double x : p) w.Real(x);
      w.EndLine();
    }
  }
  w.Close("Nodes");
}

void AppendElements(MshWriter& w, const std::vector<MshBlock>& blocks) {
  size_t total = 0;
  long long low = 0, high = 0;
  for (const MshBlock& block : blocks) {
    total += block.tags.size();
    for (const long long tag : block.tags) {
      low = low == 0 ? tag : std::min(low, tag);
      high = std::max(high, tag);
    }
  }
  w.Open("Elements");
  for (const unsigned long long v : {static_cast<unsigned long long>(blocks.size()),
                                     static_cast<unsigned long long>(total),
                                     static_cast<unsigned long long>(low),
                                     static_cast<unsigned long long>(high)})
    w.Size(v);
  w.EndLine();
  for (const MshBlock& block : blocks) {
    w.Int(block.dim);
    w.Int(block.entity);
    w.Int(block.type);
    w.Size(block.tags.size());
    w.EndLine();
    for (size_t i = 0; i < block.tags.size(); ++i) {
      w.Size(static_cast<unsigned long long>(block.tags[i]));
      for (size_t c = 0; c < static_cast<size_t>(block.corners); ++c)
        w.Size(static_cast<unsigned long long>(block.nodes[i * static_cast<size_t>(block.corners) + c]));
      w.EndLine();
    }
  }
  w.Close("Elements");
}

// One string tag (the view name), one real tag (time), three integer tags
// (time step, components, entity count); then per element its tag (an int
// in binary, as Gmsh writes views) and value.
void AppendElementData(std::string& out, MshWriter& w, const MshModel& model) {
  out += "$ElementData\n1\n\"" + model.dataName + "\"\n1\n0\n3\n0\n1\n" +
         std::to_string(model.dataValues.size()) + "\n";
  for (size_t e = 0; e < model.dataValues.size(); ++e) {
    w.Int(static_cast<int>(e + 1));
    w.Real(model.dataValues[e]);
    w.EndLine();
  }
  w.Close("ElementData");
}

}  // namespace

void AddMshPatches(MshModel& model, const std::vector<std::string>& names, const std::vector<PatchFace>& faces,
                   long long firstTag) {
  constexpr int kTriangle = 2, kQuad = 3;
  std::vector<std::vector<std::array<double, 3>>> corners(names.size());
  for (const PatchFace& face : faces)
    for (int c = 0; c < face.corners; ++c)
      corners[static_cast<size_t>(face.patch)].push_back(
          (*model.nodes)[static_cast<size_t>(face.nodes[static_cast<size_t>(c)])]);
  MshEntity volume = model.entities.back();
  model.entities.pop_back();
  for (size_t p = 0; p < names.size(); ++p) {
    const int entity = static_cast<int>(p) + 1, group = kMshFirstPatchGroup + static_cast<int>(p);
    model.physicals.push_back({2, group, names[p]});
    model.entities.push_back({2, entity, BoxOf(corners[p]), {group}, {}});
    volume.bounding.push_back(entity);
    for (const int count : {3, 4}) {
      MshBlock block{2, entity, count == 3 ? kTriangle : kQuad, count, {}, {}};
      for (size_t f = 0; f < faces.size(); ++f) {
        if (static_cast<size_t>(faces[f].patch) != p || faces[f].corners != count) continue;
        block.tags.push_back(firstTag + static_cast<long long>(f));
        for (int c = 0; c < count; ++c) block.nodes.push_back(faces[f].nodes[static_cast<size_t>(c)] + 1);
      }
      if (!block.tags.empty()) model.blocks.push_back(std::move(block));
    }
  }
  model.entities.push_back(std::move(volume));
}

MshBox BoxOf(const std::vector<std::array<double, 3>>& points) {
  MshBox box{};
  for (size_t i = 0; i < points.size(); ++i) {
    for (size_t k = 0; k < 3; ++k) {
      box[k] = i == 0 ? points[i][k] : std::min(box[k], points[i][k]);
      box[k + 3] = i == 0 ? points[i][k] : std::max(box[k + 3], points[i][k]);
    }
  }
  return box;
}

std::string FormatMshModel(const MshModel& model, bool binary) {
  std::string out = "$MeshFormat\n4.1 ";
  out += binary ? "1 8\n" : "0 8\n";
  MshWriter w(out, binary);
  if (binary) w.Int(1);  // the reader learns the byte order from this 1
  w.Close("MeshFormat");
  if (!model.units.empty()) out += "$Comments\nunits " + model.units + "\n$EndComments\n";
  AppendPhysicalNames(out, model.physicals);
  AppendEntities(w, model.entities);
  AppendNodes(w, model);
  AppendElements(w, model.blocks);
  if (!model.dataValues.empty()) AppendElementData(out, w, model);
  return out;
}

}  // namespace vela::io::detail
