#!/usr/bin/python3
"""Reads an OpenFOAM case's polyMesh as OpenFOAM lays it out, without OpenFOAM, and checks it.

usage: read_foam_case.py CASE [--dump NAME.mesh.json] [--scale FACTOR] [--format ascii|binary] [--flat-ends yes]

Prints one line: the counts, then "ok" or the faults found. Exit status 0 when the case is
ok, 1 otherwise, 2 on a wrong command line.

Checked: every file's FoamFile header (class, format, arch); the list sizes agree with each
other and with the owner file's note; internal faces come first in upper-triangular order
(owner, then neighbour, rising) with owner < neighbour; the patches are runs of the faces
after the internal ones, end to end; every point is used and every cell has faces; each cell
is closed (its outward area vectors add up to nothing); every face points out of its owner
(the pyramid from the owner's centre over the face, and each cell's volume, are positive);
"wall" is of type wall and every other patch of type patch; with --flat-ends, each other
patch is flat, as the end sections of runners are. With --dump, the tool's .mesh.json beside the case: the same points
scaled by FACTOR (default 1), one cell per element, the faces per patch and the cells per
region of a system dump (names as the case spells them), one zone of every cell for a
junction.
"""

import json
import re
import sys

try:
    import numpy as np
except ImportError as error:
    print(f"numpy is not available: {error}", file=sys.stderr)
    sys.exit(2)


class CaseError(Exception):
    pass


def foam_word(name):
    """A region or patch name as the writer spells it in OpenFOAM."""
    word = re.sub(r"[^A-Za-z0-9_.-]", "_", name)
    return word if re.match(r"[A-Za-z_]", word) else "_" + word


class FoamFile:
    """One file: its FoamFile header and the bytes after it, read from left to right."""

    def __init__(self, path):
        with open(path, "rb") as handle:
            data = handle.read()
        start = data.find(b"FoamFile")
        if start < 0:
            raise CaseError(f"{path}: no FoamFile header")
        end = data.index(b"}", start)
        self.header = dict(re.findall(rb'(\w+)\s+("[^"]*"|[^;]*);', data[start:end]))
        self.header = {k.decode(): v.decode().strip('"') for k, v in self.header.items()}
        self.path, self.data, self.pos = path, data, end + 1
        self.binary = self.header.get("format") == "binary"

    def skip(self):
        """Past white space and comments, which only ever stand between tokens."""
        while True:
            while self.pos < len(self.data) and self.data[self.pos:self.pos + 1].isspace():
                self.pos += 1
            if self.data.startswith(b"//", self.pos):
                self.pos = self.data.index(b"\n", self.pos)
            elif self.data.startswith(b"/*", self.pos):
                self.pos = self.data.index(b"*/", self.pos) + 2
            else:
                return

    def token(self):
        self.skip()
        match = re.compile(rb"[^\s(){};]+|[(){};]").match(self.data, self.pos)
        if not match:
            raise CaseError(f"{self.path}: expected a token at byte {self.pos}")
        self.pos = match.end()
        return match.group().decode()

    def expect(self, text):
        got = self.token()
        if got != text:
            raise CaseError(f"{self.path}: expected {text!r} at byte {self.pos}, got {got!r}")

    def raw(self, count, dtype):
        """count values of dtype in parentheses, stored raw right after the '('."""
        self.skip()
        if self.data[self.pos:self.pos + 1] != b"(":
            raise CaseError(f"{self.path}: expected '(' before binary data")
        size = count * np.dtype(dtype).itemsize
        values = np.frombuffer(self.data, dtype=dtype, count=count, offset=self.pos + 1)
        self.pos += 1 + size
        self.expect(")")
        return values

    def labels(self):
        count = int(self.token())
        if self.binary:
            return self.raw(count, "<i4").astype(np.int64)
        self.expect("(")
        values = [int(self.token()) for _ in range(count)]
        self.expect(")")
        return np.array(values, dtype=np.int64)

    def points(self):
        count = int(self.token())
        if self.binary:
            return self.raw(3 * count, "<f8").reshape(count, 3)
        self.expect("(")
        values = []
        for _ in range(count):
            self.expect("(")
            values.append([float(self.token()) for _ in range(3)])
            self.expect(")")
        self.expect(")")
        return np.array(values, dtype=float).reshape(count, 3)

    def faces(self):
        """Faces as (offsets, corner labels), from a faceCompactList or a faceList."""
        if self.header.get("class") == "faceCompactList":
            return self.labels(), self.labels()
        count = int(self.token())
        self.expect("(")
        offsets, corners = [0], []
        for _ in range(count):
            size = int(self.token())
            self.expect("(")
            corners += [int(self.token()) for _ in range(size)]
            self.expect(")")
            offsets.append(len(corners))
        self.expect(")")
        return np.array(offsets), np.array(corners)

    def dictionaries(self, read_entry):
        """A list of named dictionaries, as boundary and cellZones hold them."""
        count = int(self.token())
        self.expect("(")
        entries = []
        for _ in range(count):
            name = self.token()
            self.expect("{")
            entry = {}
            while True:
                key = self.token()
                if key == "}":
                    break
                entry[key] = read_entry(self, key)
            entries.append((name, entry))
        self.expect(")")
        return entries


