// Which elements the overlap and crossing tests must take, when the builder
// of the mesh tells where each element came from.
//
// A layered sweep is a straight run of layers, each node above its twin in
// the layer below. Two of its elements overlap, or two of its wall faces
// cross, only where a layer folds back over the one below, and a fold turns
// the corners along it inside out: the element checks count that as a fault
// whatever the overlap test says. So pairs within one sweep are left out.
// Between a sweep and anything else, an overlap puts a point in both, so an
// element of the sweep whose box meets no other region's box has nothing to
// find, and nothing finds it. A long runner between two junctions keeps only
// its elements next to its ends.

#include "quality_detail.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <string>

namespace vela::quality::detail {

namespace {

struct Box {
  Vec lo{std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(),
         std::numeric_limits<double>::infinity()};
  Vec hi{-std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
         -std::numeric_limits<double>::infinity()};

  void Take(const Vec& p) {
    for (size_t a = 0; a < 3; ++a) {
      lo[a] = std::min(lo[a], p[a]);
      hi[a] = std::max(hi[a], p[a]);
    }
  }
  void Take(const Box& b) {
    Take(b.lo);
    Take(b.hi);
  }
  bool Empty() const { return !(lo[0] <= hi[0]); }
  // Closed boxes: a shared face is a meeting, as a shared node may be all
  // that two overlapping elements have in common with a box.
  bool Meets(const Box& b) const {
    for (size_t a = 0; a < 3; ++a)
      if (b.hi[a] < lo[a] || hi[a] < b.lo[a]) return false;
    return true;
  }
};

// The box of an element's finite corners; the element checks name the rest.
Box BoxOf(const MemoryMesh& mesh, const MeshElement& e) {
  Box box;
  for (int c = 0; c < e.CornerCount(); ++c) {
    const Vec& p = mesh.nodes[static_cast<size_t>(e.nodes[static_cast<size_t>(c)])];
    if (IsFinite(p)) box.Take(p);
  }
  return box;
}

// For each region, the other regions whose boxes meet its own: the boxes
// sorted by their low x, each pair met once as the sweep along x passes it.
std::vector<std::vector<int>> MeetingRegions(const std::vector<Box>& boxes) {
  std::vector<int> order;
  for (size_t r = 0; r < boxes.size(); ++r)
    if (!boxes[r].Empty()) order.push_back(static_cast<int>(r));
  std::sort(order.begin(), order.end(), [&](int a, int b) {
    return boxes[static_cast<size_t>(a)].lo[0] < boxes[static_cast<size_t>(b)].lo[0];
  });
  std::vector<std::vector<int>> meeting(boxes.size());
  for (size_t i = 0; i < order.size(); ++i) {
    const Box& a = boxes[static_cast<size_t>(order[i])];
    for (size_t j = i + 1; j < order.size(); ++j) {
      const Box& b = boxes[static_cast<size_t>(order[j])];
      if (b.lo[0] > a.hi[0]) break;
      if (!a.Meets(b)) continue;
      meeting[static_cast<size_t>(order[i])].push_back(order[j]);
      meeting[static_cast<size_t>(order[j])].push_back(order[i]);
    }
  }
  return meeting;
}

}  // namespace

void CheckRegions(const MemoryMesh& mesh, const Regions& regions) {
  if (regions.ofElement.size() != mesh.elements.size())
    throw std::invalid_argument("quality: the regions name " + std::to_string(regions.ofElement.size()) +
                                " elements, the mesh has " + std::to_string(mesh.elements.size()));
  for (const int r : regions.ofElement)
    if (r < 0 || static_cast<size_t>(r) >= regions.layered.size())
      throw std::invalid_argument("quality: an element's region " + std::to_string(r) + " is not one of the " +
                                  std::to_string(regions.layered.size()) + " regions");
}

Focus FocusOf(const MemoryMesh& mesh, const Regions& regions, int threads) {
  const size_t count = mesh.elements.size();
  const size_t regionCount = regions.layered.size();
  Focus focus;
  focus.sweep.resize(count);
  for (size_t i = 0; i < count; ++i) {
    const int r = regions.ofElement[i];
    focus.sweep[i] = regions.layered[static_cast<size_t>(r)] ? r : -1;
  }
  // The region boxes, each thread gathering its own share of the elements.
  std::vector<Box> elementBoxes(count);
  std::vector<std::vector<Box>> byWorker(static_cast<size_t>(ThreadCount(threads)));
  ForRanges(threads, count, [&](size_t begin, size_t end, int worker) {
    std::vector<Box>& mine = byWorker[static_cast<size_t>(worker)];
    if (mine.empty()) mine.resize(regionCount);
    for (size_t i = begin; i < end; ++i) {
      elementBoxes[i] = BoxOf(mesh, mesh.elements[i]);
      if (!elementBoxes[i].Empty()) mine[static_cast<size_t>(regions.ofElement[i])].Take(elementBoxes[i]);
    }
  });
  std::vector<Box> regionBoxes(regionCount);
  for (const std::vector<Box>& mine : byWorker)
    for (size_t r = 0; r < mine.size(); ++r)
      if (!mine[r].Empty()) regionBoxes[r].Take(mine[r]);
  const std::vector<std::vector<int>> meeting = MeetingRegions(regionBoxes);

  focus.needed.assign(count, 1);
  ForRanges(threads, count, [&](size_t begin, size_t end, int) {
    for (size_t i = begin; i < end; ++i) {
      if (focus.sweep[i] < 0 || elementBoxes[i].Empty()) continue;
      const std::vector<int>& others = meeting[static_cast<size_t>(regions.ofElement[i])];
      focus.needed[i] = std::any_of(others.begin(), others.end(), [&](int r) {
        return elementBoxes[i].Meets(regionBoxes[static_cast<size_t>(r)]);
      });
    }
  });
  return focus;
}

}  // namespace vela::quality::detail
