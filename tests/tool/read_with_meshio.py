#!/usr/bin/python3
"""Reads vela-mesh's mesh files with readers independent of it: meshio, and gmsh when installed.

usage: read_with_meshio.py FILE...           (NAME.vtu or NAME.msh; NAME.patches.vtu is skipped)
       read_with_meshio.py --resave FILE PREFIX

Prints one line per FILE: its counts, then "ok" or the faults found. Exit status 0 when every
file is ok, 1 otherwise, 2 when meshio is missing or no file is given.
"""

import collections
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

# A file is ok when meshio reads it and every solid cell has a positive volume by meshio's own
# corner order; meshio sees the counts of the tool's dump NAME.mesh.json beside it, when there is
# one: nodes and elements, and for a runner system the elements per region (the .vtu's cell data
# "region") and the faces per patch (NAME.patches.vtu's cell data "patch", the .msh's physical
# groups); NAME.patches.vtu's faces close the volume, wound outward; a .vtu converts to MED and
# back as `meshio convert` does, with the same cells; and gmsh loads a .msh, finds every
# Jacobian determinant positive and sees the same groups.
#
# --resave writes FILE again as other programs do: PREFIX.ascii.vtu, .base64.vtu, .zlib.vtu,
# .bare.vtu (zlib, points and cells only), .ascii.msh and .binary.msh (Gmsh 4.1 by meshio).
try:
    import numpy as np
    import meshio
except ImportError as error:  # the caller decides whether that means "skip"
    print(f"meshio is not available: {error}", file=sys.stderr)
    sys.exit(2)

# Faces of each solid, outward when the cell is positive. The base of every kind is
# counter-clockwise seen from the apex or the far face: meshio's order (VTK's, and for
# wedges Gmsh's, which meshio's .vtu reader turns VTK wedges into).
FACES = {
    "tetra": [(0, 2, 1), (0, 1, 3), (1, 2, 3), (2, 0, 3)],
    "pyramid": [(0, 3, 2, 1), (0, 1, 4), (1, 2, 4), (2, 3, 4), (3, 0, 4)],
    "wedge": [(0, 2, 1), (3, 4, 5), (0, 1, 4, 3), (1, 2, 5, 4), (2, 0, 3, 5)],
    "hexahedron": [(0, 3, 2, 1), (4, 5, 6, 7), (0, 1, 5, 4), (1, 2, 6, 5), (2, 3, 7, 6), (3, 0, 4, 7)],
}
GMSH_SCRIPT = """Merge "{path}";
Plugin(AnalyseMeshQuality).JacobianDeterminant = 1;
Plugin(AnalyseMeshQuality).IGEMeasure = 0;
Plugin(AnalyseMeshQuality).ICNMeasure = 0;
Plugin(AnalyseMeshQuality).CreateView = 0;
Plugin(AnalyseMeshQuality).Run;
Save "{out}";
"""


def cone_volumes(ring):
    """Signed volumes of the cones from the origin over polygons given as corner arrays, a
    quadrilateral split into four triangles about its mean point."""
    if len(ring) == 4:
        middle = sum(ring) / 4.0
        return sum(cone_volumes([ring[i], ring[(i + 1) % 4], middle]) for i in range(4))
    return np.einsum("ij,ij->i", ring[0], np.cross(ring[1], ring[2])) / 6.0


def cell_volumes(points, blocks):
    volumes = [np.zeros(0)]
    for kind, cells in blocks:
        corners = points[cells] - points[cells].mean(axis=1, keepdims=True)
        volumes.append(sum(cone_volumes([corners[:, i, :] for i in face]) for face in FACES[kind]))
    return np.concatenate(volumes)


def enclosed_volume(points, faces):
    """The volume the faces enclose, taken from an apex off every face's plane."""
    low, high = points.min(axis=0), points.max(axis=0)
    points = points - (high + np.array([0.37, 0.61, 0.83]) * np.linalg.norm(high - low))
    return sum(float(cone_volumes([points[data[:, i]] for i in range(data.shape[1])]).sum())
               for data in faces)


