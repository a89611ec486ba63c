#pragma once

#include <map>
#include <memory>
#include <vector>

// CVelaOctree: query unique vertices by their coordinates, up to a prescribed
// tolerance. The tree stores point numbers only; coordinates are read from a
// caller-owned, 1-based array of point triples (row 0 unused), which must be
// the same array on every call and may be compacted in place by the caller
// as long as no stored row is overwritten.
//
// Cells are rows of flat tables, numbered from 1 in creation order (cell 1 is
// the root); a leaf holds up to 8 points and splits into 8 children when a
// ninth arrives. Octants are numbered 1..8 as 1 + (x >= cx) + 2(y >= cy) +
// 4(z >= cz): a coordinate equal to the centre goes to the high half, so that
// every point has exactly one octant.
//
// A thread keeps the cell tables of its last octree for its next one, so that
// a merge per junction does not allocate and touch them afresh.

class CVelaOctree {
public:
  CVelaOctree();
  virtual ~CVelaOctree();
  CVelaOctree(const CVelaOctree&) = delete;
  CVelaOctree& operator=(const CVelaOctree&) = delete;

  // Takes the root cube from rows 1..pointCount (pointCount >= 1): its lower
  // corner at the rows' minimum and its edge the largest extent. The tree is
  // empty afterwards. Call once, before anything else. Returns 0.
  int InitOctree(int pointCount, const double (*points)[3]);

  // Files point number pointIndex (row pointIndex of points). Returns 0.
  int InsertPoint(int pointIndex, const double (*points)[3]);

  // The first stored point inside the closed box, breadth-first from the
  // root and then in insertion order within a leaf; 0 when there is none.
  // Bounds come maximum first on each axis.
  int FindPointInBox(double xMax, double xMin, double yMax, double yMin, double zMax, double zMin,
                     const double (*points)[3]);

  // Cells in use (1 is the root).
  int CellCount() const { return m_nCellCount; }
  // Rows available in the cell tables.
  int CellCapacity() const { return m_nCellCapacity; }

  // A leaf at this depth no longer splits and keeps every further point in a
  // list of its own; only points identical in all but the last bits of their
  // coordinates ever get this deep (the users never insert such points, since
  // they insert only after a search around the same coordinates failed).
  static constexpr int kMaxDepth = 48;

private:
  void AddOverlappingChildren(int cell, double xMax, double xMin, double yMax, double yMin,
                              double zMax, double zMin);
  void Grow();
  void Split(int cell, const double (*points)[3]);
  int Octant(int cell, const double* p) const;
  bool InBox(const double* p, double xMax, double xMin, double yMax, double yMin, double zMax,
             double zMin) const;

  int m_nGrowBy;
  double m_dXMax, m_dXMin, m_dYMax, m_dYMin, m_dZMax, m_dZMin;
  int m_nCellCapacity;
  int m_nCellCount;
  double m_dRootHalf, m_dRootX, m_dRootY, m_dRootZ;
  std::unique_ptr<double[]> m_pCellBox;  // rows of 4: half edge, centre x, y, z
  std::unique_ptr<int[]> m_pCellItem;    // rows of 9: point count or -1, then points or children
  std::unique_ptr<int[]> m_pCellDepth;   // depth of each cell, the root 0
  int m_nQueueCount;
  std::unique_ptr<int[]> m_pQueue;       // visit queue of the current search
  // Points past the eighth of a leaf at kMaxDepth, in insertion order.
  std::map<int, std::vector<int>> m_aOverflow;
};
