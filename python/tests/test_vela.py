"""The Python module against the golden meshes, the library's refusals, VTK's
corner order and meshio's readers. Run by CTest with PYTHONPATH at the
build's python folder."""

import json
import math
import pathlib
import xml.etree.ElementTree as ET
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

meshio = pytest.importorskip("meshio")
import vela  # noqa: E402

SOURCE = pathlib.Path(__file__).resolve().parents[2]
GOLDEN = ["y-golden", "tee-golden", "x-tilted-golden", "bend-golden"]


def golden(name, suffix=""):
    return json.loads((SOURCE / "tests" / "golden" / f"{name}{suffix}.json").read_text())


def junction_args(name):
    return {key: value for key, value in golden(name).items() if key not in ("name", "margin")}


def planar(degrees, r=2.0):
    """Runners at the given angles in the xy-plane, 20 from the centre, as the C++ tables build them."""
    far = [[20 * math.cos(math.radians(d)), 20 * math.sin(math.radians(d)), 0.0] for d in degrees]
    return {"center": [0, 0, 0], "far_points": far, "radii": [r] * (2 * len(degrees)), "outer_layers": []}


def changed(base, **change):
    return {**base, **change}


# ------------------------------------------------------------------ golden meshes


@pytest.mark.parametrize("name", GOLDEN)
def test_golden_junctions_match_node_by_node_and_cell_by_cell(name, tmp_path):
    # The golden meshes are the exported class's, which takes its points as floats.
    expected = golden(name, ".mesh")
    m = vela.mesh_junction(**junction_args(name), single_precision=True)
    assert m.kind == expected["kind"]
    assert np.array_equal(m.points, np.array(expected["nodes"]))
    by_kind = {}
    for element in expected["elements"]:
        by_kind.setdefault(element["type"], []).append(element["nodes"])
    assert list(m.cells) == [kind for kind in ("tetra", "pyramid", "prism", "hexa") if kind in by_kind]
    for kind, rows in by_kind.items():
        assert np.array_equal(m.cells[kind], np.array(rows)), kind
    # The order across kinds, through the tool's own dump.
    assert json.loads(pathlib.Path(m.write(tmp_path / "m.json")[0]).read_text())["elements"] == expected["elements"]
    # The far nodes cross the library's boundary as floats.
    far = np.array(expected.get("far_nodes", np.zeros((0, 3))), dtype=np.float32)
    assert np.array_equal(m.far_nodes, far.astype(np.float64))
    # Asked for by name, the call that fits the runner count is the one taken anyway.
    forced = vela.mesh_junction(**junction_args(name), single_precision=True, call=expected["kind"])
    assert np.array_equal(forced.points, m.points) and np.array_equal(forced.far_nodes, m.far_nodes)
    lengths = vela.runner_length(golden(name)["center"], golden(name)["far_points"], golden(name)["radii"])
    assert lengths == pytest.approx(golden(name, ".length")["lengths"], rel=1e-15)


def test_points_stay_doubles_unless_single_precision_is_asked():
    # Nothing here is a float: narrowed, the far points move by about 1e-6 at these sizes.
    lift = np.array([0.1, 0.2, 4.8])
    y = changed(Y, center=lift.tolist(), far_points=(np.array(Y["far_points"]) + lift).tolist())
    exact, narrowed = vela.mesh_junction(**y), vela.mesh_junction(**y, single_precision=True)

    def worst_centre(m):  # each far section's centre node is the node nearest its far point
        return max(np.linalg.norm(m.points - far, axis=1).min() for far in y["far_points"])

    assert worst_centre(exact) < 1e-13
    assert worst_centre(narrowed) > 1e-7
    # The junction plane holds the centre's height: 4.8 itself, not 4.8 as a float.
    assert (exact.points[:, 2] == 4.8).any() and not (narrowed.points[:, 2] == 4.8).any()
    assert len(exact.points) == len(narrowed.points) and exact.cells.keys() == narrowed.cells.keys()
    # Far nodes are nodes of the mesh; the class hands them over as floats.
    assert all((exact.points == far).all(axis=1).any() for far in exact.far_nodes)
    assert all((narrowed.points.astype(np.float32) == far).all(axis=1).any() for far in narrowed.far_nodes)
    assert (narrowed.far_nodes.astype(np.float32) == narrowed.far_nodes).all()


