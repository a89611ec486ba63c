"""vela: junctions of round runners meshed into hexahedra, prisms, pyramids
and tetrahedra, for Python.

    import vela
    m = vela.mesh_junction([0, 0, 0], [[20, 0, 0], [0, 20, 0], [-20, 0, 0]], [2, 2] * 3)
    m.points, m.cells["hexa"]           # numpy arrays
    m.quality()["summary"]
    m.write("tee.vtu")                  # or m.to_meshio()

Lengths are in whatever unit the input is in, and come back in it; no
argument is an angle.

Meshes (vela.Mesh) hold:
    points        (n, 3) float64 node coordinates
    cells         dict kind -> (m, k) int32 corners, 0-based, kinds in the
                  order "tetra", "pyramid", "prism", "hexa" (those present),
                  rows in the library's element order, corners in the
                  library's order (Vela_SolidMesh.h)
    far_nodes     (N, 3): an N-way junction's far node per runner
    kind          "nway", "bend" or "system"
    nodes_before_merge, merge_tolerance     of a junction
    regions, region_names, patches, name    of a runner system
Every array is read-only: write() writes what the arrays show.

A junction the library refuses raises JunctionRefused, a runner system the
runner system layer refuses SystemRefused; both are ValueErrors (the input
cannot be meshed, as vela-mesh's exit status 2 says) and carry .reason, the
stable name of the reason. Arguments of the wrong form raise TypeError or
ValueError naming the argument.
"""

import json as _json
import math as _math
import os as _os
from collections.abc import Mapping as _Mapping

from . import _vela
from ._vela import Mesh

__all__ = ["Mesh", "Refused", "JunctionRefused", "SystemRefused", "mesh_junction", "runner_length", "mesh_system"]

_DEFAULTS = _vela.junction_defaults()


class Refused(ValueError):
    """The input is well formed but cannot be meshed. str() is one line with
    the reason and what to look at; .reason is the reason's stable name."""

    def __init__(self, message, reason):
        super().__init__(message)
        self.reason = reason


class JunctionRefused(Refused):
    """The library refused the junction. .reason is the library's name for
    the reason (vela::RefusalName, e.g. "neighbours-too-close"); .runner and
    .other_runner the runners concerned (0-based, in the order of
    far_points), or -1. Where the library measured what it refused, .value
    is the measure, .limit the bound it broke and .unit what they count:
    "degrees", "length" (the input's unit), "ratio", "count" or "bytes"; all three
    are None where it measured nothing. str() gives the measure against its
    limit, or the reason in words, and names the arguments to look at, as
    vela-mesh names the junction file's keys:

        junction: refused (shares): ...; check inner_share, outer_share
        junction: refused (elevation): runner 3 leaves the junction plane at 16.85 degrees,
            limit 10 degrees; check runner 3 (far_points[3])
    """

    def __init__(self, message, reason, runner=-1, other_runner=-1, value=None, limit=None, unit=None):
        super().__init__(message, reason)
        self.runner = runner
        self.other_runner = other_runner
        self.value = value
        self.limit = limit
        self.unit = unit


class SystemRefused(Refused):
    """The runner system layer refused the network. .reason is one of its
    reason names (runner_system.h), e.g. "runner-too-short" or "junction"
    (the library refused one of its junctions). What it is about, each None
    where it does not apply:

        .point            the point's name ("s" for a junction at s)
        .runner           the runner's name, "from-to"
        .junction_reason  the library's reason, for "junction", for the
                          section "settings" the library refused, and for a
                          junction's "too-large"
        .value, .limit    the measure and the bound it broke: an opening in
                          degrees, a runner's length against the regions at
                          its ends, the estimated bytes against memory_limit
        .unit             what they count, as for JunctionRefused
    """

    def __init__(self, message, reason, point=None, runner=None, value=None, limit=None, unit=None,
                 junction_reason=None):
        super().__init__(message, reason)
        self.point = point
        self.runner = runner
        self.value = value
        self.limit = limit
        self.unit = unit
        self.junction_reason = junction_reason