def per_name(mesh, key):
    """Cells per value of the cell data key, named by the field data (name -> [index]); the
    one field that is not a name gives the coordinates' unit."""
    names = {int(index[0]): name for name, index in mesh.field_data.items() if name != "metres_per_unit"}
    counts = collections.Counter(names[int(v)] for values in mesh.cell_data[key] for v in values)
    return dict(counts)


def expected_counts(dump):
    with open(dump, encoding="utf-8") as text:
        d = json.load(text)
    want = {"nodes": len(d["nodes"]), "elements": len(d["elements"]), "patches": {}}
    if d.get("kind") in ("nway", "bend"):  # the wall and one end per runner, as vela-mesh names them
        runners = len(d["far_nodes"]) if d["kind"] == "nway" else 2
        want["patches"] = ["wall"] + [f"end-{i}" for i in range(runners)]
    if d.get("kind") == "system":
        per_region = collections.Counter(d["element_regions"])
        want["regions"] = {name: per_region[i] for i, name in enumerate(d["regions"]) if per_region[i]}
        want["patches"] = {name: len(faces) for name, faces in d["patches"].items()}
    return want


def check_patches(path, points, volumes, want, faults):
    patches = meshio.read(path[:-4] + ".patches.vtu", file_format="vtu")
    faces = [np.asarray(b.data) for b in patches.cells if b.type in ("triangle", "quad")]
    closed = enclosed_volume(np.asarray(points, dtype=float), faces)
    if not abs(closed - volumes.sum()) <= 1e-9 * abs(volumes.sum()):
        faults.append(f"the patches enclose {closed:.12g}, not the cells' {volumes.sum():.12g}")
    if want and per_name(patches, "patch") != want["patches"]:
        faults.append(f"patch faces {per_name(patches, 'patch')}, not {want['patches']}")


def check_med(path, solids, faults):
    """`meshio convert NAME.vtu NAME.med`: the MED writer takes one block per cell type."""
    with tempfile.TemporaryDirectory() as folder:
        med = os.path.join(folder, "mesh.med")
        try:
            meshio.write(med, meshio.read(path, file_format="vtu"))
            back = meshio.read(med)
        except ImportError:  # meshio writes MED only with h5py
            return
        except Exception as error:  # the conversion itself is what is tested
            faults.append(f"MED: {type(error).__name__}: {error}")
            return
    if solid_counts(back) != solids:
        faults.append(f"MED gives {solid_counts(back)}")


def msh_groups(mesh):
    """Volume elements (all dimension-3 physical groups) and faces per dimension-2 group."""
    size = {name: sum(len(cells) for cells in mesh.cell_sets[name]) for name in mesh.field_data}
    return (sum(size[name] for name, (_, dim) in mesh.field_data.items() if dim == 3),
            {name: size[name] for name, (_, dim) in mesh.field_data.items() if dim == 2})


def same_groups(groups, want):
    """The volume's elements, and the faces per patch of a system's dump; a junction's dump
    names its patches only (every one of them must hold faces), which a file written
    without them does not have."""
    elements, patches = groups
    if isinstance(want["patches"], list):
        named = not patches or (sorted(patches) == sorted(want["patches"]) and all(patches.values()))
        return elements == want["elements"] and named
    return groups == (want["elements"], want["patches"])


def check_gmsh(path, want, faults):
    gmsh = "/usr/bin/gmsh" if os.path.exists("/usr/bin/gmsh") else shutil.which("gmsh")
    if gmsh is None:
        return
    with tempfile.TemporaryDirectory() as folder:
        script, out = os.path.join(folder, "check.geo"), os.path.join(folder, "resaved.msh")
        with open(script, "w", encoding="utf-8") as geo:
            geo.write(GMSH_SCRIPT.format(path=os.path.abspath(path), out=out))
        run = subprocess.run([gmsh, "-nopopup", "-0", script], capture_output=True, text=True,
                             timeout=300, cwd=folder)
        text = run.stdout + run.stderr
        errors = [line.strip() for line in text.splitlines() if line.lstrip().startswith("Error")]
        found = re.search(r"minJ\s*=\s*([-+0-9.eE]+)\s*,", text)
        if run.returncode != 0 or errors or not found or not os.path.exists(out):
            faults.append(f"gmsh failed: {errors[0] if errors else run.returncode}")
            return
        if float(found.group(1)) <= 0.0:
            faults.append(f"gmsh finds a Jacobian of {found.group(1)}")
        groups = msh_groups(meshio.read(out, file_format="gmsh"))
    if want and not same_groups(groups, want):
        faults.append(f"gmsh sees groups {groups}")


