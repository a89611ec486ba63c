#!/usr/bin/python3
"""Reads mesh files with meshio, a reader independent of vela-mesh, and checks them.

usage: read_with_meshio.py [--gmsh] [--med] FILE...
       read_with_meshio.py --resave FILE PREFIX

For every file one line:
    FILE: nodes=N tetra=a pyramid=b wedge=c hexahedron=d positive_volume=yes
(cell counts for the solid kinds; other cell kinds are not counted). A cell's
volume is taken with the reader's own corner convention, so a file whose
corners are in the wrong order for its format shows up as
positive_volume=no (k of m cells).

With --gmsh, .msh files are also loaded by the gmsh program (/usr/bin/gmsh or
gmsh on PATH), when it is installed: it must read them without an error and
find every element's Jacobian determinant positive ("gmsh=ok (min Jacobian x)";
"gmsh=missing" when it is not installed, which is not a failure).

With --med, each .vtu file is also converted to MED as `meshio convert
NAME.vtu NAME.med` does (read, then write with the MED writer) and the MED
file read back: "med=ok" when it holds the same solid cells, "med=failed
(...)" otherwise (a failure), "med=missing" when meshio cannot write MED.

--resave reads FILE and writes it again as other programs' files would look:
PREFIX.ascii.vtu, PREFIX.base64.vtu (inline binary, uncompressed),
PREFIX.zlib.vtu (inline binary, zlib), PREFIX.bare.vtu (zlib, without field
and cell data: only points and cells), PREFIX.ascii.msh and
PREFIX.binary.msh (Gmsh 4.1 as meshio writes it).

Exit status: 0 when every file was read and every solid cell has a positive
volume; 1 when a file failed; 2 when meshio is missing or no file was given.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile

try:
    import numpy as np
    import meshio
except ImportError as error:  # the caller decides whether that means "skip"
    print(f"meshio is not available: {error}", file=sys.stderr)
    sys.exit(2)

SOLID_KINDS = ("tetra", "pyramid", "wedge", "hexahedron")

# Faces of each solid, outward when the cell is positive: a triangle or
# quadrilateral listed counter-clockwise seen from outside. The base of every
# kind (first three or four corners) is counter-clockwise seen from the apex
# or the far face, which is how meshio numbers tetrahedra, pyramids and
# hexahedra (VTK's order) and wedges too (Gmsh's prism order; meshio's .vtu
# reader turns VTK wedges into that since version 4.1).
FACES = {
    "tetra": [(0, 2, 1), (0, 1, 3), (1, 2, 3), (2, 0, 3)],
    "pyramid": [(0, 3, 2, 1), (0, 1, 4), (1, 2, 4), (2, 3, 4), (3, 0, 4)],
    "wedge": [(0, 2, 1), (3, 4, 5), (0, 1, 4, 3), (1, 2, 5, 4), (2, 0, 3, 5)],
    "hexahedron": [(0, 3, 2, 1), (4, 5, 6, 7), (0, 1, 5, 4), (1, 2, 6, 5), (2, 3, 7, 6), (3, 0, 4, 7)],
}


def signed_volumes(points, cells, kind):
    """Volume of every cell by the divergence theorem over its faces, each
    quadrilateral split into four triangles about its mean point."""
    corners = points[cells]  # (cells, corners, 3)
    corners = corners - corners.mean(axis=1, keepdims=True)
    volume = np.zeros(len(cells))
    for face in FACES[kind]:
        ring = [corners[:, i, :] for i in face]
        if len(ring) == 3:
            triangles = [ring]
        else:
            middle = sum(ring) / 4.0
            triangles = [(ring[i], ring[(i + 1) % 4], middle) for i in range(4)]
        for a, b, c in triangles:
            volume += np.einsum("ij,ij->i", a, np.cross(b, c)) / 6.0
    return volume


GMSH_SCRIPT = """Merge "{path}";
Plugin(AnalyseMeshQuality).JacobianDeterminant = 1;
Plugin(AnalyseMeshQuality).IGEMeasure = 0;
Plugin(AnalyseMeshQuality).ICNMeasure = 0;
Plugin(AnalyseMeshQuality).CreateView = 0;
Plugin(AnalyseMeshQuality).Run;
"""


def gmsh_jacobian(path):
    """None when gmsh is not installed, else (ok, note). gmsh loads the file
    and reports the smallest Jacobian determinant over all solid elements,
    which must be positive: a second, unrelated judge of the corner order."""
    gmsh = "/usr/bin/gmsh" if os.path.exists("/usr/bin/gmsh") else shutil.which("gmsh")
    if gmsh is None:
        return None
    if '"' in path:
        return False, "path contains a double quote"
    with tempfile.TemporaryDirectory() as folder:
        script = os.path.join(folder, "check.geo")
        with open(script, "w", encoding="utf-8") as out:
            out.write(GMSH_SCRIPT.format(path=os.path.abspath(path)))
        try:
            run = subprocess.run([gmsh, "-nopopup", "-0", script], capture_output=True, text=True,
                                 timeout=300, cwd=folder)
        except (OSError, subprocess.TimeoutExpired) as error:
            return False, str(error)
    text = run.stdout + run.stderr
    errors = [line.strip() for line in text.splitlines() if line.lstrip().startswith("Error")]
    if run.returncode != 0 or errors:
        return False, errors[0] if errors else f"exit status {run.returncode}"
    found = re.search(r"minJ\s*=\s*([-+0-9.eE]+)\s*,", text)
    if not found:
        return False, "no Jacobian report"
    smallest = float(found.group(1))
    return smallest > 0.0, f"min Jacobian {smallest:g}"


def solid_counts(mesh):
    return {kind: sum(len(block.data) for block in mesh.cells if block.type == kind)
            for kind in SOLID_KINDS}


def med_round_trip(path, mesh):
    """None when meshio cannot write MED here, else (ok, note)."""
    try:
        import meshio.med  # noqa: F401  (needs h5py)
        import h5py  # noqa: F401
    except ImportError:
        return None
    with tempfile.TemporaryDirectory() as folder:
        med = os.path.join(folder, os.path.splitext(os.path.basename(path))[0] + ".med")
        try:
            meshio.write(med, meshio.read(path, file_format="vtu"))
            back = meshio.read(med)
        except Exception as error:  # the conversion itself is what is tested
            return False, f"{type(error).__name__}: {error}"
    same = solid_counts(back) == solid_counts(mesh) and len(back.points) == len(mesh.points)
    return same, "" if same else "other counts after the round trip"


def resave(path, prefix):
    """Writes the file again as meshio writes each variant; 0 on success."""
    mesh = meshio.read(path)
    bare = meshio.Mesh(mesh.points, [(block.type, block.data) for block in mesh.cells])
    meshio.write(prefix + ".ascii.vtu", mesh, file_format="vtu", binary=False)
    meshio.write(prefix + ".base64.vtu", mesh, file_format="vtu", binary=True, compression=None)
    meshio.write(prefix + ".zlib.vtu", mesh, file_format="vtu", binary=True, compression="zlib")
    meshio.write(prefix + ".bare.vtu", bare, file_format="vtu", binary=True, compression="zlib")
    # meshio's Gmsh writer wants every node's entity once there are several
    # cell types, and one entity per cell type: volume k + 1 for block k,
    # the nodes on volume 1.
    gmsh = meshio.Mesh(mesh.points, bare.cells,
                       point_data={"gmsh:dim_tags": np.tile([3, 1], (len(mesh.points), 1))},
                       cell_data={"gmsh:geometrical": [np.full(len(block.data), k + 1)
                                                       for k, block in enumerate(bare.cells)],
                                  "gmsh:physical": [np.full(len(block.data), 1)
                                                    for block in bare.cells]})
    meshio.write(prefix + ".ascii.msh", gmsh, file_format="gmsh", binary=False)
    meshio.write(prefix + ".binary.msh", gmsh, file_format="gmsh", binary=True)
    return 0


def check(path, use_gmsh, use_med=False):
    """Prints the summary line of one file; True when the file passes."""
    # Named, because .msh alone would first be tried as another format that
    # shares the extension, which prints its failure.
    file_format = {".msh": "gmsh", ".vtu": "vtu"}.get(os.path.splitext(path)[1].lower())
    try:
        mesh = meshio.read(path, file_format=file_format)
    except Exception as error:  # any reader failure is this file's failure
        print(f"{path}: unreadable: {type(error).__name__}: {error}")
        return False

    points = np.asarray(mesh.points, dtype=float)
    counts = {kind: 0 for kind in SOLID_KINDS}
    bad = 0
    for block in (block for block in mesh.cells if block.type in FACES):
        data = np.asarray(block.data)
        counts[block.type] += len(data)
        bad += int(np.count_nonzero(~(signed_volumes(points, data, block.type) > 0.0)))

    solid = sum(counts.values())
    fields = [f"nodes={len(points)}"] + [f"{kind}={counts[kind]}" for kind in SOLID_KINDS]
    ok = solid > 0 and bad == 0
    if solid == 0:
        fields.append("positive_volume=no (no solid cells)")
    elif bad:
        fields.append(f"positive_volume=no ({bad} of {solid} cells)")
    else:
        fields.append("positive_volume=yes")

    if use_med and path.lower().endswith(".vtu"):
        result = med_round_trip(path, mesh)
        if result is None:
            fields.append("med=missing")
        elif result[0]:
            fields.append("med=ok")
        else:
            fields.append(f"med=failed ({result[1]})")
            ok = False

    if use_gmsh and path.lower().endswith(".msh"):
        result = gmsh_jacobian(path)
        if result is None:
            fields.append("gmsh=missing")
        elif result[0]:
            fields.append(f"gmsh=ok ({result[1]})")
        else:
            fields.append(f"gmsh=failed ({result[1]})")
            ok = False

    print(f"{path}: " + " ".join(fields))
    return ok


def main(argv):
    if argv[:1] == ["--resave"]:
        if len(argv) != 3:
            print(__doc__.strip().splitlines()[3], file=sys.stderr)
            return 2
        return resave(argv[1], argv[2])
    use_gmsh = "--gmsh" in argv
    use_med = "--med" in argv
    paths = [arg for arg in argv if arg not in ("--gmsh", "--med")]
    if not paths:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    results = [check(path, use_gmsh, use_med) for path in paths]
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