def nearest_gap(points):
    """The smallest distance between two of the points, a block of rows at a time."""
    gap = math.inf
    for start in range(0, len(points), 256):
        block = np.linalg.norm(points[start:start + 256, None, :] - points[None, :, :], axis=2)
        block[np.arange(len(block)), start + np.arange(len(block))] = math.inf
        gap = min(gap, block.min())
    return gap


def test_merge_record_of_a_junction(meshes):
    for name, m in meshes.items():
        if name == "system":
            assert m.nodes_before_merge is None and m.merge_tolerance is None
            continue
        assert m.nodes_before_merge > len(m.points), name
        # What is left after merging lies farther apart than the tolerance it was merged within.
        assert 0 < m.merge_tolerance < nearest_gap(m.points), name


# ------------------------------------------------------------------ refusals

Y = planar([0, 120, 240])
BEND = {"center": [5, 0, 0], "far_points": [[20, 0, 0], [5, 15, 0]], "radii": [2] * 4}
# Two opposite runners 60 degrees out of the plane: their branches run into each other.
LIFTED = changed(planar([0, 90, 180, 270]),
                 far_points=[[20, 0, 0], [0, 10, 17.320508], [-20, 0, 0], [0, -10, 17.320508]])

# Every reason a junction call gives, from the inputs of the C++ tables.
# null-pointer cannot be reached: the host call hands the library every list.
REFUSALS = [
    ("shares", changed(Y, outer_share=0.201), -1),
    ("share-ratio", changed(Y, inner_share=0.0, outer_share=1.0), -1),
    ("too-few-runners", changed(BEND, call="nway"), -1),
    ("too-few-runners", changed(Y, call="bend"), -1),
    ("shares", changed(BEND, call="nway", outer_share=0.201), -1),  # checked before the runner count
    ("radius-list", changed(Y, radii=[2] * 5), -1),
    ("non-finite", changed(Y, radii=[2, 2, 2, 2, 2, math.nan]), 2),
    ("non-finite", changed(Y, center=[0, math.inf, 0]), -1),
    ("magnitude", changed(Y, far_points=[[20, 0, 0], [3e38, 17, 0], [-10, -17, 0]]), 1),
    ("magnitude", changed(Y, radii=[2, 2, 2, 2, 1e300, 1e300]), 2),
    ("radius-not-positive", changed(Y, radii=[2, 2, 2, 0, 2, 2]), 1),
    ("far-point-degenerate", changed(Y, far_points=[[20, 0, 0], [0, 20, 0], [0, 0, 0]]), 2),
    # The refusals of the construction as the class makes it: by default the
    # hub meshes junctions out of the plane, or out of order round it.
    ("no-plane", changed(Y, far_points=[[20, 0, 0], [-20, 0, 0], [10, 0, 0]], as_constructed=True), -1),
    ("layers-not-set", changed(Y, inner_layers=[]), -1),
    ("layer-order", changed(Y, inner_layers=[0, 0.5, 0.25, 1]), -1),
    ("no-inner-ring", changed(Y, inner_layers=[0]), -1),
    ("first-ring-too-small", changed(Y, first_circle_nodes=2), -1),
    ("first-ring-too-small", changed(Y, first_circle_nodes=-1), -1),
    ("odd-first-ring", changed(BEND, first_circle_nodes=7), -1),
    ("bend-opening", changed(BEND, far_points=[[20, 0, 0], [20, 3, 0]]), -1),
    ("neighbours-too-close", planar([0, 5, 180]), 0),
    ("elevation", changed(LIFTED, as_constructed=True), 1),
    ("radius-ratio", changed(planar([0, 40, 180]), radii=[2, 2, 16, 16, 2, 2]), 1),
    ("section-too-fine", changed(Y, first_circle_nodes=4, inner_layers=[i / 8 for i in range(9)]), -1),
    ("too-large", changed(Y, first_circle_nodes=100000, inner_layers=[i / 1000 for i in range(1001)]), -1),
    ("unsound-result", planar([4, 110, 316]) | {"radii": [2, 2, 3, 3, 1.5, 1.5], "as_constructed": True}, -1),
    ("runner-order", planar([0, 200, 100, 300]) | {"as_constructed": True}, -1),
]


