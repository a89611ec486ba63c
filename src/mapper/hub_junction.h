#pragma once

// The hub junction: runners meeting from any directions in space, not just
// around one plane (a sprue standing on a star of runners, a runner dropping
// to a lower level).
//
// Each runner owns the cone of directions closer to it than to any other
// runner. Two runners' cones meet on the plane that bisects them, three or
// more on a ray, and every ray and face of a cone runs through the centre.
// A runner's branch is swept from its far-end section, the usual circular
// section at the far point, to a junction section folded onto the faces of
// its cone: each face takes a whole number of the first ring's sectors, so
// that the two runners on a face place the same nodes on it and the merge
// joins them node for node. Where the runners share a plane, every cone has
// two faces, half a section each, as in the planar junction.
//
// The wall of the junction section follows the channel: on a face it lies on
// the wider of the two runners' cylinders, or on the ball of the widest
// runner at the centre where that reaches further.

#include "mapper/junction_plan.h"

namespace vela {

// The hub junction's driver: plan, sweep, merge, check. Refuses with the
// usual reasons, and with these of its own:
//   NeighboursTooClose  two runners closer in angle than the hub allows
//                       (degrees), or a far point inside the stretch where
//                       its neighbours' cones still cut into its branch
//                       (lengths);
//   FirstRingTooSmall   a runner meets more neighbours than its first ring
//                       has sectors to share among them;
//   UnsoundResult       the cones meet in a way the sectors cannot follow,
//                       or the merged mesh fails the check.
// Once the runners pass the guards, a try that is refused is made again with
// the cones' corners snapped together from further apart; the reason given
// is the first try's.
//
// With `gatherFolds`, a long branch undoes its junction section's fold near
// the junction; without, or where no snap meshes soundly so, every branch
// spreads it over its whole length.
JunctionOutcome MeshHub(const JunctionSettings& settings, const JunctionCall& call, bool gatherFolds = true);

}  // namespace vela
