#!/usr/bin/python3
"""Reads the files of a meshed runner system with readers independent of vela-mesh.

usage: read_system_with_meshio.py NAME.vtu NAME.msh

Prints one line per reader, groups in the order of their numbers (regions and
patches by index, physical groups volume first, then by tag):
    vtu volume: nodes=N <region>=count ...          (meshio, cell data "region")
    vtu patches: nodes=N <patch>=count ...          (meshio, NAME.patches.vtu, cell data "patch")
    msh meshio: nodes=N <group>=count ...           (meshio's cell sets of the physical groups)
    msh gmsh: <group>=count ...                     (gmsh re-saves the file; "missing" when
                                                     gmsh is not installed)
    closed_outward=yes|no (...)
The last line compares the volume enclosed by the patch faces (divergence
theorem) with the summed volume of the cells: equal and positive only when the
patches close the volume with every face wound outward and every cell positive.

Exit status: 0 when every reader read its file and the last line says yes;
1 otherwise; 2 when meshio is missing or the arguments are wrong.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
# Exits with status 2 when meshio is missing; its volumes take each reader's own corner order.
from read_with_meshio import FACES, meshio, np, signed_volumes  # noqa: E402

SOLID_KINDS = tuple(FACES)
FACE_KINDS = ("triangle", "quad")
# Dimension of the Gmsh element types a system file uses.
GMSH_DIMENSION = {2: 2, 3: 2, 4: 3, 5: 3, 6: 3, 7: 3}


def names_by_index(field_data):
    """The names of the field data (one integer array per name) in index order."""
    return [name for name, _ in sorted(field_data.items(), key=lambda item: int(item[1][0]))]


def counts_by_cell_data(mesh, key, kinds):
    """Cells of the given kinds per value of the cell data key, named by the field data."""
    names = names_by_index(mesh.field_data)
    counts = [0] * len(names)
    for block, values in zip(mesh.cells, mesh.cell_data[key]):
        if block.type in kinds:
            for value in values:
                counts[int(value)] += 1
    return " ".join(f"{name}={count}" for name, count in zip(names, counts))


def enclosed_volume(mesh):
    """Volume enclosed by the faces, each triangle or quad (split about its mean point)
    taken with an apex off every face's plane, so that no turned face goes unseen;
    outward faces give a positive volume."""
    total = 0.0
    points = np.asarray(mesh.points, dtype=float)
    low, high = points.min(axis=0), points.max(axis=0)
    points = points - (high + np.array([0.37, 0.61, 0.83]) * np.linalg.norm(high - low))
    for block in (b for b in mesh.cells if b.type in FACE_KINDS):
        ring = [points[np.asarray(block.data)[:, i]] for i in range(block.data.shape[1])]
        if len(ring) == 3:
            triangles = [ring]
        else:
            middle = sum(ring) / 4.0
            triangles = [(ring[i], ring[(i + 1) % 4], middle) for i in range(4)]
        for a, b, c in triangles:
            total += float(np.sum(np.einsum("ij,ij->i", a, np.cross(b, c)))) / 6.0
    return total


def cell_volumes(mesh):
    points = np.asarray(mesh.points, dtype=float)
    return np.concatenate([signed_volumes(points, np.asarray(b.data), b.type)
                           for b in mesh.cells if b.type in SOLID_KINDS])


def read_vtu_pair(path):
    volume = meshio.read(path, file_format="vtu")
    patches_path = os.path.splitext(path)[0] + ".patches.vtu"
    patches = meshio.read(patches_path, file_format="vtu")
    print(f"vtu volume: nodes={len(volume.points)} "
          + counts_by_cell_data(volume, "region", SOLID_KINDS))
    print(f"vtu patches: nodes={len(patches.points)} "
          + counts_by_cell_data(patches, "patch", FACE_KINDS))
    cells = cell_volumes(volume)
    # The patches file holds the volume's nodes under the same numbers.
    closed = enclosed_volume(meshio.Mesh(volume.points, patches.cells))
    ok = bool(np.all(cells > 0.0)) and abs(closed - cells.sum()) <= 1e-9 * abs(cells.sum())
    return ok, f"enclosed {closed:.12g}, cells {cells.sum():.12g}"


def read_msh(path):
    mesh = meshio.read(path, file_format="gmsh")
    # field_data: name -> [tag, dimension]; volume first, then patches by tag.
    groups = sorted(mesh.field_data.items(), key=lambda item: (-int(item[1][1]), int(item[1][0])))
    counts = [f"{name}={sum(len(ids) for ids in mesh.cell_sets[name])}" for name, _ in groups]
    print(f"msh meshio: nodes={len(mesh.points)} " + " ".join(counts))


def parse_msh22_groups(text):
    """Elements per physical group of a Gmsh 2.2 ASCII file, volume first, then by tag."""
    block = text.split("$PhysicalNames\n", 1)[1].split("$EndPhysicalNames", 1)[0].splitlines()
    names = {}
    for line in block[1:]:
        dim, tag, name = line.split(" ", 2)
        names[(int(dim), int(tag))] = name.strip('"')
    counts = {key: 0 for key in names}
    lines = text.split("$Elements\n", 1)[1].split("$EndElements", 1)[0].splitlines()
    for line in lines[1:]:
        fields = [int(v) for v in line.split()]
        key = (GMSH_DIMENSION.get(fields[1], -1), fields[3])  # the first tag is the physical group
        counts[key] = counts.get(key, 0) + 1
    order = sorted(counts, key=lambda key: (-key[0], key[1]))
    return " ".join(f"{names.get(key, key)}={counts[key]}" for key in order)


def read_msh_with_gmsh(path):
    """gmsh loads the file and saves it again as version 2.2, where every element
    carries its physical group: the groups as gmsh understood them."""
    gmsh = "/usr/bin/gmsh" if os.path.exists("/usr/bin/gmsh") else shutil.which("gmsh")
    if gmsh is None:
        print("msh gmsh: missing")
        return True
    with tempfile.TemporaryDirectory() as folder:
        out = os.path.join(folder, "resaved.msh")
        run = subprocess.run([gmsh, "-nopopup", os.path.abspath(path), "-0", "-o", out,
                              "-format", "msh22"], capture_output=True, text=True, timeout=300,
                             cwd=folder)
        errors = [line for line in (run.stdout + run.stderr).splitlines()
                  if re.match(r"\s*Error", line)]
        if run.returncode != 0 or errors or not os.path.exists(out):
            print(f"msh gmsh: failed ({errors[0] if errors else run.returncode})")
            return False
        with open(out, encoding="utf-8") as saved:
            print("msh gmsh: " + parse_msh22_groups(saved.read()))
    return True


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    try:
        closed, note = read_vtu_pair(argv[0])
        read_msh(argv[1])
    except Exception as error:  # any reader failure is a failure of the files
        print(f"unreadable: {type(error).__name__}: {error}")
        return 1
    gmsh_ok = read_msh_with_gmsh(argv[1])
    print(f"closed_outward={'yes' if closed else 'no'} ({note})")
    return 0 if closed and gmsh_ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