@pytest.mark.parametrize("reason, args, runner", REFUSALS, ids=[row[0] for row in REFUSALS])
def test_every_refusal_is_raised_by_name(reason, args, runner):
    with pytest.raises(vela.JunctionRefused) as refused:
        vela.mesh_junction(**args)
    assert refused.value.reason == reason and refused.value.runner == runner
    assert isinstance(refused.value, ValueError)
    assert f"refused ({reason})" in str(refused.value)
    if runner >= 0:  # names the runner's own entries
        assert f"far_points[{runner}]" in str(refused.value) or f"radii[{2 * runner}]" in str(refused.value)
    # A measure comes whole, with its bound and its unit, or not at all.
    measure = (refused.value.value, refused.value.limit, refused.value.unit)
    assert measure == (None, None, None) or (
        all(isinstance(x, float) and math.isfinite(x) for x in measure[:2])
        and measure[2] in ("degrees", "length", "ratio", "count")
    ), measure


MEASURED = [
    (changed(LIFTED, as_constructed=True), "elevation", 1, -1, "degrees", (60 - 1e-6, 60 + 1e-6), 10,
     "runner 1 leaves the junction plane at {value:.4g} degrees, limit 10 degrees"),
    (planar([0, 5, 180]), "neighbours-too-close", 0, 1, "degrees", (5 - 1e-6, 5 + 1e-6), 30,
     "runners 0 and 1 are 5 degrees apart, at least 30 degrees needed"),
    # 40 degrees apart, but radius 10 cylinders cut into each other up to 10 / tan(20 degrees) from the centre.
    (planar([0, 40, 180], r=10), "neighbours-too-close", 0, 1, "length", (20 - 1e-9, 20 + 1e-9),
     10 / math.tan(math.radians(20)), "the shorter ends 20 from the centre, where their cylinders still cut into "
     "each other up to 27.47"),
    (changed(Y, outer_share=0.201), "shares", -1, -1, None, None, None, "do not add up to 1"),
]


@pytest.mark.parametrize("args, reason, runner, other, unit, within, limit, words", MEASURED,
                         ids=["elevation", "close-in-angle", "close-in-length", "shares"])
def test_refusals_carry_what_was_measured_and_its_limit(args, reason, runner, other, unit, within, limit, words):
    with pytest.raises(vela.JunctionRefused) as refused:
        vela.mesh_junction(**args)
    e = refused.value
    assert (e.reason, e.runner, e.other_runner, e.unit) == (reason, runner, other, unit)
    if unit is None:
        assert e.value is None and e.limit is None
    else:
        assert within[0] <= e.value <= within[1]
        assert e.limit == pytest.approx(limit, rel=1e-12)
    # The line words the same measure, ahead of what to check.
    line = str(e)
    assert line.startswith(f"junction: refused ({reason}): ")
    assert words.format(value=e.value) in line.split("; check ")[0], line


def test_a_refused_system_names_its_reason():
    points = {"a": [0, 0, 0], "b": [20, 0, 0], "c": [30, 0, 0], "d": [50, 0, 0]}
    with pytest.raises(vela.SystemRefused, match=r"refused \(disconnected\)") as refused:
        vela.mesh_system({"points": points, "runners": [{"from": "a", "to": "b", "radius": 2}, {"from": "c", "to": "d", "radius": 2}]})
    assert refused.value.reason == "disconnected"
    assert refused.value.junction_reason is None and refused.value.value is None


