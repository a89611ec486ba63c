#include "octree/octree.h"

#include <algorithm>

namespace {
// A junction's merge uses a few hundred cells; the tables double when full,
// so a large tree costs no more than twice what it uses.
constexpr int kInitialCells = 512;
constexpr int kBoxRow = 4;
constexpr int kItemRow = 9;
constexpr int kInternal = -1;
constexpr int kLeafSize = 8;

// The cell tables of this thread's last octree, kept for its next: a merge
// touches a few hundred of their rows, and fresh tables for every junction
// cost more in page faults than the whole search. Rows are cleared as their
// cells are created, so what a table held before does not matter.
struct SpareTables {
  std::unique_ptr<double[]> box;
  std::unique_ptr<int[]> item, depth, queue;
  int capacity = 0;
};
thread_local SpareTables t_spare;
}  // namespace

CVelaOctree::CVelaOctree()
    : m_nGrowBy(kInitialCells),
      m_dXMax(0.0), m_dXMin(0.0), m_dYMax(0.0), m_dYMin(0.0), m_dZMax(0.0), m_dZMin(0.0),
      m_nCellCapacity(kInitialCells),
      m_nCellCount(0),
      m_dRootHalf(0.0), m_dRootX(0.0), m_dRootY(0.0), m_dRootZ(0.0),
      m_nQueueCount(0) {}

CVelaOctree::~CVelaOctree() {
  if (!m_pCellBox || m_nCellCapacity < t_spare.capacity) return;
  t_spare.box = std::move(m_pCellBox);
  t_spare.item = std::move(m_pCellItem);
  t_spare.depth = std::move(m_pCellDepth);
  t_spare.queue = std::move(m_pQueue);
  t_spare.capacity = m_nCellCapacity;
}

int CVelaOctree::InitOctree(int pointCount, const double (*points)[3]) {
  // Selections in locals rather than branches on members: the coordinates
  // wander up and down along a sweep, and a branch per test would be
  // guessed wrong at every turn. A coordinate that is not a number wins no
  // test, as before.
  double xMax = points[1][0], xMin = xMax, yMax = points[1][1], yMin = yMax, zMax = points[1][2], zMin = zMax;
  for (int i = 2; i <= pointCount; ++i) {
    const double* p = points[i];
    xMax = p[0] > xMax ? p[0] : xMax;
    xMin = p[0] < xMin ? p[0] : xMin;
    yMax = p[1] > yMax ? p[1] : yMax;
    yMin = p[1] < yMin ? p[1] : yMin;
    zMax = p[2] > zMax ? p[2] : zMax;
    zMin = p[2] < zMin ? p[2] : zMin;
  }
  m_dXMax = xMax;
  m_dXMin = xMin;
  m_dYMax = yMax;
  m_dYMin = yMin;
  m_dZMax = zMax;
  m_dZMin = zMin;
  double half = m_dXMax - m_dXMin;
  if (m_dYMax - m_dYMin > half) half = m_dYMax - m_dYMin;
  if (m_dZMax - m_dZMin > half) half = m_dZMax - m_dZMin;
  half *= 0.5;
  // The cube sits on the box's lower corner, so on the shorter axes it reaches
  // beyond the box on the high side only.
  m_dRootHalf = half;
  m_dRootX = m_dXMin + half;
  m_dRootY = m_dYMin + half;
  m_dRootZ = m_dZMin + half;

  m_nCellCount = 1;
  if (!m_pCellBox && t_spare.capacity >= m_nCellCapacity) {
    m_pCellBox = std::move(t_spare.box);
    m_pCellItem = std::move(t_spare.item);
    m_pCellDepth = std::move(t_spare.depth);
    m_pQueue = std::move(t_spare.queue);
    m_nCellCapacity = t_spare.capacity;
    t_spare.capacity = 0;
  } else if (!m_pCellBox) {
    const size_t rows = static_cast<size_t>(m_nCellCapacity) + 1;
    m_pCellBox.reset(new double[rows * kBoxRow]);
    m_pCellItem.reset(new int[rows * kItemRow]);
    m_pCellDepth.reset(new int[rows]);
    m_pQueue.reset(new int[rows]);
  }
  m_pCellBox[kBoxRow + 0] = half;
  m_pCellBox[kBoxRow + 1] = m_dRootX;
  m_pCellBox[kBoxRow + 2] = m_dRootY;
  m_pCellBox[kBoxRow + 3] = m_dRootZ;
  // Content rows are cleared as their cells are created rather than all at
  // once: a merge uses a few hundred rows, and clearing the rest
  // would cost more than the whole search.
  std::fill_n(&m_pCellItem[kItemRow], kItemRow, 0);
  m_pCellDepth[1] = 0;
  m_aOverflow.clear();
  return 0;
}

int CVelaOctree::Octant(int cell, const double* p) const {
  const double* box = &m_pCellBox[static_cast<size_t>(cell) * kBoxRow];
  return 1 + (p[0] >= box[1] ? 1 : 0) + (p[1] >= box[2] ? 2 : 0) + (p[2] >= box[3] ? 4 : 0);
}