def read_value(f, key):
    """A simple entry up to its ';', or a list of labels (cellLabels List<label> N(...);)."""
    if key == "cellLabels":
        f.skip()
        if f.data.startswith(b"List<label>", f.pos):
            f.pos += len(b"List<label>")
        values = f.labels()
        f.expect(";")
        return values
    words = []
    while True:
        token = f.token()
        if token == ";":
            return " ".join(words)
        words.append(token)


def read_case(case):
    folder = f"{case}/constant/polyMesh"
    files = {name: FoamFile(f"{folder}/{name}")
             for name in ("points", "faces", "owner", "neighbour", "boundary", "cellZones")}
    return files, {
        "points": files["points"].points(),
        "faces": files["faces"].faces(),
        "owner": files["owner"].labels(),
        "neighbour": files["neighbour"].labels(),
        "boundary": files["boundary"].dictionaries(read_value),
        "zones": files["cellZones"].dictionaries(read_value),
    }


def check_headers(files, fmt, faults):
    classes = {"points": "vectorField", "owner": "labelList", "neighbour": "labelList",
               "boundary": "polyBoundaryMesh", "cellZones": "regIOobject",
               "faces": "faceCompactList" if files["faces"].binary else "faceList"}
    for name, f in files.items():
        if f.header.get("class") != classes[name] or f.header.get("object") != name:
            faults.append(f"{name}: class {f.header.get('class')}, object {f.header.get('object')}")
        if fmt and f.header.get("format") != fmt:
            faults.append(f"{name}: format {f.header.get('format')}, not {fmt}")
        if f.binary and f.header.get("arch") != "LSB;label=32;scalar=64":
            faults.append(f"{name}: arch {f.header.get('arch')}")


def check_topology(mesh, note, faults):
    """Sizes, order and addressing; returns the cell count."""
    offsets, corners = mesh["faces"]
    owner, neighbour, points = mesh["owner"], mesh["neighbour"], mesh["points"]
    faces, internal = len(offsets) - 1, len(neighbour)
    cells = int(owner.max()) + 1 if len(owner) else 0
    if len(owner) != faces or internal > faces:
        faults.append(f"{faces} faces, {len(owner)} owners, {internal} neighbours")
        return cells
    want = f"nPoints:{len(points)}  nCells:{cells}  nFaces:{faces}  nInternalFaces:{internal}"
    if note != want:
        faults.append(f"owner note {note!r}, not {want!r}")
    if np.any(owner[:internal] >= neighbour):
        faults.append("an internal face's owner is not below its neighbour")
    pairs = owner[:internal] * (cells + 1) + neighbour
    if np.any(np.diff(pairs) < 0):
        faults.append("internal faces out of upper-triangular order")
    if internal and neighbour.max() >= cells:
        faults.append("a neighbour above every owner")
    used = np.zeros(len(points), dtype=bool)
    used[corners] = True
    if not used.all() or corners.min() < 0:
        faults.append(f"{np.count_nonzero(~used)} points unused")
    if len(np.unique(np.concatenate([owner, neighbour]))) != cells:
        faults.append("a cell without faces")
    start = internal
    for name, patch in mesh["boundary"]:
        if int(patch["startFace"]) != start:
            faults.append(f"patch {name} starts at {patch['startFace']}, not {start}")
        start = int(patch["startFace"]) + int(patch["nFaces"])
        want_type = "wall" if name == "wall" else "patch"
        if patch["type"] != want_type:
            faults.append(f"patch {name} of type {patch['type']}, not {want_type}")
    if start != faces:
        faults.append(f"the patches end at face {start}, not {faces}")
    return cells


def face_vectors(mesh):
    """Each face's centre and area vector (right-hand normal), from triangles about its mean."""
    offsets, corners = mesh["faces"]
    points = mesh["points"]
    sizes = np.diff(offsets)
    centres, areas = np.zeros((len(sizes), 3)), np.zeros((len(sizes), 3))
    for size in np.unique(sizes):
        which = np.nonzero(sizes == size)[0]
        ring = points[corners[offsets[which][:, None] + np.arange(size)]]
        middle = ring.mean(axis=1)
        area = sum(np.cross(ring[:, k] - middle, ring[:, (k + 1) % size] - middle) for k in range(size)) / 2
        centres[which], areas[which] = middle, area
    return centres, areas