def solid_counts(mesh):
    return {kind: sum(len(b.data) for b in mesh.cells if b.type == kind) for kind in FACES}


def check(path):
    """Prints the line of one file; True when it is ok."""
    is_vtu = path.lower().endswith(".vtu")
    try:
        mesh = meshio.read(path, file_format="vtu" if is_vtu else "gmsh")
    except Exception as error:  # any reader failure is this file's fault
        print(f"{path}: unreadable: {type(error).__name__}: {error}")
        return False
    points = np.asarray(mesh.points, dtype=float)
    volumes = cell_volumes(points, [(b.type, np.asarray(b.data)) for b in mesh.cells if b.type in FACES])
    solids, faults = solid_counts(mesh), []
    if len(volumes) == 0 or not np.all(volumes > 0.0):
        faults.append(f"{np.count_nonzero(~(volumes > 0.0))} of {len(volumes)} cells not positive")
    dump = os.path.splitext(path)[0] + ".mesh.json"
    want = expected_counts(dump) if os.path.exists(dump) else None
    if want and (len(points), len(volumes)) != (want["nodes"], want["elements"]):
        faults.append(f"the dump has {want['nodes']} nodes, {want['elements']} elements")
    if is_vtu:
        if want and "regions" in want and per_name(mesh, "region") != want["regions"]:
            faults.append(f"region elements {per_name(mesh, 'region')}, not {want['regions']}")
        if os.path.exists(path[:-4] + ".patches.vtu"):
            check_patches(path, points, volumes, want, faults)
        check_med(path, solids, faults)
    else:
        groups = msh_groups(mesh)
        if want and not same_groups(groups, want):
            faults.append(f"meshio sees groups {groups}")
        check_gmsh(path, want, faults)
    counts = " ".join([f"nodes={len(points)}"] + [f"{kind}={n}" for kind, n in solids.items()])
    print(f"{path}: {counts}" + ("; " + "; ".join(faults) if faults else " ok"))
    return not faults


def resave(path, prefix):
    mesh = meshio.read(path)
    bare = meshio.Mesh(mesh.points, [(block.type, block.data) for block in mesh.cells])
    meshio.write(prefix + ".ascii.vtu", mesh, file_format="vtu", binary=False)
    meshio.write(prefix + ".base64.vtu", mesh, file_format="vtu", binary=True, compression=None)
    meshio.write(prefix + ".zlib.vtu", mesh, file_format="vtu", binary=True, compression="zlib")
    meshio.write(prefix + ".bare.vtu", bare, file_format="vtu", binary=True, compression="zlib")
    # meshio's Gmsh writer wants every node's entity once there are several cell types, and
    # one entity per cell type: volume k + 1 for block k, the nodes on volume 1.
    gmsh = meshio.Mesh(mesh.points, bare.cells,
                       point_data={"gmsh:dim_tags": np.tile([3, 1], (len(mesh.points), 1))},
                       cell_data={"gmsh:geometrical": [np.full(len(b.data), k + 1) for k, b in enumerate(bare.cells)],
                                  "gmsh:physical": [np.full(len(b.data), 1) for b in bare.cells]})
    meshio.write(prefix + ".ascii.msh", gmsh, file_format="gmsh", binary=False)
    meshio.write(prefix + ".binary.msh", gmsh, file_format="gmsh", binary=True)
    return 0


def main(argv):
    if argv[:1] == ["--resave"] and len(argv) == 3:
        return resave(argv[1], argv[2])
    paths = [path for path in argv if not path.endswith(".patches.vtu")]
    if not paths or argv[:1] == ["--resave"]:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    results = [check(path) for path in paths]
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
