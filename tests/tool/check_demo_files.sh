#!/usr/bin/env bash
# Runs `vela-mesh demo` and reads every mesh file it writes back with
# independent readers (meshio for .vtu and .msh, gmsh for .msh): node and
# element counts, and every element's volume positive by the reader's own
# corner convention. Exits 77 (skipped) when meshio is not installed.
set -euo pipefail
tool="$1"
script="$(dirname "$0")/read_with_meshio.py"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT

if ! /usr/bin/python3 -c "import meshio" 2>/dev/null; then
  echo "skipped: python3-meshio is not installed (apt-get install python3-meshio)"
  exit 77
fi
"$tool" demo -o "$out"
status=0
/usr/bin/python3 "$script" --gmsh "$out"/*.vtu "$out"/*.msh || status=$?
[ "$status" -eq 0 ] || { echo "independent readers found faults (status $status)"; exit 1; }

# Counts: the readers must see the nodes and elements the tool reported.
for f in "$out"/*.mesh.json; do
  name="$(basename "$f" .mesh.json)"
  want=$(/usr/bin/python3 -c "import json,sys; d=json.load(open(sys.argv[1])); print(len(d['nodes']), len(d['elements']))" "$f")
  for ext in vtu msh; do
    got=$(/usr/bin/python3 -c "
import meshio, sys
m = meshio.read(sys.argv[1])
solid = sum(len(c.data) for c in m.cells if c.type in ('tetra', 'pyramid', 'wedge', 'hexahedron'))
print(len(m.points), solid)" "$out/$name.$ext" 2>/dev/null | tail -n 1)
    [ "$got" = "$want" ] || { echo "$name.$ext: meshio reads '$got' (nodes elements), the dump has '$want'"; exit 1; }
  done
done
# The example systems: meshio reads the .vtu pair and the .msh, gmsh the .msh
# with its physical groups; the patches must close the volume, wound outward,
# and every reader must count the same faces per patch.
for vtu in "$out"/systems/*.vtu; do
  case "$vtu" in *.patches.vtu) continue ;; esac
  name="${vtu%.vtu}"
  lines=$(/usr/bin/python3 "$(dirname "$0")/read_system_with_meshio.py" "$vtu" "$name.msh") ||
    { echo "$(basename "$name"): $lines"; exit 1; }
  vtu_patches=$(echo "$lines" | sed -n 's/^vtu patches: nodes=[0-9]* //p')
  msh_patches=$(echo "$lines" | sed -n 's/^msh meshio: nodes=[0-9]* fluid=[0-9]* //p')
  gmsh_patches=$(echo "$lines" | sed -n 's/^msh gmsh: fluid=[0-9]* //p')
  [ -n "$vtu_patches" ] && [ "$vtu_patches" = "$msh_patches" ] &&
    { [ -z "$gmsh_patches" ] || [ "$gmsh_patches" = "$vtu_patches" ]; } ||
    { echo "$(basename "$name"): readers disagree on the patches"; echo "$lines"; exit 1; }
done
echo "every demo file reads back with matching counts and positive volumes"
