#!/usr/bin/env bash
# Writes every example runner system and junction as an OpenFOAM case, binary
# and ASCII, beside its .mesh.json dump, and reads each back without OpenFOAM
# (read_foam_case.py): OpenFOAM's ordering and addressing, closed cells, faces
# out of their owners, flat ends, the dump's points in metres, its patches
# and regions.
# Two spoiled copies must be caught. Exits 77 (skipped) without numpy.
set -euo pipefail
tool="$1"
source_dir="$2"
reader="$source_dir/tests/tool/read_foam_case.py"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
if ! /usr/bin/python3 -c "import numpy" 2>/dev/null; then
  echo "skipped: python3-numpy is not installed"
  exit 77
fi
failed=0
check() {  # CASE ARGS...: the reader must pass
  if ! /usr/bin/python3 "$reader" "$@"; then failed=1; fi
}
for file in "$source_dir"/examples/systems/*.json "$source_dir"/examples/*.json; do
  name="$(basename "$file" .json)"
  command=junction
  [[ "$file" == */systems/* ]] && command=system
  "$tool" "$command" "$file" -o "$out/$name.mesh.json" -o "$out/$name-binary" --format foam --quiet
  "$tool" "$command" "$file" -o "$out/$name-ascii/" --ascii --quiet
  check "$out/$name-binary" --dump "$out/$name.mesh.json" --scale 0.001 --format binary --flat-ends yes
  check "$out/$name-ascii" --dump "$out/$name.mesh.json" --scale 0.001 --format ascii --flat-ends yes
done
# --units keeps the file's millimetres, and the case says so.
"$tool" system "$source_dir/examples/systems/h8.json" -o "$out/h8-mm/" --units mm --quiet
check "$out/h8-mm" --dump "$out/h8.mesh.json" --scale 1 --format binary
grep -q "Lengths in mm." "$out/h8-mm/constant/polyMesh/points" || { echo "h8-mm: the unit is not named"; failed=1; }
grep -q "Lengths in m." "$out/h8-binary/constant/polyMesh/points" || { echo "h8: the unit is not named"; failed=1; }

# The controls: a face turned round, and the wall as a plain patch.
cp -r "$out/y-ascii" "$out/turned"
/usr/bin/python3 - "$out/turned/constant/polyMesh/faces" <<'PY'
import re, sys
text = open(sys.argv[1]).read()
face = re.search(r"\n4\((\d+) (\d+) (\d+) (\d+)\)\n", text)
text = text.replace(face.group(0), "\n4(%s %s %s %s)\n" % face.group(4, 3, 2, 1), 1)
open(sys.argv[1], "w").write(text)
PY
cp -r "$out/y-ascii" "$out/plain"
sed -i '0,/type            wall;/s//type            patch;/' "$out/plain/constant/polyMesh/boundary"
for control in turned plain; do
  said="$(/usr/bin/python3 "$reader" "$out/$control" || true)"
  echo "$said"
  case "$control:$said" in
    "turned:"*"cells not closed"*"not pointing out of their"*) ;;
    "plain:"*"patch wall of type patch, not wall"*) ;;
    *) echo "the control $control was not caught"; failed=1 ;;
  esac
done
exit "$failed"