def check_geometry(mesh, cells, flat_ends, faults):
    owner, neighbour = mesh["owner"], mesh["neighbour"]
    internal = len(neighbour)
    centres, areas = face_vectors(mesh)
    # Out of the owner, into the neighbour.
    sides = [(owner, 1.0, slice(None)), (neighbour, -1.0, slice(0, internal))]
    closure, magnitude, volume = np.zeros((cells, 3)), np.zeros(cells), np.zeros(cells)
    count, centre = np.zeros(cells), np.zeros((cells, 3))
    for cell, sign, part in sides:
        np.add.at(closure, cell, sign * areas[part])
        np.add.at(magnitude, cell, np.linalg.norm(areas[part], axis=1))
        np.add.at(volume, cell, sign * np.einsum("ij,ij->i", centres[part], areas[part]) / 3.0)
        np.add.at(centre, cell, centres[part])
        np.add.at(count, cell, 1)
    centre /= count[:, None]
    open_cells = np.linalg.norm(closure, axis=1) > 1e-9 * magnitude
    if open_cells.any():
        faults.append(f"{np.count_nonzero(open_cells)} cells not closed")
    if not np.all(volume > 0):
        faults.append(f"{np.count_nonzero(~(volume > 0))} cells of volume not above 0")
    for cell, sign, part in sides:
        pyramid = sign * np.einsum("ij,ij->i", centres[part] - centre[cell], areas[part])
        if not np.all(pyramid > 0):
            faults.append(f"{np.count_nonzero(~(pyramid > 0))} faces not pointing out of their "
                          + ("owner" if sign > 0 else "neighbour's other side"))
    for name, patch in mesh["boundary"]:
        if name == "wall" or not flat_ends:
            continue
        part = slice(int(patch["startFace"]), int(patch["startFace"]) + int(patch["nFaces"]))
        normal = areas[part].sum(axis=0)
        normal /= np.linalg.norm(normal)
        offsets, corners = mesh["faces"]
        nodes = np.unique(corners[offsets[part.start]:offsets[part.stop]])
        height = (mesh["points"][nodes] - centres[part].mean(axis=0)) @ normal
        size = np.ptp(mesh["points"][nodes], axis=0).max()
        if np.abs(height).max() > 1e-9 * size:
            faults.append(f"end {name} is not flat ({np.abs(height).max():.3g} off its plane)")
    return float(volume.sum())


def check_dump(mesh, cells, dump_path, scale, faults):
    with open(dump_path, encoding="utf-8") as text:
        dump = json.load(text)
    nodes = np.array(dump["nodes"], dtype=float) * scale
    if nodes.shape != mesh["points"].shape or np.abs(nodes - mesh["points"]).max() > 1e-12 * np.abs(nodes).max():
        faults.append(f"the points are not the dump's {len(nodes)} nodes scaled by {scale}")
    if cells != len(dump["elements"]):
        faults.append(f"{cells} cells, the dump has {len(dump['elements'])} elements")
    faces = {name: int(p["nFaces"]) for name, p in mesh["boundary"]}
    zones = {name: len(z["cellLabels"]) for name, z in mesh["zones"]}
    if dump.get("kind") == "system":
        want_faces = {foam_word(name): len(f) for name, f in dump["patches"].items()}
        regions = dump["element_regions"]
        want_zones = {foam_word(name): regions.count(i) for i, name in enumerate(dump["regions"])}
    else:
        runners = len(dump["far_nodes"]) if dump["kind"] == "nway" else 2
        want_faces = {name: faces.get(name, 0) for name in ["wall"] + [f"end-{i}" for i in range(runners)]}
        want_zones = {"junction" if dump["kind"] == "nway" else "bend": len(dump["elements"])}
        if 0 in want_faces.values():
            faults.append("a junction patch without faces")
    if faces != want_faces:
        faults.append(f"patch faces {faces}, not {want_faces}")
    if zones != want_zones:
        faults.append(f"zone cells {zones}, not {want_zones}")
    for name, zone in mesh["zones"]:
        if len(zone["cellLabels"]) and (np.any(np.diff(zone["cellLabels"]) <= 0) or zone["cellLabels"].max() >= cells):
            faults.append(f"zone {name} lists cells out of order or out of range")


def main(argv):
    if not argv or argv[0].startswith("-"):
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    case, options = argv[0], dict(zip(argv[1::2], argv[2::2]))
    faults = []
    try:
        files, mesh = read_case(case)
    except (CaseError, OSError, ValueError, IndexError) as error:
        print(f"{case}: unreadable: {type(error).__name__}: {error}")
        return 1
    check_headers(files, options.get("--format"), faults)
    cells = check_topology(mesh, files["owner"].header.get("note"), faults)
    volume = check_geometry(mesh, cells, options.get("--flat-ends") == "yes", faults) if not faults else 0.0
    if "--dump" in options:
        check_dump(mesh, cells, options["--dump"], float(options.get("--scale", 1)), faults)
    print(f"{case}: points={len(mesh['points'])} faces={len(mesh['owner'])} internal={len(mesh['neighbour'])} "
          f"cells={cells} patches={len(mesh['boundary'])} zones={len(mesh['zones'])} volume={volume:.6g}"
          + ("; " + "; ".join(faults) if faults else " ok"))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