def test_a_refused_system_carries_its_point_runner_and_the_library_reason():
    tee = {"points": {"c": [0, 0, 0], "a": [-30, 0, 0], "b": [30, 0, 0], "d": [0, 30, 0], "e": [0, -30, 25]},
           "runners": [{"from": "c", "to": end, "radius": 2} for end in "abde"]}
    # As the class constructs it; by default the hub meshes a runner this steep.
    with pytest.raises(vela.SystemRefused) as refused:
        vela.mesh_system(tee, as_constructed=True)
    e = refused.value
    assert (e.reason, e.point, e.runner, e.junction_reason, e.unit) == ("junction", "c", "c-d", "elevation", "degrees")
    assert len(vela.mesh_system(tee).points) > 0
    assert e.value > e.limit == 10.0
    # The line names the runner as the system does, its measure and limit, and what to move.
    assert (f"junction at c: elevation: runner c-d leaves the junction plane at {e.value:.4g} degrees, limit 10 "
            "degrees: move d towards the plane of the other runners at c") in str(e), str(e)
    sharp = {"points": {"a": [-30, 0, 0], "c": [0, 0, 0], "e": [-30, 3, 0]},
             "runners": [{"from": "c", "to": "a", "radius": 2}, {"from": "c", "to": "e", "radius": 2}]}
    with pytest.raises(vela.SystemRefused) as refused:
        vela.mesh_system(sharp)
    e = refused.value
    assert (e.reason, e.point, e.runner, e.junction_reason, e.unit) == ("point-too-sharp", "c", None, None, "degrees")
    assert e.value < e.limit == 20.0


# ------------------------------------------------------------------ VTK's corner order

# Outward faces of each VTK cell type, from VTK's corner numbering: the base of a tetrahedron, pyramid or
# hexahedron turns counter-clockwise seen from the apex or the far face, a wedge's first triangle clockwise.
VTK_FACES = {
    10: [(0, 2, 1), (0, 1, 3), (1, 2, 3), (2, 0, 3)],
    14: [(0, 3, 2, 1), (0, 1, 4), (1, 2, 4), (2, 3, 4), (3, 0, 4)],
    13: [(0, 1, 2), (3, 5, 4), (0, 3, 4, 1), (1, 4, 5, 2), (2, 5, 3, 0)],
    12: [(0, 3, 2, 1), (4, 5, 6, 7), (0, 1, 5, 4), (1, 2, 6, 5), (2, 3, 7, 6), (3, 0, 4, 7)],
}


def vtk_volumes(points, vtk_type, cells):
    """Signed volumes: tetrahedra from the cell's centroid to its outward faces, quads fanned from their middle."""
    corners = points[cells]
    centre = corners.mean(axis=1)
    volume = np.zeros(len(cells))
    for face in VTK_FACES[vtk_type]:
        ring = [corners[:, i] for i in face]
        fan = [ring] if len(ring) == 3 else [(ring[i], ring[(i + 1) % 4], sum(ring) / 4) for i in range(4)]
        for a, b, c in fan:
            volume += np.einsum("ij,ij->i", a - centre, np.cross(b - centre, c - centre)) / 6
    return volume


@pytest.fixture(scope="module")
def meshes():
    system = vela.mesh_system(SOURCE / "examples" / "systems" / "single-bend.json", threads=1)
    return {**{name: vela.mesh_junction(**junction_args(name)) for name in GOLDEN}, "system": system}


def test_meshio_writes_every_cell_positive_in_vtk_order(meshes, tmp_path):
    for name, m in meshes.items():
        for vtk_type, cells in m.vtk_cells().items():
            assert (vtk_volumes(m.points, vtk_type, cells) > 0).all(), (name, vtk_type)
        path = tmp_path / f"{name}.vtu"
        m.to_meshio().write(path, binary=False)
        arrays = {a.get("Name"): np.array(a.text.split(), dtype=float) for a in ET.parse(path).iter("DataArray")}
        points = arrays["Points"].reshape(-1, 3)
        starts = np.concatenate([[0], arrays["offsets"][:-1]]).astype(int)
        for vtk_type in np.unique(arrays["types"]).astype(int):
            chosen = starts[arrays["types"] == vtk_type]
            cells = arrays["connectivity"].astype(int)[chosen[:, None] + np.arange(1 + max(map(max, VTK_FACES[vtk_type])))]
            assert (vtk_volumes(points, vtk_type, cells) > 0).all(), (name, vtk_type)
        assert ("region" in m.to_meshio().cell_data) == (name == "system")


