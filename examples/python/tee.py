#!/usr/bin/env python3
"""Meshes a tee with the Python module vela, prints its quality and writes
tee.vtu into the folder given (default: the current one).

    PYTHONPATH=build/python python3 examples/python/tee.py [FOLDER]
"""

import math
import os
import sys

import vela


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else "."
    centre = [0.0, 0.0, 0.0]
    # Three runners in the xy-plane at 0, 90 and 180 degrees, in order around
    # the centre; the side runner is the thinner one.
    far_points = [[20 * math.cos(math.radians(a)), 20 * math.sin(math.radians(a)), 0.0] for a in (0, 90, 180)]
    radii = [2.0, 2.0, 1.5, 1.5, 2.0, 2.0]  # per runner: far end, junction end
    try:
        tee = vela.mesh_junction(centre, far_points, radii)
    except vela.JunctionRefused as refused:
        sys.exit(f"tee: {refused}")
    print(tee)
    print(tee.quality()["summary"])
    os.makedirs(folder, exist_ok=True)
    for path in tee.write(os.path.join(folder, "tee.vtu")):
        print("wrote", path)


if __name__ == "__main__":
    main()
