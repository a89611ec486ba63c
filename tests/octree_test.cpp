#include "octree/octree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <thread>
#include <vector>

namespace {

using Rows = std::vector<std::array<double, 3>>;  // row 0 unused

const double (*Ptr(const Rows& rows))[3] { return reinterpret_cast<const double(*)[3]>(rows.data()); }

int Find(CVelaOctree& tree, const Rows& rows, const std::array<double, 3>& p, double tol) {
  return tree.FindPointInBox(p[0] + tol, p[0] - tol, p[1] + tol, p[1] - tol, p[2] + tol, p[2] - tol, Ptr(rows));
}

// The first inserted point in the box, by brute force; the tree agrees
// whenever at most one point lies in the box.
int BruteForce(const Rows& rows, int inserted, const std::array<double, 3>& p, double tol) {
  for (int i = 1; i <= inserted; ++i) {
    const std::array<double, 3>& r = rows[static_cast<size_t>(i)];
    if (std::fabs(r[0] - p[0]) <= tol && std::fabs(r[1] - p[1]) <= tol && std::fabs(r[2] - p[2]) <= tol) return i;
  }
  return 0;
}

}  // namespace

TEST(Octree, EmptyTreeFindsNothingAndNinthPointSplitsTheRoot) {
  Rows rows = {{0, 0, 0}};
  for (int i = 0; i < 8; ++i) rows.push_back({double(i % 2), double((i / 2) % 2), double(i / 4)});
  rows.push_back({0.25, 0.25, 0.25});
  CVelaOctree tree;
  tree.InitOctree(9, Ptr(rows));
  EXPECT_EQ(Find(tree, rows, {0, 0, 0}, 10.0), 0);
  for (int i = 1; i <= 8; ++i) tree.InsertPoint(i, Ptr(rows));
  EXPECT_EQ(tree.CellCount(), 1);
  tree.InsertPoint(9, Ptr(rows));
  EXPECT_EQ(tree.CellCount(), 9);
  for (int i = 1; i <= 9; ++i) EXPECT_EQ(Find(tree, rows, rows[static_cast<size_t>(i)], 1e-9), i);
  // A box over the whole cube touches every child: breadth-first, octant 1
  // (holding points 1 and 9) is searched first and its earliest point wins.
  EXPECT_EQ(Find(tree, rows, {0.5, 0.5, 0.5}, 0.5), 1);
  // The root centre itself lies in octant 8, with the cube's high corner.
  EXPECT_EQ(Find(tree, rows, {0.75, 0.75, 0.75}, 0.25), 8);
}

TEST(Octree, ClosedBoxPerAxis) {
  const Rows rows = {{0, 0, 0}, {0, 0, 0}, {1.0, 0.0, 0.0}};  // row 2 sizes the root only
  CVelaOctree tree;
  tree.InitOctree(2, Ptr(rows));
  tree.InsertPoint(1, Ptr(rows));
  EXPECT_EQ(Find(tree, rows, {0.25, 0.25, 0.25}, 0.25), 1);  // exactly tol on every axis
  EXPECT_EQ(Find(tree, rows, {0.25 + 1e-12, 0.0, 0.0}, 0.25), 0);
}

TEST(Octree, AgreesWithBruteForceAndGrowsPastItsFirstTables) {
  std::mt19937 rng(42);
  std::uniform_real_distribution<double> coord(-1.0, 1.0);
  const int n = 30000;
  Rows rows(1);
  for (int i = 0; i < n; ++i) {
    // Every tenth point on a grid plane, where ties with cell centres happen.
    const double z = i % 10 == 0 ? 0.0 : coord(rng);
    rows.push_back({coord(rng), coord(rng), z});
  }
  CVelaOctree tree;
  tree.InitOctree(n, Ptr(rows));
  const double tol = 1e-4;
  int inserted = 0, disagreements = 0;
  for (int i = 1; i <= n; ++i) {
    const std::array<double, 3> p = rows[static_cast<size_t>(i)];
    const int found = Find(tree, rows, p, tol);
    disagreements += (found == 0) != (BruteForce(rows, inserted, p, tol) == 0) ? 1 : 0;
    if (found == 0) {
      rows[static_cast<size_t>(++inserted)] = p;  // compacted in place, as the merge does
      tree.InsertPoint(inserted, Ptr(rows));
    }
  }
  EXPECT_EQ(disagreements, 0);
  EXPECT_GT(tree.CellCount(), 1);
  // 30000 well-spread points need more than 20000 cells only with 8 per leaf
  // at the finest level; force growth with a dense cluster as well.
  Rows dense(1);
  for (int i = 0; i < 40000; ++i) dense.push_back({i * 1e-6, (i % 7) * 1e-6, (i % 13) * 1e-6});
  CVelaOctree big;
  big.InitOctree(40000, Ptr(dense));
  for (int i = 1; i <= 40000; ++i) big.InsertPoint(i, Ptr(dense));
  EXPECT_GT(big.CellCapacity(), 20000);
  for (int i = 1; i <= 40000; i += 997) EXPECT_EQ(Find(big, dense, dense[static_cast<size_t>(i)], 0.0), i);
}

