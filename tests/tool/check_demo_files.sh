#!/usr/bin/env bash
# Runs `vela-mesh demo` and reads every mesh it writes, in each of its
# formats, with independent readers (read_with_meshio.py): the counts of its
# .mesh.json dump, positive volumes, patches that close the volume, MED and
# gmsh. Exits 77 (skipped) when meshio is not installed.
set -euo pipefail
tool="$1"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
if ! /usr/bin/python3 -c "import meshio" 2>/dev/null; then
  echo "skipped: python3-meshio is not installed (apt-get install python3-meshio)"
  exit 77
fi
# Status 3 says a demo mesh lies beyond a limit (the floor, checkMesh's
# thresholds): its files are written all the same, and they are what is
# read here.
status=0
"$tool" demo -o "$out" >/dev/null || status=$?
[ "$status" -eq 0 ] || [ "$status" -eq 3 ] || { echo "the demo exited with status $status"; exit 1; }
for dump in "$out"/*.mesh.json "$out"/systems/*.mesh.json; do
  for ext in vtu msh svg; do
    [ -s "${dump%.mesh.json}.$ext" ] || { echo "the demo wrote no ${dump%.mesh.json}.$ext"; exit 1; }
  done
done
/usr/bin/python3 "$(dirname "$0")/read_with_meshio.py" "$out"/*.vtu "$out"/*.msh "$out"/systems/*.{vtu,msh}
