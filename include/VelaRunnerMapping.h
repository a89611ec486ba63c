#pragma once

// CVelaRunnerMapping: meshes the junction of round runners.
//
// A host that holds its runner system as centre lines with radii hands the
// mapper one junction at a time (the centre, the far point of every runner
// that meets there, the radii) and receives a conformal solid mesh of
// hexahedra, prisms, pyramids and tetrahedra in its own CVela_SolidMesh.
//
//   NConnectRunner    a junction of three or more runners
//   TwoConnectRunner  a bend of exactly two runners
//   RunnerLength      how far along each runner the junction region reaches
//
// A cross-section is a centre node, C inner rings (ring k has k*F nodes,
// F = first-ring node count) and B outer boundary layers of C*F nodes each,
// every ring starting at angle 0:
//
//            . - ring 2 (2F nodes) - .
//          .    . - ring 1 (F) - .     .
//         .    .        o        .     .      o centre node
//          .    ' - . _____ . - '     .
//            ' - . _ _ _ _ _ _ . - '
//
// Settings persist for the object's life; every junction call replaces the
// junction's inputs. Set the layer lists (SetIOBoundaryLayer) before the
// first junction call: a fresh mapper has none and refuses every junction.
//
// What a `true` means. A junction call that returns true has written a
// sound mesh: every coordinate finite; every corner of every element
// positively oriented beyond rounding; no element naming a node twice; every
// face used by at most two elements, in opposite turns; a closed boundary
// with no junction section left uncovered; no two merged nodes within the
// merge tolerance; and no overlap, which the guards on the runners' angles,
// elevations and radii rule out. The finished mesh is checked before
// anything reaches the host's container.
//
// What a `false` means. Nothing was written into the host's container or the
// far-node output, and vela::LastJunctionRefusal() (VelaRefusal.h) tells why,
// naming the runner concerned where there is one.
//
// Threads: junction calls on different threads, each with its own mapper,
// never meet: what the calls keep beyond one object (the refusal record and
// the working arrays) is kept per thread. One mapper must not be used by two
// threads at once.
//
// Memory: each thread keeps the working arrays of its largest junction so far
// (the swept and the merged nodes and elements, merge candidates, octree
// cells, the soundness check's lists), so that later junctions on it
// allocate little. They are released when the thread ends.
//
// The same construction on standard types, in doubles throughout, with the
// mesh as a value: VelaJunction.h.
//
// Exceptions: the only exception that leaves the library is CArray's
// std::invalid_argument for an index outside a list (an empty far-point
// list, for one), and std::bad_alloc.

#include "VelaArray.h"
#include "VelaExport.h"
#include "VelaGeometry.h"
#include "VelaJunction.h"
#include "VelaRefusal.h"
#include "Vela_SolidMesh.h"

namespace vela {
struct JunctionSettings;
}  // namespace vela

class VELA_API CVelaRunnerMapping {
public:
  CVelaRunnerMapping();
  virtual ~CVelaRunnerMapping();

  CVelaRunnerMapping(const CVelaRunnerMapping&) = delete;
  CVelaRunnerMapping& operator=(const CVelaRunnerMapping&) = delete;

  // Nodes on the first (innermost) ring of a cross-section; ring k carries k
  // times as many. Returns false for n < 0 and changes nothing; 0 is stored
  // (the junction calls then reject it).
  bool SetFirstCircleNodeCount(int n);

  // Share of the runner radius taken by the inner disc of a cross-section.
  // Returns false unless 0 < r <= 1. Every junction call takes the share from
  // its own two share arguments, so no call reads a value set here; the
  // setter stays for hosts written against it.
  bool SetIORadiusRatio(double r);

  // Normalised radial positions of the inner rings and of the outer boundary
  // layers, position 0 first: C = count(inner) - 1 rings and
  // B = max(count(outer) - 1, 0) layers. Returns false when either pointer is
  // null. The values are not checked; an empty inner list gives C = -1, which
  // the junction calls reject.
  bool SetIOBoundaryLayer(const CArray<double, double>* inner, const CArray<double, double>* outer);

  // Runner lengths, plain-array form: n points (row 0 the centre, rows 1..n-1
  // the far points in order around the junction), radius[i] of runner i,
  // margin a / b (integer division). out[i] receives, for runner i, the
  // distance from the centre beyond which its cylinder (sized with the largest
  // radius) no longer runs into either neighbour's, plus largest radius / (a/b).
  // Entry 0 of radius and out is not used.
  // b = 0 leaves out untouched. a/b = 0 gives infinite lengths; so does a
  // single runner (it is its own neighbour).
  void RunnerLength(int n, const double (*points)[3], const double* radius, int a, double* out,
                    int b);

  // Runner lengths on the boundary types: one radius per runner. out must
  // already hold at least count(farPoints) elements; element i receives
  // runner i's length. Throws std::invalid_argument (through CArray) when the
  // radius list or the output list is shorter than the far-point list. An empty
  // far-point list, or b = 0, leaves out untouched.
  void RunnerLength(ON_3fPoint center, const CArray<ON_3fPoint, ON_3fPoint>* farPoints,
                    const CArray<double, double>* radii, int a, CArray<double, double>* out,
                    int b);

