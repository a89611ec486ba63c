#pragma once

// A Gmsh MSH 4.1 file as the junction and the system .msh files write it, in
// ASCII or binary: physical names, entities with their bounding boxes, every
// node on one volume entity, element blocks, and one element data view.
// Internal to the host-side file formats.

#include "mesh_file.h"

#include <array>
#include <string>
#include <vector>

namespace vela::io::detail {

using MshBox = std::array<double, 6>;  // low x, y, z, high x, y, z

struct MshPhysical {
  int dim = 3;
  int tag = 1;
  std::string name;  // without double quotes or control characters
};

// A surface (dim 2) or volume (dim 3) entity; a volume lists the surfaces
// that bound it.
struct MshEntity {
  int dim = 3;
  int tag = 1;
  MshBox box{};
  std::vector<int> physicals;
  std::vector<int> bounding;
};

// Elements of one type on one entity: tags[i] and its corners
// nodes[i * corners .. ], 1-based node tags.
struct MshBlock {
  int dim = 3;
  int entity = 1;
  int type = 4;
  int corners = 4;
  std::vector<long long> tags;
  std::vector<long long> nodes;
};

struct MshModel {
  std::vector<MshPhysical> physicals;
  std::vector<MshEntity> entities;  // surfaces first, then volumes
  // Node i has tag i + 1 and sits on the volume entity nodeEntity.
  const std::vector<std::array<double, 3>>* nodes = nullptr;
  int nodeEntity = 1;
  std::vector<MshBlock> blocks;
  // The coordinates' unit, as a $Comments section "units NAME" after the
  // format line (Gmsh's place for text it skips); none for "".
  std::string units;
  // A scalar per element as $ElementData, values[i] for the element tagged i + 1.
  std::string dataName;
  std::vector<double> dataValues;
};

// The volume's physical group, and the first of the patches' after it:
// tags distinct across dimensions, since gmshToFoam and other readers key
// the groups by tag alone and would give a patch the volume's name.
constexpr int kMshVolumeGroup = 1;
constexpr int kMshFirstPatchGroup = 2;

// Adds the patches to a model whose last entity is its one volume: patch p
// as surface entity p + 1, bounding the volume, in physical group
// kMshFirstPatchGroup + p of dimension 2 named after it, and its faces as one
// block per face type (triangles, then quadrangles), each face tagged
// firstTag + its place in faces. model.nodes must be set: the surfaces'
// boxes are taken from them.
void AddMshPatches(MshModel& model, const std::vector<std::string>& names, const std::vector<PatchFace>& faces,
                   long long firstTag);

// The bounding box of points; all zero when there are none.
MshBox BoxOf(const std::vector<std::array<double, 3>>& points);

// The model as MSH 4.1 text: "$MeshFormat 4.1 0 8" with every number as text,
// or binary ("4.1 1 8", the endianness-marking integer 1, then Gmsh's binary
// blocks: 8-byte counts and tags, 4-byte entity fields, 8-byte reals),
// little-endian. $PhysicalNames is text in both, as Gmsh writes it.
std::string FormatMshModel(const MshModel& model, bool binary);

}  // namespace vela::io::detail