def test_files_written_read_back_by_meshio(meshes, tmp_path):
    for name, m in meshes.items():
        expected = m.to_meshio()
        for suffix in (".vtu", ".msh"):
            written = m.write(tmp_path / f"{name}{suffix}")
            back = meshio.read(written[0])
            assert np.array_equal(back.points, m.points), (name, suffix)
            solids = {block.type: block.data for block in back.cells if block.type in ("tetra", "pyramid", "wedge", "hexahedron")}
            for block in expected.cells:  # meshio's own convention both ways
                assert np.array_equal(solids[block.type], block.data), (name, suffix, block.type)
            assert len(solids) == len(expected.cells)


def test_quality_judges_the_arrays_it_is_given(meshes):
    for name, m in meshes.items():
        q = m.quality()
        assert not q["has_faults"] and not any(q["faults"].values()), (name, q["summary"])
        assert {kind: s["count"] for kind, s in q["by_kind"].items()} == {kind: len(rows) for kind, rows in m.cells.items()}
        assert q["min_scaled_jacobian"] == min(s["min_scaled_jacobian"] for s in q["by_kind"].values())
        volume = sum(vtk_volumes(m.points, vtk_type, cells).sum() for vtk_type, cells in m.vtk_cells().items())
        assert q["volume"] == pytest.approx(volume, rel=1e-9), name
        assert q["summary"].startswith("quality: no faults; min scaled Jacobian"), name
    assert meshes["tee-golden"].quality(0.5)["coincidence_tolerance"] == 0.5


# ------------------------------------------------------------------ arguments and threads

BAD_ARGUMENTS = [
    (changed(Y, center=None), TypeError, "center"),
    (changed(Y, center=[0, 0]), ValueError, "center"),
    (changed(Y, far_points=[]), ValueError, "far_points"),
    (changed(Y, far_points="[[20, 0, 0]]"), TypeError, "far_points"),
    (changed(Y, far_points=[[20, 0], [0, 20], [-20, 0]]), ValueError, "far_points"),
    (changed(Y, radii=[[2, 2], [2, 2], [2, 2]]), ValueError, "radii"),
    (changed(Y, inner_share="0.8"), TypeError, "inner_share"),
    (changed(Y, first_circle_nodes=8.0), TypeError, "first_circle_nodes"),
    (changed(Y, first_circle_nodes=2**40), ValueError, "first_circle_nodes"),
    (changed(Y, inner_layers=None), TypeError, "inner_layers"),
    (changed(Y, call="tee"), ValueError, "call"),
    (changed(Y, single_precision=1), TypeError, "single_precision"),
    (changed(Y, single_precision=None), TypeError, "single_precision"),
]


@pytest.mark.parametrize("args, error, name", BAD_ARGUMENTS, ids=[f"{row[2]}-{i}" for i, row in enumerate(BAD_ARGUMENTS)])
def test_bad_arguments_name_the_argument(args, error, name):
    with pytest.raises(error, match=name):
        vela.mesh_junction(**args)


def test_bad_arguments_of_the_other_calls(meshes, tmp_path):
    y = {key: Y[key] for key in ("center", "far_points", "radii")}
    with pytest.raises(ValueError, match="radii"):
        vela.runner_length(**changed(y, radii=[2] * 5))
    with pytest.raises(ValueError, match="margin"):
        vela.runner_length(**y, margin=(5, 0))
    with pytest.raises(TypeError, match="system"):
        vela.mesh_system(42)
    with pytest.raises(ValueError, match="points"):
        vela.mesh_system({"runners": []})
    with pytest.raises(ValueError, match="no-such"):
        vela.mesh_system(tmp_path / "no-such.json")
    with pytest.raises(ValueError, match="txt"):
        meshes["y-golden"].write(tmp_path / "y.txt")
    with pytest.raises(OSError):
        meshes["y-golden"].write(tmp_path / "no-such-folder" / "y.vtu")


def test_four_threads_mesh_as_one_does():
    # Refusals in between: each thread reads its own call's reason.
    work = [args for name, row in zip(GOLDEN * 3, REFUSALS) for args in (junction_args(name), row[1])]

    def outcome(args):
        try:
            m = vela.mesh_junction(**args)
            return m.points.tobytes(), {kind: rows.tobytes() for kind, rows in m.cells.items()}
        except vela.JunctionRefused as refused:
            return refused.reason

    with ThreadPoolExecutor(4) as pool:
        assert list(pool.map(outcome, work)) == [outcome(args) for args in work]