def _meshed(answer, refused):
    mesh, refusal = answer
    if refusal is not None:
        reason, *where, message = refusal
        raise refused(message, reason, *where)
    return mesh


def mesh_junction(center, far_points, radii,
                  inner_share=_DEFAULTS["inner_share"], outer_share=_DEFAULTS["outer_share"],
                  first_circle_nodes=_DEFAULTS["first_circle_nodes"],
                  inner_layers=_DEFAULTS["inner_layers"], outer_layers=_DEFAULTS["outer_layers"],
                  call="auto", single_precision=False, as_constructed=False, memory_limit=None):
    """Meshes one junction of round runners; returns a vela.Mesh.

    center        [x, y, z], where the runners' centre lines meet
    far_points    (N, 3): each runner's far end, in order around the
                  junction; N = 2 makes a bend, N >= 3 an N-way junction
    radii         2N numbers: per runner the radius at the far end, then at
                  the junction end
    inner_share, outer_share
                  shares of the radius taken by the inner disc and by the
                  boundary layers; they must add up to 1
    first_circle_nodes
                  nodes on the first ring of a cross-section (even, >= 4);
                  ring k carries k times as many
    inner_layers  radial positions of the inner rings, rising from 0 to 1
    outer_layers  radial positions of the boundary layers, from 0 to 1, or
                  empty for none
    call          "auto" (a bend for two runners), "nway" or "bend"; a call
                  that does not fit the number of runners is refused as
                  too-few-runners, as the exported class refuses it
    single_precision
                  False: every point stays a double, so a junction at
                  height 4.8 has nodes at exactly 4.8. True: the points are
                  taken as the exported C++ class takes them, narrowed to
                  float, and the mesh is that class's node for node and bit
                  for bit (as_constructed included), far_nodes as the floats
                  it hands over.
    as_constructed
                  False: a bend whose legs leave room is mitred, two legs
                  meeting in one elliptical section, prisms and hexahedra
                  with cells far better than the corner's; a sharp bend
                  whose cells miss the floor so is fanned round the crease
                  where its runners' walls cross. True: the mesh exactly as
                  the exported class constructs it.
    memory_limit  bytes the call may take; None: half the machine's memory,
                  0: no bound. A junction whose estimate passes it raises
                  JunctionRefused ("too-large", .value the estimate, .unit
                  "bytes") before anything is allocated.

    The defaults are those of a junction file. Coordinates and radii are in
    one length unit, and so is the mesh. The GIL is released while the
    library meshes.

    Raises JunctionRefused when the library refuses the junction (shares
    not adding up to 1, runners too close in angle for their radii, a
    radius not above zero, NaN or infinite input, ...: see .reason, and
    .value against .limit where the library measured it); TypeError or
    ValueError naming the argument for input of the wrong form (far_points
    not of shape (N, 3), a layer list that is not flat, single_precision
    or as_constructed not True or False, ...);
    MemoryError for a junction too large for the memory.
    """
    return _meshed(_vela.mesh_junction(center, far_points, radii, inner_share, outer_share,
                                       first_circle_nodes, inner_layers, outer_layers, call, single_precision,
                                       as_constructed, memory_limit),
                   JunctionRefused)


def runner_length(center, far_points, radii, margin=_DEFAULTS["margin"]):
    """How far from the centre each runner's junction region reaches; a
    float64 array, one length per runner, in the input's length unit.

    center, far_points and radii as for mesh_junction (two radii per runner;
    the far-end one sizes the runner, as `vela-mesh length` takes it).
    margin (a, b): each length is the distance beyond which the runner's
    cylinder no longer runs into its neighbours', plus radius / (a // b)
    (integer division, as the library takes it; a // b = 0 gives infinity).

    Raises TypeError or ValueError naming the argument for input of the
    wrong form, fewer than two radii per runner, or b = 0.
    """
    return _vela.runner_length(center, far_points, radii, margin)