void CVelaOctree::Grow() {
  // Only the rows of cells in use hold anything worth copying.
  const size_t usedRows = static_cast<size_t>(m_nCellCount) + 1;
  m_nGrowBy = m_nCellCapacity;
  m_nCellCapacity += m_nGrowBy;
  const size_t rows = static_cast<size_t>(m_nCellCapacity) + 1;

  std::unique_ptr<double[]> box(new double[rows * kBoxRow]);
  std::copy(m_pCellBox.get(), m_pCellBox.get() + usedRows * kBoxRow, box.get());
  m_pCellBox = std::move(box);

  std::unique_ptr<int[]> item(new int[rows * kItemRow]);
  std::copy(m_pCellItem.get(), m_pCellItem.get() + usedRows * kItemRow, item.get());
  m_pCellItem = std::move(item);

  std::unique_ptr<int[]> depth(new int[rows]);
  std::copy(m_pCellDepth.get(), m_pCellDepth.get() + usedRows, depth.get());
  m_pCellDepth = std::move(depth);

  m_pQueue.reset(new int[rows]);  // scratch, refilled by every search
}

void CVelaOctree::Split(int cell, const double (*points)[3]) {
  if (m_nCellCount > m_nCellCapacity - kLeafSize) Grow();
  int* item = &m_pCellItem[static_cast<size_t>(cell) * kItemRow];
  const int first = m_nCellCount;
  // The children start as empty leaves.
  std::fill_n(&m_pCellItem[static_cast<size_t>(first + 1) * kItemRow], kLeafSize * kItemRow, 0);
  for (int slot = 1; slot <= kLeafSize; ++slot) {
    const int point = item[slot];
    int* child = &m_pCellItem[static_cast<size_t>(first + Octant(cell, points[point])) * kItemRow];
    child[++child[0]] = point;
  }
  const double* box = &m_pCellBox[static_cast<size_t>(cell) * kBoxRow];
  const double half = box[0] * 0.5;
  for (int k = 1; k <= kLeafSize; ++k) {
    const int child = ++m_nCellCount;
    item[k] = child;
    double* childBox = &m_pCellBox[static_cast<size_t>(child) * kBoxRow];
    childBox[0] = half;
    childBox[1] = k % 2 == 1 ? box[1] - half : box[1] + half;
    childBox[2] = (k == 1 || k == 2 || k == 5 || k == 6) ? box[2] - half : box[2] + half;
    childBox[3] = k <= 4 ? box[3] - half : box[3] + half;
    m_pCellDepth[static_cast<size_t>(child)] = m_pCellDepth[static_cast<size_t>(cell)] + 1;
  }
  item[0] = kInternal;
}

int CVelaOctree::InsertPoint(int pointIndex, const double (*points)[3]) {
  const double* p = points[pointIndex];
  int cell = 1;
  for (;;) {
    int* item = &m_pCellItem[static_cast<size_t>(cell) * kItemRow];
    if (item[0] == kInternal) {
      cell = item[Octant(cell, p)];
    } else if (item[0] == kLeafSize) {
      if (m_pCellDepth[static_cast<size_t>(cell)] >= kMaxDepth) {
        m_aOverflow[cell].push_back(pointIndex);
        return 0;
      }
      Split(cell, points);  // then descend into the new child on the next pass
    } else {
      item[++item[0]] = pointIndex;
      return 0;
    }
  }
}

bool CVelaOctree::InBox(const double* p, double xMax, double xMin, double yMax, double yMin,
                        double zMax, double zMin) const {
  return !(xMin > p[0] || p[0] > xMax || yMin > p[1] || p[1] > yMax || zMin > p[2] || p[2] > zMax);
}

int CVelaOctree::FindPointInBox(double xMax, double xMin, double yMax, double yMin, double zMax,
                                double zMin, const double (*points)[3]) {
  m_nQueueCount = 1;
  m_pQueue[1] = 1;
  for (int i = 1; i <= m_nQueueCount; ++i) {
    const int cell = m_pQueue[static_cast<size_t>(i)];
    const int* item = &m_pCellItem[static_cast<size_t>(cell) * kItemRow];
    if (item[0] == kInternal) {
      AddOverlappingChildren(cell, xMax, xMin, yMax, yMin, zMax, zMin);
      continue;
    }
    for (int slot = 1; slot <= item[0]; ++slot)
      if (InBox(points[item[slot]], xMax, xMin, yMax, yMin, zMax, zMin)) return item[slot];
    if (item[0] == kLeafSize && !m_aOverflow.empty()) {
      const auto extra = m_aOverflow.find(cell);
      if (extra != m_aOverflow.end())
        for (int point : extra->second)
          if (InBox(points[point], xMax, xMin, yMax, yMin, zMax, zMin)) return point;
    }
  }
  return 0;
}

void CVelaOctree::AddOverlappingChildren(int cell, double xMax, double xMin, double yMax,
                                         double yMin, double zMax, double zMin) {
  const double* box = &m_pCellBox[static_cast<size_t>(cell) * kBoxRow];
  const int* item = &m_pCellItem[static_cast<size_t>(cell) * kItemRow];
  // A box that touches a centre plane visits both halves on that axis.
  const bool lowX = !(xMin > box[1]), highX = !(box[1] > xMax);
  const bool lowY = !(yMin > box[2]), highY = !(box[2] > yMax);
  const bool lowZ = !(zMin > box[3]), highZ = !(box[3] > zMax);
  for (int k = 1; k <= kLeafSize; ++k) {
    const bool x = k % 2 == 1 ? lowX : highX;
    const bool y = (k == 1 || k == 2 || k == 5 || k == 6) ? lowY : highY;
    const bool z = k <= 4 ? lowZ : highZ;
    // An empty leaf holds nothing to find: the search would only pass it by.
    if (x && y && z && m_pCellItem[static_cast<size_t>(item[k]) * kItemRow] != 0)
      m_pQueue[static_cast<size_t>(++m_nQueueCount)] = item[k];
  }
}