def test_bends_are_mitred_unless_asked_for_the_construction():
    bend = junction_args("bend-golden")
    mitred = vela.mesh_junction(**bend)
    corner = vela.mesh_junction(**bend, as_constructed=True)
    assert "tetra" not in mitred.cells and "pyramid" not in mitred.cells
    assert len(corner.cells["tetra"]) > 0
    assert mitred.quality()["min_scaled_jacobian"] > corner.quality()["min_scaled_jacobian"]
    with pytest.raises(TypeError, match="as_constructed"):
        vela.mesh_junction(**bend, as_constructed="yes")


def test_a_system_dict_with_a_nan_names_its_key():
    system = json.loads((SOURCE / "examples" / "systems" / "single-bend.json").read_text())
    first = next(iter(system["points"]))
    system["points"][first] = [0.0, math.nan, 0.0]
    with pytest.raises(ValueError, match=rf"points\.{first}\[1\]: expected a finite number, got nan"):
        vela.mesh_system(system)


def test_a_junction_over_the_memory_bound_is_refused_with_its_estimate():
    tee = junction_args("tee-golden")
    with pytest.raises(vela.JunctionRefused) as refused:
        vela.mesh_junction(**tee, memory_limit=1000.0)
    assert refused.value.reason == "too-large" and refused.value.unit == "bytes"
    assert refused.value.limit == 1000.0 and refused.value.value > 1000.0
    assert len(vela.mesh_junction(**tee, memory_limit=0).points) > 0
    with pytest.raises(ValueError, match="memory_limit"):
        vela.mesh_junction(**tee, memory_limit=-1)


def test_a_system_over_the_memory_bound_is_refused_with_its_estimate():
    bend = SOURCE / "examples" / "systems" / "single-bend.json"
    with pytest.raises(vela.SystemRefused) as refused:
        vela.mesh_system(bend, memory_limit=1000.0)
    e = refused.value
    assert (e.reason, e.unit, e.limit) == ("too-large", "bytes", 1000.0) and e.value > 1000.0
    assert len(vela.mesh_system(bend, memory_limit=e.value).points) > 0  # the bound is the estimate's
    with pytest.raises(ValueError, match="memory_limit"):
        vela.mesh_system(bend, memory_limit=-1)


def test_a_system_as_constructed_is_the_class_construction():
    path = SOURCE / "examples" / "systems" / "single-bend.json"
    improved = vela.mesh_system(path, threads=1)
    constructed = vela.mesh_system(path, threads=1, as_constructed=True)
    # The class sweeps a bend's corner with tetrahedra and pyramids on its
    # axis; the improved mitre has prisms and hexahedra only.
    assert set(improved.vtk_cells()) == {13, 12}
    assert {10, 14} <= set(constructed.vtk_cells())
    assert len(constructed.points) > len(improved.points)


@pytest.mark.parametrize("runners", [3, 4, 6, 8])
def test_a_radial_layout_meshes_soundly(runners):
    # A sprue square to a star of runners in the parting plane, radii alternating.
    points = {"inlet": [0, 0, 60], "s": [0, 0, 0]}
    star = [{"from": "inlet", "to": "s", "radius": [3, 4]}]
    for k in range(runners):
        a = 2 * math.pi * k / runners
        points[f"g{k + 1}"] = [45 * math.cos(a), 45 * math.sin(a), 0]
        star.append({"from": "s", "to": f"g{k + 1}", "radius": [2.5 if k % 2 else 3, 2.5]})
    m = vela.mesh_system({"points": points, "runners": star, "axial_size": 2})
    q = m.quality()
    assert not any(q["faults"].values()), q["summary"]
    # Prisms and hexahedra only, over the floor of 0.2 even for a star of eight.
    assert set(m.vtk_cells()) == {13, 12}
    assert q["min_scaled_jacobian"] >= (0.25 if runners < 8 else 0.2)
    assert sorted(m.patches) == sorted(["wall", "end-inlet"] + [f"end-g{k + 1}" for k in range(runners)])