def _plain(value):
    """numpy arrays and numbers in a system dict, as JSON takes them."""
    if hasattr(value, "tolist"):
        return value.tolist()
    raise TypeError(f"system: {type(value).__name__} is not a JSON value")


def mesh_system(system, threads=0, memory_limit=None, as_constructed=False):
    """Meshes a whole runner system into one conformal mesh; returns a vela.Mesh
    of kind "system" with regions (where each element came from) and patches
    (the boundary faces by patch name: "wall", then one per open end).

    system   a dict in the system-file form (examples/systems/*.json: "points",
             "runners", optional "ends", section settings, "margin",
             "axial_size"), or the path of such a file (str or os.PathLike)
    threads  junctions and bends meshed at once; 0 takes every core. The
             mesh does not depend on it. The GIL is released meanwhile.
    memory_limit
             bytes the system may take; None: half the machine's memory, 0:
             no bound. Before anything is meshed, the estimates of its
             junctions, bends and runners are added up; a system whose sum
             passes the bound raises SystemRefused ("too-large", .value the
             estimate, .unit "bytes").
    as_constructed
             every junction and bend exactly as the library's class
             constructs it; by default the improved construction (mitred
             bends, walls on the channel, smoothed cells).

    Raises SystemRefused when the network cannot be meshed (see .reason);
    ValueError when the dict or file is not a system file (the message
    names the key, as vela-mesh's does) or cannot be read; TypeError for
    anything but a dict or a path.
    """
    if isinstance(system, _Mapping):
        _finite_numbers(system, "")
        text = _json.dumps(dict(system), default=_plain)
        return _meshed(_vela.mesh_system_text(text, threads, memory_limit, as_constructed), SystemRefused)
    if not isinstance(system, (str, bytes, _os.PathLike)):
        raise TypeError(f"system: expected a dict or a path, got {type(system).__name__}")
    return _meshed(_vela.mesh_system_file(system, threads, memory_limit, as_constructed), SystemRefused)


def _finite_numbers(value, where):
    """Raises ValueError naming the key of the first number that is not
    finite: JSON has no NaN or infinity, and the system file's reader would
    otherwise quote text the caller never wrote."""
    if isinstance(value, _Mapping):
        for key, item in value.items():
            _finite_numbers(item, f"{where}.{key}" if where else str(key))
    elif isinstance(value, (list, tuple)):
        for i, item in enumerate(value):
            _finite_numbers(item, f"{where}[{i}]")
    elif hasattr(value, "tolist") and not isinstance(value, (str, bytes)):  # numpy arrays and scalars
        _finite_numbers(value.tolist(), where)
    elif isinstance(value, float) and not _math.isfinite(value):
        raise ValueError(f"{where}: expected a finite number, got {value}")


_MESHIO_NAMES = {"tetra": "tetra", "pyramid": "pyramid", "prism": "wedge", "hexa": "hexahedron"}


def _to_meshio(self):
    """The mesh as a meshio.Mesh (meshio 4.1 or later), with cell data
    "region" (index into region_names) for a runner system.

    The cells go over as they are: meshio keeps a wedge in Gmsh's prism
    order, which is the library's, and turns it into VTK's own when it
    writes .vtu, so m.to_meshio().write("y.vtu") gives positive cells.
    (meshio's .msh writer keeps the order as it is, which is Gmsh's.)
    """
    import meshio

    cells = [(_MESHIO_NAMES[kind], rows) for kind, rows in self.cells.items()]
    cell_data = {"region": [self.regions[kind] for kind in self.cells]} if self.regions else {}
    return meshio.Mesh(self.points, cells, cell_data=cell_data)


Mesh.to_meshio = _to_meshio
Mesh.__module__ = __name__
