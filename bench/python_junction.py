#!/usr/bin/env python3
"""The Y of examples/y.json meshed from Python, to set beside vela_bench's
Junction/y: the same junction through the same host call, plus the
argument checks and the numpy copies of the result.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_junction.py

Prints the CPU time per call, fastest of the repetitions.
"""

import json
import pathlib
import time

import numpy as np
import vela

REPETITIONS, CALLS = 15, 200


def main():
    y = json.loads((pathlib.Path(__file__).resolve().parents[1] / "examples" / "y.json").read_text())
    center, far, radii = np.array(y["center"]), np.array(y["far_points"]), y["radii"]
    # The file's "extent": "runner-length" puts each far point at its runner's
    # length, as vela-mesh does before meshing (every radius of the Y is 2).
    lengths = vela.runner_length(center, far, radii)
    directions = (far - center) / np.linalg.norm(far - center, axis=1)[:, None]
    far = center + directions * lengths[:, None]
    best = float("inf")
    for _ in range(REPETITIONS):
        start = time.process_time()
        for _ in range(CALLS):
            vela.mesh_junction(center, far, radii)
        best = min(best, (time.process_time() - start) / CALLS)
    mesh = vela.mesh_junction(center, far, radii)
    print(f"Python mesh_junction, Y: {best * 1e6:.0f} us per call ({len(mesh.points)} nodes)")


if __name__ == "__main__":
    main()