  // Meshes a junction of N >= 3 runners into mesh. radii holds two values per
  // runner (far end, junction end); farPoints go in order around the junction;
  // innerShare + outerShare must be 1 within 0.001. farNodeOut (N points)
  // receives per runner the angle-0 node of the outermost ring of its far-end
  // cross-section.
  //
  // Returns false, with nothing written to mesh or farNodeOut and the reason
  // in vela::LastJunctionRefusal(), checked in this order:
  //   null-pointer          a list, mesh or farNodeOut is null;
  //   shares                the shares do not add up to 1 within 0.001
  //                         (nothing is stored either);
  //   too-few-runners       fewer than 3 runners (a bend has its own call);
  //   share-ratio           the ratio falls outside (0, 1], or is 1 with
  //                         outer layers (layers of no thickness);
  //   layers-not-set, non-finite, no-inner-ring, layer-order
  //                         no inner list; a position not finite; one inner
  //                         position only; positions not rising strictly
  //                         from 0 to 1 (a list of fewer than two outer
  //                         positions means no outer layers);
  //   first-ring-too-small, odd-first-ring, section-too-fine
  //                         the first ring needs an even count of at least 4:
  //                         neighbouring sections meet on their mirror line;
  //                         and fewer inner rings than twice the first ring;
  //   radius-list           fewer than 2N radii;
  //   non-finite, radius-not-positive, magnitude, far-point-degenerate
  //                         per runner: coordinates and radii finite, radii
  //                         above zero, no coordinate or radius beyond 1e15, no
  //                         radius below 1e-6 of the runner's length, far point
  //                         away from the centre;
  //   no-plane              no pair of neighbouring runners spans a plane
  //                         (all within 3 degrees of one line);
  //   far-point-degenerate  a far point on the plane normal through the centre;
  //   runner-order          the far points do not go once round the junction;
  //   elevation, radius-ratio, neighbours-too-close
  //                         runners past the bounds the construction was
  //                         validated within (CheckNWayGeometry in
  //                         src/mapper/junction_guards.h) whose merged mesh has
  //                         elements running into each other, or is unsound:
  //                         past the bounds the mesh is tested for overlap as
  //                         well, and a junction that passes is meshed;
  //   too-large             more nodes or elements than an int numbers;
  //   unsound-result        the merged mesh failed the soundness check above.
  // Where the usual merge tolerance (a quarter of the widest ring gap) joins
  // nodes of one section of a thinner runner, the junction is merged again
  // within a quarter of the finest section spacing instead; a junction that
  // merges soundly the usual way is never touched by this.
  // Throws std::invalid_argument for an empty far-point list, like the lists.
  bool NConnectRunner(ON_3fPoint center, const CArray<ON_3fPoint, ON_3fPoint>* farPoints,
                      const CArray<double, double>* radii, double innerShare, double outerShare,
                      CVela_SolidMesh* mesh, ON_3fPoint* farNodeOut);

  // The same junction without a mesh: sweeps the branches and fills farNodeOut
  // only; the unmerged branches are released before it returns. The same
  // refusals, but for those the merged mesh gives: unsound-result, and
  // elevation, radius-ratio and neighbours-too-close past their bounds. The
  // unmerged branches are neither checked nor tested for overlap.
  bool NConnectRunner(ON_3fPoint center, const CArray<ON_3fPoint, ON_3fPoint>* farPoints,
                      const CArray<double, double>* radii, double innerShare, double outerShare,
                      ON_3fPoint* farNodeOut);

  // Meshes a bend of exactly two runners into mesh: two straight legs and a
  // swept half-section filling the outer side of the bend. radii holds two
  // values per runner (far end, junction end).
  //
  // Returns false, with nothing written to mesh and the reason in
  // vela::LastJunctionRefusal(), checked in this order:
  //   null-pointer          a list or mesh is null;
  //   shares                the shares do not add up to 1 within 0.001
  //                         (nothing is stored);
  //   odd-first-ring        the first ring is odd (the corner is half a section);
  //   too-few-runners       not exactly two far points;
  //   share-ratio, layers-not-set, non-finite, no-inner-ring, layer-order,
  //   first-ring-too-small, section-too-fine
  //                         the section settings, as for NConnectRunner;
  //   radius-list           fewer than 4 radii;
  //   non-finite            an extra radius beyond the fourth is not finite
  //                         (every entry sizes the merge tolerance);
  //   non-finite, radius-not-positive, magnitude, far-point-degenerate
  //                         per runner, as for NConnectRunner;
  //   bend-opening          the opening angle between the runners lies outside
  //                         20..172 degrees: a nearly straight pass folds the
  //                         legs over the corner's few degrees of turn, and
  //                         nearly parallel runners overlap along their legs;
  //   radius-ratio          radii too different for the corner to join the legs;
  //   too-large             more nodes or elements than an int numbers;
  //   unsound-result        the merged mesh failed the soundness check.
  // The inputs are stored (as for every junction call) once every guard has
  // passed, in the bend's own plane. The mending merge of NConnectRunner
  // applies to bends too.
  bool TwoConnectRunner(ON_3fPoint center, const CArray<ON_3fPoint, ON_3fPoint>* farPoints,
                        const CArray<double, double>* radii, double innerShare, double outerShare,
                        CVela_SolidMesh* mesh);

  // Number of runners of the last junction that passed the guards (0 before
  // the first).
  int GetNPoint() const;

private:
  // Every junction call converts its arguments at this door and runs the
  // driver of its kind (src/mapper/junction_plan.h) in single precision, as
  // the points come: plan, sweep, merge and check; then it writes the result
  // into the host's container. The class holds the settings only.
  vela::JunctionSettings Settings() const;

  // --- settings, kept for the object's life ---
  int m_nLayerCount;                         // element layers along a branch
  double (*m_pfnCircularProfile)(double);    // blend shapes of the sections'
  double (*m_pfnLinearProfile)(double);      //   size across the plane
  int m_nFirstCircleNodeCount;               // F, nodes on the first ring
  CArray<double, double> m_aInnerLayer;      // ring positions, 0 first
  CArray<double, double> m_aOuterLayer;      // boundary-layer positions, 0 first

  int m_nPoint;                              // runners of the last junction meshed
};