TEST(Octree, NineOrMoreIdenticalPointsStayFindableWithoutEndlessSplitting) {
  Rows rows(1);
  for (int i = 0; i < 12; ++i) rows.push_back({1.0, 2.0, 3.0});
  rows.push_back({5.0, 2.0, 3.0});
  CVelaOctree tree;
  tree.InitOctree(13, Ptr(rows));
  for (int i = 1; i <= 13; ++i) tree.InsertPoint(i, Ptr(rows));
  EXPECT_LE(tree.CellCount(), 1 + 8 * CVelaOctree::kMaxDepth);
  EXPECT_EQ(Find(tree, rows, {1.0, 2.0, 3.0}, 0.0), 1);
  EXPECT_EQ(Find(tree, rows, {5.0, 2.0, 3.0}, 0.0), 13);
  // Points past a full leaf at the depth limit are still found.
  Rows only(1);
  for (int i = 0; i < 20; ++i) only.push_back({0.0, 0.0, 0.0});
  CVelaOctree single;
  single.InitOctree(1, Ptr(only));  // a root of half edge 0
  for (int i = 1; i <= 20; ++i) single.InsertPoint(i, Ptr(only));
  // Move the earlier ones away: the last copy remains.
  std::fill(only.begin() + 1, only.begin() + 20, std::array<double, 3>{9.0, 9.0, 9.0});
  EXPECT_EQ(Find(single, only, {0.0, 0.0, 0.0}, 0.0), 20);
}

TEST(Octree, ASecondTreeOnAThreadTakesOverTheFirstOnesTables) {
  // A tree leaves its cell tables to the thread's next tree: the merge of
  // every junction then finds them allocated and touched already. What the
  // tables held before must not show through: the tree answers as one on
  // tables of its own does.
  Rows dense(1);
  for (int i = 0; i < 40000; ++i) dense.push_back({i * 1e-6, (i % 7) * 1e-6, (i % 13) * 1e-6});
  int grown = 0;
  {
    CVelaOctree big;
    big.InitOctree(40000, Ptr(dense));
    for (int i = 1; i <= 40000; ++i) big.InsertPoint(i, Ptr(dense));
    grown = big.CellCapacity();
  }
  Rows rows(1);
  std::mt19937 random(7);
  std::uniform_real_distribution<double> coordinate(-5.0, 5.0);
  for (int i = 0; i < 3000; ++i) rows.push_back({coordinate(random), coordinate(random), coordinate(random)});
  auto answers = [&rows](CVelaOctree& tree) {
    tree.InitOctree(3000, Ptr(rows));
    for (int i = 1; i <= 1500; ++i) tree.InsertPoint(i, Ptr(rows));
    std::vector<int> found;
    for (int i = 1; i <= 3000; ++i) found.push_back(Find(tree, rows, rows[static_cast<size_t>(i)], 0.4));
    return found;
  };
  CVelaOctree next;
  const std::vector<int> onTakenTables = answers(next);
  EXPECT_EQ(next.CellCapacity(), grown);
  // A thread of its own starts with tables of its own.
  std::vector<int> onOwnTables;
  int own = 0;
  std::thread([&] {
    CVelaOctree tree;
    onOwnTables = answers(tree);
    own = tree.CellCapacity();
  }).join();
  EXPECT_LT(own, grown);
  EXPECT_EQ(onTakenTables, onOwnTables);
  EXPECT_GT(std::count(onTakenTables.begin(), onTakenTables.end(), 0), 0);
  EXPECT_GT(std::count_if(onTakenTables.begin(), onTakenTables.end(), [](int n) { return n > 0; }), 1500);
}
