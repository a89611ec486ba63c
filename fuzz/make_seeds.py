#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into fuzz/corpus/<target>/.

    python3 fuzz/make_seeds.py --vela-mesh build/tools/cli/vela-mesh

The junction-call seeds are programs in the byte encoding of ByteReader.h and
the operations of fuzz_junction_calls.cpp; the encoder below must follow both.
Seeds whose name starts with "mesh-" must mesh at least one junction (a test
checks it). The mesh-file seeds start from two small junctions meshed by
vela-mesh, cut short at several places, plus hand-made files of one element of
each kind and one fault each. The junction-file seeds are examples/*.json and
variants with one fault each.

Seeds that crash the library as it is go to fuzz/findings/ instead (by hand),
so that the corpus always replays clean.
"""

import argparse
import json
import math
import os
import shutil
import struct
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

# --- the byte encoding of ByteReader.h --------------------------------------------------------

# Indices into kSpecialDoubles / kSpecialInts.
SPECIAL_DOUBLE = {"nan": 8, "inf": 9, "-inf": 10, "dbl_max": 11, "flt_max": 13,
                  "over_float": 14, "denorm": 16, "tiny": 17, "1e30": 18, "-0": 1,
                  "1e15": 30}
SPECIAL_INT = {"INT_MIN": 12, "INT_MAX": 13, "100000": 16, "2^20": 17, "2^30": 18,
               "46341": 23}


def d(value):
    """A double: a special by name, a quarter step in two bytes, else float32 or float64."""
    if isinstance(value, str):
        return bytes([SPECIAL_DOUBLE[value] << 2])
    quarters = value * 4
    if quarters == int(quarters) and -128 <= quarters <= 127:
        return bytes([1, int(quarters) & 0xFF])
    if struct.unpack("<f", struct.pack("<f", value))[0] == value:
        return bytes([2]) + struct.pack("<f", value)
    return bytes([3]) + struct.pack("<d", value)


def i(value):
    """An int: a special by name, 0..63 in one byte, else int8 or int32."""
    if isinstance(value, str):
        return bytes([SPECIAL_INT[value] << 2])
    if 0 <= value <= 63:
        return bytes([(value << 2) | 1])
    if -128 <= value <= 127:
        return bytes([3, value & 0xFF])
    return bytes([2]) + struct.pack("<i", value)


def count(n):
    return bytes([n])


# The operations of fuzz_junction_calls.cpp.
SET_FIRST_RING, SET_LAYERS, SET_RATIO, JUNCTION, NCONNECT, NCONNECT_NO_MESH, TWO_CONNECT, \
    LENGTH_ARRAYS, LENGTH_LISTS, HUGE = range(10)

NULL_FAR, NULL_RADII, NULL_MESH, NULL_FAR_NODES = 1, 2, 4, 8


def op_first_ring(n):
    return bytes([SET_FIRST_RING]) + i(n)


def op_layers(inner, outer, nulls=0):
    out = bytes([SET_LAYERS, 0xA0 | nulls if nulls else 0]) + count(len(inner))
    out += b"".join(d(v) for v in inner) + count(len(outer))
    return out + b"".join(d(v) for v in outer)


def op_ratio(r):
    return bytes([SET_RATIO]) + d(r)


def op_junction(far, radii, center=(0, 0, 0), shares=(0.8, 0.2), nulls=0):
    flags = 0xA0 | nulls if nulls else 0
    out = bytes([JUNCTION, flags]) + b"".join(d(v) for v in center)
    out += count(len(far)) + b"".join(d(v) for p in far for v in p)
    out += count(len(radii)) + b"".join(d(v) for v in radii)
    return out + d(shares[0]) + d(shares[1])


def op_lengths_arrays(a, b):
    return bytes([LENGTH_ARRAYS]) + i(a) + i(b)


def op_lengths_lists(a, b, out_size, per_runner=True):
    return bytes([LENGTH_LISTS]) + i(a) + i(b) + count(out_size) + bytes([1 if per_runner else 0])


def op_huge(choice, extra=0, layers=False):
    return bytes([HUGE, choice, extra, 1 if layers else 0])


NCONNECT_BOTH = bytes([NCONNECT, NCONNECT_NO_MESH])
DEFAULT_LAYERS = op_layers([0, 0.25, 0.5, 0.75, 1], [0, 0.5, 1])


def example(name):
    with open(os.path.join(ROOT, "examples", name + ".json")) as f:
        j = json.load(f)
    shares = (j.get("inner_share", 0.8), j.get("outer_share", 0.2))
    layers = op_layers(j.get("inner_layers", [0, 0.25, 0.5, 0.75, 1]),
                       j.get("outer_layers", [0, 0.5, 1]))
    ring = op_first_ring(j.get("first_circle_nodes", 8))
    return ring + layers + op_junction(j["far_points"], j["radii"], j["center"], shares)


def polar(degrees, distance=20):
    """A far point in the xy-plane at the given angle, rounded to float."""
    a = math.radians(degrees)
    return [struct.unpack("<f", struct.pack("<f", distance * f(a)))[0] for f in (math.cos, math.sin)] + [0]


Y = [[0, 20, 0], [-17.320508, -10, 0], [17.320508, -10, 0]]
R3 = [2] * 6
BEND = [[20, 0, 0], [0, 20, 0]]
R2 = [2] * 4


def call_seeds():
    seeds = {}
    for name in ["y", "tee", "x", "leaving-plane", "tapered", "boundary-layers"]:
        seeds["mesh-" + name] = example(name) + NCONNECT_BOTH + op_lengths_arrays(5, 1) + \
            op_lengths_lists(5, 1, 10)
    seeds["mesh-bend-90"] = example("bend-90") + bytes([TWO_CONNECT]) + op_lengths_arrays(5, 1)
    seeds["mesh-y-small-ring"] = op_first_ring(4) + op_layers([0, 1], [0, 1]) + \
        op_junction(Y, R3) + NCONNECT_BOTH
    seeds["mesh-bend-small-ring"] = op_first_ring(6) + op_layers([0, 0.5, 1], [0, 1]) + \
        op_junction(BEND, R2) + bytes([TWO_CONNECT])
    # One mapper, several junctions: settings and stored inputs carry over.
    seeds["mesh-reuse"] = example("y") + NCONNECT_BOTH + op_junction(BEND, R2) + \
        bytes([TWO_CONNECT, NCONNECT]) + op_junction(Y, R3, center=(5, 5, 5)) + NCONNECT_BOTH
    seeds["mesh-y-offset"] = DEFAULT_LAYERS + op_junction(
        [[p[0] + 1000.25, p[1] - 500, p[2] + 3] for p in Y], R3,
        center=(1000.25, -500, 3)) + NCONNECT_BOTH
    seeds["mesh-five-way"] = DEFAULT_LAYERS + op_junction(
        [[20, 0, 0], [6.18, 19.02, 0], [-16.18, 11.76, 0], [-16.18, -11.76, 0], [6.18, -19.02, 0]],
        [2] * 10) + NCONNECT_BOTH

    # Refusals: each should come back false with its reason.
    seeds["refuse-shares"] = DEFAULT_LAYERS + op_junction(Y, R3, shares=(0.7, 0.2)) + NCONNECT_BOTH
    seeds["refuse-share-ratio"] = DEFAULT_LAYERS + op_junction(Y, R3, shares=(1.2, -0.2)) + \
        NCONNECT_BOTH
    seeds["refuse-nan-center"] = DEFAULT_LAYERS + op_junction(Y, R3, center=("nan", 0, 0)) + \
        NCONNECT_BOTH
    seeds["refuse-inf-radius"] = DEFAULT_LAYERS + op_junction(Y, [2, "inf", 2, 2, 2, 2]) + \
        NCONNECT_BOTH
    seeds["refuse-negative-radius"] = DEFAULT_LAYERS + op_junction(Y, [2, -2, 2, 2, 2, 2]) + \
        NCONNECT_BOTH
    seeds["refuse-zero-radius"] = DEFAULT_LAYERS + op_junction(BEND, [2, 0, 2, 2]) + \
        bytes([TWO_CONNECT])
    seeds["refuse-short-radii"] = DEFAULT_LAYERS + op_junction(Y, [2] * 5) + NCONNECT_BOTH
    seeds["refuse-two-runners"] = DEFAULT_LAYERS + op_junction(BEND, R2) + NCONNECT_BOTH
    seeds["refuse-three-for-bend"] = DEFAULT_LAYERS + op_junction(Y, R3) + bytes([TWO_CONNECT])
    seeds["refuse-collinear"] = DEFAULT_LAYERS + op_junction(
        [[20, 0, 0], [-20, 0, 0], [10, 0, 0]], R3) + NCONNECT_BOTH
    seeds["refuse-far-at-center"] = DEFAULT_LAYERS + op_junction(
        [[0, 0, 0], Y[1], Y[2]], R3) + NCONNECT_BOTH
    seeds["refuse-layers-not-set"] = op_junction(Y, R3) + NCONNECT_BOTH
    seeds["refuse-layers-unsorted"] = op_layers([0, 0.75, 0.25, 1], [0, 1]) + \
        op_junction(Y, R3) + NCONNECT_BOTH
    seeds["refuse-layers-nan"] = op_layers([0, "nan", 1], []) + op_junction(Y, R3) + \
        NCONNECT_BOTH
    seeds["refuse-no-inner-ring"] = op_layers([0], [0, 1]) + op_junction(Y, R3) + NCONNECT_BOTH
    seeds["refuse-empty-inner"] = op_layers([], []) + op_junction(BEND, R2) + bytes([TWO_CONNECT])
    seeds["refuse-first-ring-2"] = op_first_ring(2) + DEFAULT_LAYERS + op_junction(Y, R3) + \
        NCONNECT_BOTH
    seeds["refuse-odd-ring-bend"] = op_first_ring(7) + DEFAULT_LAYERS + op_junction(BEND, R2) + \
        bytes([TWO_CONNECT])
    seeds["refuse-bend-straight"] = DEFAULT_LAYERS + op_junction([[20, 0, 0], [-20, 0.5, 0]], R2) + \
        bytes([TWO_CONNECT])
    seeds["refuse-bend-folded"] = DEFAULT_LAYERS + op_junction([[20, 0, 0], [20, 2, 0]], R2) + \
        bytes([TWO_CONNECT])
    seeds["refuse-neighbours-close"] = DEFAULT_LAYERS + op_junction(
        [polar(0), polar(20), polar(180), polar(270)], [5] * 8) + NCONNECT_BOTH
    seeds["mesh-wide-neighbours"] = DEFAULT_LAYERS + op_junction(
        [polar(0), polar(60), polar(180), polar(270)], [2] * 8) + NCONNECT_BOTH
    seeds["refuse-radius-ratio"] = DEFAULT_LAYERS + op_junction(Y, [2, 2, 1e-4, 1e-4, 2, 2]) + \
        NCONNECT_BOTH
    seeds["refuse-magnitude"] = DEFAULT_LAYERS + op_junction(
        [[v * 1e30 for v in p] for p in Y], R3) + NCONNECT_BOTH
    seeds["refuse-over-float"] = DEFAULT_LAYERS + op_junction(
        [["over_float", 0, 0], Y[1], Y[2]], R3) + NCONNECT_BOTH
    seeds["refuse-steep"] = DEFAULT_LAYERS + op_junction(
        [[20, 0, 0], [0, 20, 0], [-1, -1, 20]], R3) + NCONNECT_BOTH
    seeds["refuse-null-mesh"] = DEFAULT_LAYERS + op_junction(Y, R3, nulls=NULL_MESH) + \
        bytes([NCONNECT]) + op_junction(BEND, R2, nulls=NULL_MESH) + bytes([TWO_CONNECT])

    # Null pointers and sizes past an int: refused, never dereferenced or allocated.
    seeds["null-far-list"] = DEFAULT_LAYERS + op_junction(Y, R3, nulls=NULL_FAR) + NCONNECT_BOTH
    seeds["null-radii"] = DEFAULT_LAYERS + op_junction(Y, R3, nulls=NULL_RADII) + NCONNECT_BOTH
    seeds["null-far-nodes"] = DEFAULT_LAYERS + op_junction(Y, R3, nulls=NULL_FAR_NODES) + \
        NCONNECT_BOTH
    seeds["null-lists-bend"] = DEFAULT_LAYERS + op_junction(BEND, R2, nulls=NULL_FAR | NULL_RADII) + \
        bytes([TWO_CONNECT])
    seeds["huge-nway"] = op_huge(3, 0, True) + op_junction(Y, R3) + NCONNECT_BOTH
    seeds["huge-nway-ring-46342"] = op_huge(4) + op_junction(Y, R3) + NCONNECT_BOTH
    seeds["huge-nway-ring-2^20"] = op_huge(1, 2) + op_junction(Y, R3) + NCONNECT_BOTH
    seeds["length-int-min-by-minus-one"] = op_junction(Y, R3) + op_lengths_arrays("INT_MIN", -1)
    seeds["length-lists-int-min-by-minus-one"] = op_junction(Y, R3) + \
        op_lengths_lists("INT_MIN", -1, 3)

    # Setters, exceptions and RunnerLength.
    seeds["setters"] = op_first_ring(-1) + op_first_ring("INT_MIN") + op_ratio("nan") + \
        op_ratio(0) + op_ratio(1) + op_ratio(1.5) + op_layers([0, 1], [0, 1], nulls=3) + \
        op_layers([0, 1], [], nulls=1) + op_first_ring(12) + DEFAULT_LAYERS + \
        op_junction(Y, R3) + NCONNECT_BOTH
    seeds["throw-empty-far-list"] = DEFAULT_LAYERS + op_junction([], R3) + NCONNECT_BOTH + \
        bytes([TWO_CONNECT])
    seeds["lengths"] = op_junction(Y, R3) + op_lengths_arrays(5, 1) + op_lengths_arrays(1, 0) + \
        op_lengths_arrays(0, 5) + op_lengths_arrays(-5, 1) + op_lengths_lists(5, 1, 3) + \
        op_lengths_lists(5, 0, 3) + op_lengths_lists(5, 1, 2) + op_lengths_lists(5, 1, 3, False)
    seeds["lengths-extreme"] = op_junction(Y, R3) + op_lengths_arrays("INT_MAX", 1) + \
        op_lengths_arrays("INT_MIN", 1) + op_lengths_arrays(1, "INT_MAX") + \
        op_lengths_arrays(-1, "INT_MIN") + op_lengths_lists("INT_MAX", -1, 3)
    seeds["lengths-one-runner"] = op_junction([[20, 0, 0]], [2, 2]) + op_lengths_arrays(5, 1) + \
        op_lengths_lists(5, 1, 1)
    seeds["lengths-no-runner"] = op_junction([], [2]) + op_lengths_arrays(5, 1) + \
        op_lengths_lists(5, 1, 0)
    seeds["lengths-nan"] = op_junction([["nan", 0, 0], [0, "inf", 0], [1, 1, 1]], [2, "nan", -1]) + \
        op_lengths_arrays(5, 1) + op_lengths_lists(5, 1, 3)
    # A bend whose section needs more nodes than an int numbers: once an int
    # overflow before the too-large guard.
    seeds["huge-bend"] = op_huge(0) + op_junction(BEND, R2) + bytes([TWO_CONNECT])
    seeds["huge-bend-ring-46342"] = op_huge(4) + op_junction(BEND, R2) + bytes([TWO_CONNECT])
    return seeds


# --- junction files ---------------------------------------------------------------------------

def junction_file_seeds():
    seeds = {}
    for name in sorted(os.listdir(os.path.join(ROOT, "examples"))):
        if name.endswith(".json"):
            with open(os.path.join(ROOT, "examples", name), "rb") as f:
                seeds["example-" + name[:-5]] = f.read()
    full = ('{"name":"all","center":[0,0,0],"far_points":[[20,0,0],[0,20,0],[-20,0,0]],'
            '"radii":[2,2,1.5,1.5,2,2],"inner_share":0.8,"outer_share":0.2,'
            '"first_circle_nodes":8,"inner_layers":[0,0.25,0.5,0.75,1],'
            '"outer_layers":[0,0.5,1],"margin":[5,1]}')
    minimal = '{"center":[0,0,0],"far_points":[[20,0,0],[0,20,0]],"radii":[2,2,2,2]}'
    texts = {
        "all-keys": full,
        "minimal": minimal,
        "minimal-crlf-bom": "\ufeff" + minimal.replace(",", ",\r\n"),
        "empty": "",
        "whitespace": " \n\t ",
        "not-json": "center: [0, 0, 0]",
        "trailing-garbage": minimal + " x",
        "top-array": "[" + minimal + "]",
        "top-string": '"junction"',
        "unknown-key": minimal[:-1] + ',"colour":"red"}',
        "unknown-key-newline": minimal[:-1] + ',"a\\nb":1}',
        "missing-center": '{"far_points":[[20,0,0],[0,20,0]],"radii":[2,2,2,2]}',
        "one-far-point": '{"center":[0,0,0],"far_points":[[20,0,0]],"radii":[2,2]}',
        "radii-short": '{"center":[0,0,0],"far_points":[[20,0,0],[0,20,0]],"radii":[2,2,2]}',
        "radii-overflow": minimal.replace('"radii":[2,2,2,2]', '"radii":[2,1e400,2,2]'),
        "radii-nested-overflow": '{"center":[0,0,0],"far_points":[[20,0,0],[0,[1e999],0]],'
                                 '"radii":[2,2,2,2]}',
        "point-two-numbers": minimal.replace("[20,0,0]", "[20,0]"),
        "point-string": minimal.replace("[20,0,0]", '["20",0,0]'),
        "name-empty": '{"name":"",' + minimal[1:],
        "name-number": '{"name":7,' + minimal[1:],
        "name-unicode": '{"name":"T\\u00e9 \\ud83d\\ude00 \\u0000",' + minimal[1:],
        "margin-float": minimal[:-1] + ',"margin":[5.5,1]}',
        "margin-huge": minimal[:-1] + ',"margin":[5,99999999999999999999]}',
        "margin-int-min": minimal[:-1] + ',"margin":[-2147483648,-1]}',
        "margin-three": minimal[:-1] + ',"margin":[5,1,1]}',
        "first-ring-negative": minimal[:-1] + ',"first_circle_nodes":-9223372036854775808}',
        "first-ring-float": minimal[:-1] + ',"first_circle_nodes":8.0}',
        "layers-object": minimal[:-1] + ',"inner_layers":{"0":0}}',
        "layers-empty": minimal[:-1] + ',"inner_layers":[],"outer_layers":[]}',
        "shares-negative-zero": minimal[:-1] + ',"inner_share":-0.0,"outer_share":1e-320}',
        "duplicate-key": minimal[:-1] + ',"radii":[1,1,1,1]}',
        "nan-literal": minimal.replace("[20,0,0]", "[NaN,0,0]"),
        "comment": "// junction\n" + minimal,
        "deep-nesting": '{"center":' + "[" * 300 + "]" * 300 + "}",
        "truncated": full[: len(full) // 2],
    }
    for name, text in texts.items():
        seeds[name] = text.encode("utf-8")
    return seeds


# --- mesh files -------------------------------------------------------------------------------

SMALL_JUNCTIONS = {
    "y": {"name": "y", "center": [0, 0, 0], "far_points": Y, "radii": R3,
          "first_circle_nodes": 4, "inner_layers": [0, 1], "outer_layers": [0, 1]},
    "bend": {"name": "bend", "center": [0, 0, 0], "far_points": BEND, "radii": R2,
             "first_circle_nodes": 6, "inner_layers": [0, 1], "outer_layers": []},
}

# One element of each kind, in the library's corner order, on nodes 0..n-1.
ONE_ELEMENT = {
    "tetra": ([[0, 0, 0], [1, 0, 0], [0, 1, 0], [0, 0, 1]], [0, 1, 2, 3]),
    "pyramid": ([[0, 0, 0], [1, 0, 0], [1, 1, 0], [0, 1, 0], [0.5, 0.5, 1]], [0, 1, 2, 3, 4]),
    "prism": ([[0, 0, 0], [1, 0, 0], [0, 1, 0], [0, 0, 1], [1, 0, 1], [0, 1, 1]],
              [0, 1, 2, 3, 4, 5]),
    "hexa": ([[0, 0, 0], [1, 0, 0], [1, 1, 0], [0, 1, 0], [0, 0, 1], [1, 0, 1], [1, 1, 1],
              [0, 1, 1]], list(range(8))),
}
VTK_TYPE = {"tetra": 10, "pyramid": 14, "prism": 13, "hexa": 12}
GMSH_TYPE = {"tetra": 4, "pyramid": 7, "prism": 6, "hexa": 5}


def json_mesh(kind, nodes, elements, far=None):
    doc = {"ok": True, "kind": kind, "nodes": nodes,
           "elements": [{"type": t, "nodes": c} for t, c in elements]}
    if far is not None:
        doc["far_nodes"] = far
    return json.dumps(doc)


def vtu_mesh(kind, nodes, elements, far=None, cells_extra="", points_text=None):
    def wedge(t, c):
        return [c[0], c[2], c[1], c[3], c[5], c[4]] if t == "prism" else c
    conn = "\n".join(" ".join(str(n) for n in wedge(t, c)) for t, c in elements)
    offsets, end = [], 0
    for _, c in elements:
        end += len(c)
        offsets.append(str(end))
    far_text = ""
    if far:
        far_text = ('      <DataArray type="Float64" Name="far_nodes" NumberOfComponents="3" '
                    'NumberOfTuples="%d" format="ascii">\n%s\n      </DataArray>\n'
                    % (len(far), "\n".join(" ".join(map(str, p)) for p in far)))
    points = points_text if points_text is not None else \
        "\n".join(" ".join(map(str, p)) for p in nodes)
    return ('<?xml version="1.0"?>\n<VTKFile type="UnstructuredGrid" version="0.1" '
            'byte_order="LittleEndian">\n  <UnstructuredGrid>\n    <FieldData>\n'
            '      <DataArray type="Int32" Name="junction_is_bend" NumberOfTuples="1" '
            'format="ascii">%d</DataArray>\n%s    </FieldData>\n'
            '    <Piece NumberOfPoints="%d" NumberOfCells="%d">\n'
            '      <Points>\n        <DataArray type="Float64" Name="Points" '
            'NumberOfComponents="3" format="ascii">\n%s\n        </DataArray>\n      </Points>\n'
            '      <Cells>\n        <DataArray type="Int64" Name="connectivity" format="ascii">\n'
            '%s\n        </DataArray>\n        <DataArray type="Int64" Name="offsets" '
            'format="ascii">\n%s\n        </DataArray>\n        <DataArray type="UInt8" '
            'Name="types" format="ascii">\n%s\n        </DataArray>\n%s      </Cells>\n'
            '    </Piece>\n  </UnstructuredGrid>\n</VTKFile>\n'
            % (1 if kind == "bend" else 0, far_text, len(nodes), len(elements), points, conn,
               "\n".join(offsets), "\n".join(str(VTK_TYPE[t]) for t, _ in elements),
               cells_extra))


def msh_mesh(kind, nodes, elements, far=None, extra_sections=""):
    n, m = len(nodes), len(elements)
    out = "$MeshFormat\n4.1 0 8\n$EndMeshFormat\n"
    out += "$Nodes\n1 %d 1 %d\n3 1 0 %d\n" % (n, n, n) if n else "$Nodes\n0 0 0 0\n"
    out += "".join("%d\n" % (k + 1) for k in range(n))
    out += "".join(" ".join(map(str, p)) + "\n" for p in nodes) + "$EndNodes\n"
    kinds = [t for t in GMSH_TYPE if any(e[0] == t for e in elements)]
    out += "$Elements\n%d %d %s\n" % (len(kinds), m, "1 %d" % m if m else "0 0")
    for t in kinds:
        block = [(k, c) for k, (tt, c) in enumerate(elements) if tt == t]
        out += "3 1 %d %d\n" % (GMSH_TYPE[t], len(block))
        out += "".join("%d %s\n" % (k + 1, " ".join(str(x + 1) for x in c)) for k, c in block)
    out += "$EndElements\n" + extra_sections
    far = far or []
    out += "$VelaJunction\nkind %s\nfar_nodes %d\n" % (kind, len(far))
    out += "".join(" ".join(map(str, p)) + "\n" for p in far) + "$EndVelaJunction\n"
    return out


WRITERS = {"json": json_mesh, "vtu": vtu_mesh, "msh": msh_mesh}


def hand_made_mesh_seeds(fmt):
    write = WRITERS[fmt]
    seeds = {}
    for kind, (nodes, corners) in ONE_ELEMENT.items():
        seeds["one-" + kind] = write("bend", nodes, [(kind, corners)])
    nodes, corners = ONE_ELEMENT["hexa"]
    tet_nodes, tet = ONE_ELEMENT["tetra"]
    seeds["nway-far-nodes"] = write("nway", nodes, [("hexa", corners)], far=[[20, 0, 0], [0, 20, 0]])
    seeds["empty-mesh"] = write("nway", [], [])
    seeds["bend-with-far-nodes"] = write("bend", tet_nodes, [("tetra", tet)], far=[[1, 2, 3]])
    seeds["unknown-kind"] = write("tee", tet_nodes, [("tetra", tet)])
    seeds["node-out-of-range"] = write("bend", tet_nodes, [("tetra", [0, 1, 2, 4])])
    seeds["node-repeated"] = write("bend", tet_nodes, [("tetra", [0, 1, 1, 3])])
    seeds["mixed-order"] = write("bend", nodes + tet_nodes,
                                 [("tetra", [8, 9, 10, 11]), ("hexa", corners),
                                  ("tetra", [0, 1, 2, 4])])
    seeds["extreme-values"] = write("bend", [[1e308, -1e-308, 5e-324], [-0.0, 0.1, 1 / 3],
                                             [2 ** 53, -2 ** 60, 1e-300], [0, 0, 0]],
                                    [("tetra", [0, 1, 2, 3])])
    if fmt == "json":
        seeds["not-ok"] = json_mesh("bend", tet_nodes, [("tetra", tet)]).replace('"ok": true',
                                                                                 '"ok": false')
        seeds["overflow"] = json_mesh("bend", tet_nodes, [("tetra", tet)]).replace("1, 0, 0]",
                                                                                   "1e400, 0, 0]")
        seeds["negative-index"] = json_mesh("bend", tet_nodes, [("tetra", [0, 1, 2, -3])])
        seeds["float-index"] = json_mesh("bend", tet_nodes, [("tetra", [0, 1, 2, 3.0])])
        seeds["huge-index"] = json_mesh("bend", tet_nodes, [("tetra", [0, 1, 2, 2 ** 64 - 1])])
        seeds["wrong-corner-count"] = json_mesh("bend", tet_nodes, [("tetra", [0, 1, 2])])
        seeds["type-number"] = json_mesh("bend", tet_nodes, [("tetra", tet)]).replace(
            '"tetra"', "4")
        seeds["kind-number"] = json_mesh("bend", tet_nodes, [("tetra", tet)]).replace(
            '"bend"', "2")
        seeds["elements-object"] = '{"ok":true,"kind":"bend","nodes":[],"elements":{}}'
        seeds["far-nodes-null"] = '{"ok":true,"kind":"nway","nodes":[],"elements":[],' \
                                  '"far_nodes":null}'
        seeds["top-array"] = "[1, 2, 3]"
        seeds["deep"] = '{"ok":true,"kind":"nway","nodes":' + "[" * 200 + "]" * 200 + "}"
    elif fmt == "vtu":
        seeds["cdata-comment"] = vtu_mesh("bend", tet_nodes, [("tetra", tet)], points_text=(
            "0 0 <!-- split -->0 1 0 0\n<![CDATA[0 1 0]]> 0 0 1"))
        seeds["points-short"] = vtu_mesh("bend", tet_nodes, [("tetra", tet)],
                                         points_text="0 0 0 1 0 0 0 1 0 0 0")
        seeds["points-nan"] = vtu_mesh("bend", tet_nodes, [("tetra", tet)],
                                       points_text="0 0 0 nan 0 0 0 1 0 0 0 1")
        seeds["points-hex-float"] = vtu_mesh("bend", tet_nodes, [("tetra", tet)],
                                             points_text="0x1p0 0 0 1e0 0 0 0 1 0 0 0 +1")
        seeds["two-pieces"] = vtu_mesh("bend", tet_nodes, [("tetra", tet)]).replace(
            "  </UnstructuredGrid>", '    <Piece NumberOfPoints="0" NumberOfCells="0"/>\n'
            "  </UnstructuredGrid>")
        seeds["huge-count"] = vtu_mesh("bend", tet_nodes, [("tetra", tet)]).replace(
            'NumberOfPoints="4"', 'NumberOfPoints="2147483647"')
        seeds["offset-wrong"] = vtu_mesh("bend", tet_nodes, [("tetra", tet)]).replace(
            "offsets\" format=\"ascii\">\n4", "offsets\" format=\"ascii\">\n5")
        seeds["type-quad"] = vtu_mesh("bend", tet_nodes, [("tetra", tet)]).replace(
            'format="ascii">\n10\n', 'format="ascii">\n9\n')
        seeds["no-field-data"] = vtu_mesh("bend", tet_nodes, [("tetra", tet)]).replace(
            "<FieldData>", "<FieldDatum>").replace("</FieldData>", "</FieldDatum>")
        seeds["polydata"] = vtu_mesh("bend", tet_nodes, [("tetra", tet)]).replace(
            'type="UnstructuredGrid"', 'type="PolyData"')
        seeds["entities"] = vtu_mesh("bend", tet_nodes, [("tetra", tet)]).replace(
            "0 0 1\n", "0 0 &#49;\n").replace("?>", '?>\n<!DOCTYPE VTKFile [<!ENTITY e "1">]>')
        seeds["not-xml"] = "<VTKFile type=\"UnstructuredGrid\"><UnstructuredGrid>"
    else:
        seeds["unknown-section"] = msh_mesh("bend", tet_nodes, [("tetra", tet)],
                                            extra_sections="$PhysicalNames\n1\n3 1 \"v\"\n"
                                                           "$EndPhysicalNames\n")
        seeds["element-data"] = msh_mesh("bend", tet_nodes, [("tetra", tet)], extra_sections=(
            "$ElementData\n1\n\"scaled_jacobian\"\n1\n0\n3\n0\n1\n1\n1 0.5\n$EndElementData\n"))
        seeds["version-2"] = msh_mesh("bend", tet_nodes, [("tetra", tet)]).replace("4.1 0 8",
                                                                                   "2.2 0 8")
        seeds["binary"] = msh_mesh("bend", tet_nodes, [("tetra", tet)]).replace("4.1 0 8",
                                                                                "4.1 1 8")
        seeds["node-tag-twice"] = msh_mesh("bend", tet_nodes, [("tetra", tet)]).replace(
            "1\n2\n3\n4\n", "1\n2\n3\n3\n")
        seeds["tags-sparse"] = msh_mesh("bend", tet_nodes, [("tetra", tet)]).replace(
            "1\n2\n3\n4\n", "40\n3\n900\n7\n").replace("1 1 2 3 4", "9 40 3 900 7")
        seeds["missing-node"] = msh_mesh("bend", tet_nodes, [("tetra", tet)]).replace(
            "1 1 2 3 4", "1 1 2 3 5")
        seeds["count-mismatch"] = msh_mesh("bend", tet_nodes, [("tetra", tet)]).replace(
            "1 4 1 4", "1 5 1 5")
        seeds["huge-counts"] = msh_mesh("bend", tet_nodes, [("tetra", tet)]).replace(
            "1 4 1 4", "2147483647 2147483647 1 4")
        seeds["no-junction"] = msh_mesh("bend", tet_nodes, [("tetra", tet)]).split("$VelaJunction")[0]
        seeds["junction-twice"] = msh_mesh("nway", tet_nodes, [("tetra", tet)], far=[[1, 1, 1]]) + \
            "$VelaJunction\nkind bend\nfar_nodes 0\n$EndVelaJunction\n"
        seeds["parametric"] = msh_mesh("bend", tet_nodes, [("tetra", tet)]).replace("3 1 0 4",
                                                                                    "3 1 1 4")
        seeds["quad-type"] = msh_mesh("bend", tet_nodes, [("tetra", tet)]).replace("3 1 4 1",
                                                                                   "3 1 3 1")
        seeds["unterminated-section"] = "$MeshFormat\n4.1 0 8\n$EndMeshFormat\n$Comments\nhello\n"
        seeds["empty"] = ""
    return {name: text.encode("utf-8") for name, text in seeds.items()}


def meshed_files(vela_mesh):
    """The small junctions meshed by vela-mesh, as {name: {format: bytes}}."""
    out = {}
    with tempfile.TemporaryDirectory() as tmp:
        for name, junction in SMALL_JUNCTIONS.items():
            source = os.path.join(tmp, name + ".json")
            with open(source, "w") as f:
                json.dump(junction, f)
            targets = {fmt: os.path.join(tmp, "%s.%s" % (name, "mesh.json" if fmt == "json" else fmt))
                       for fmt in WRITERS}
            command = [vela_mesh, "junction", source]
            for path in targets.values():
                command += ["-o", path]
            subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
            out[name] = {}
            for fmt, path in targets.items():
                with open(path, "rb") as f:
                    out[name][fmt] = f.read()
    return out


def mesh_seeds(fmt, meshed):
    seeds = {}
    for name, files in meshed.items():
        text = files[fmt]
        seeds["meshed-" + name] = text
        for percent in (10, 50, 90, 99):
            seeds["meshed-%s-cut-%d" % (name, percent)] = text[: len(text) * percent // 100]
    seeds.update(hand_made_mesh_seeds(fmt))
    return seeds


# --- writing ----------------------------------------------------------------------------------

def write_folder(folder, seeds, limit=20 * 1024, replace=True):
    if replace and os.path.isdir(folder):
        shutil.rmtree(folder)
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        if len(data) > limit:
            raise SystemExit("seed %s/%s is %d bytes, over %d" % (folder, name, len(data), limit))
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--vela-mesh", required=True, help="the vela-mesh binary")
    args = parser.parse_args()
    corpus = os.path.join(HERE, "corpus")
    write_folder(os.path.join(corpus, "fuzz_junction_calls"), call_seeds())
    write_folder(os.path.join(corpus, "fuzz_junction_file"), junction_file_seeds())
    meshed = meshed_files(args.vela_mesh)
    for fmt in WRITERS:
        write_folder(os.path.join(corpus, "fuzz_mesh_" + fmt), mesh_seeds(fmt, meshed))


if __name__ == "__main__":
    main()
