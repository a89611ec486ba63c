#!/usr/bin/env bash
# Puts vela-mesh's finite-volume verdict beside OpenFOAM's checkMesh on the
# same meshes: each .msh is read by gmshToFoam into a case of its own and
# checked with -allGeometry -allTopology, and `vela-mesh check --json` reads
# the same file. One row per mesh and measure: ours, checkMesh's. gmshToFoam
# is told to keep the cells as written: by default it turns a hexahedron or
# prism it finds inside out the right way round, and checkMesh would judge
# another mesh than the file holds. checkMesh counts the faces beyond 90
# degrees apart from the severely non-orthogonal ones; they are added here,
# as vela-mesh counts them in one class.
#
# Usage: scripts/compare_with_checkmesh.sh VELA_MESH FILE.msh...
# Needs OpenFOAM (gmshToFoam, checkMesh) and its environment: sources its
# bashrc from /usr/share/openfoam unless WM_PROJECT_DIR is set already (the
# tools on the PATH alone stop at reading their own settings). Not part of
# the test suite: the suite must not need OpenFOAM.
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 VELA_MESH FILE.msh..."; exit 2; }
exe="$(realpath "$1")"
shift
meshes=("$@")
if [ -z "${WM_PROJECT_DIR:-}" ]; then
  export WM_PROJECT_DIR=/usr/share/openfoam
  # OpenFOAM's bashrc reads its arguments as settings, and a sourced file
  # sees the script's own: it is given none.
  set -- && set +eu
  # shellcheck disable=SC1091
  source "$WM_PROJECT_DIR/etc/bashrc" >/dev/null 2>&1
  set -eu
fi
command -v gmshToFoam >/dev/null && command -v checkMesh >/dev/null ||
  { echo "OpenFOAM's gmshToFoam and checkMesh are not to be found"; exit 2; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/case/system"
# The least a case needs for checkMesh to read its mesh.
header() { echo "FoamFile { version 2.0; format ascii; class dictionary; object $1; }"; }
{ header controlDict; echo "application checkMesh; startFrom startTime; startTime 0; stopAt endTime;"
  echo "endTime 1; deltaT 1; writeControl timeStep; writeInterval 1;"; } > "$work/case/system/controlDict"
{ header fvSchemes; echo "ddtSchemes { default steadyState; } gradSchemes { default Gauss linear; }"
  echo "divSchemes { default none; } laplacianSchemes { default Gauss linear corrected; }"
  echo "interpolationSchemes { default linear; } snGradSchemes { default corrected; }"; } > "$work/case/system/fvSchemes"
header fvSolution > "$work/case/system/fvSolution"

printf '%-28s %-34s %16s %16s\n' mesh measure vela-mesh checkMesh
for msh in "${meshes[@]}"; do
  rm -rf "$work/case/constant"
  gmshToFoam -keepOrientation -case "$work/case" "$msh" > "$work/gmsh.log" 2>&1 || { echo "$msh: gmshToFoam failed"; continue; }
  checkMesh -case "$work/case" -allGeometry -allTopology > "$work/check.log" 2>&1 || true
  status=0
  "$exe" check "$msh" --json > "$work/ours.json" 2>/dev/null || status=$?
  [ "$status" -eq 0 ] || [ "$status" -eq 3 ] || { echo "$msh: vela-mesh check exited with $status"; continue; }
  python3 - "$msh" "$work/ours.json" "$work/check.log" <<'EOF'
import json, os, re, sys
name, ours, log = os.path.basename(sys.argv[1]), json.load(open(sys.argv[2]))["quality"], open(sys.argv[3]).read()
def find(pattern, default="0"):
    m = re.search(pattern, log)
    return m.group(1) if m else default
fv, faults = ours["finite_volume"], ours["faults"]
rows = [
    ("internal faces", fv["internal_faces"], find(r"internal faces:\s+(\d+)", "?")),
    ("min cell determinant", fv["min_determinant"], find(r"Cell determinant \(wellposedness\) : minimum: (\S+)", "?")),
    ("cells with small determinant", faults["cells with small determinant"],
     find(r"Cells with small determinant \(< [^)]*\) found, number of cells: (\d+)")),
    ("min interpolation weight", fv["min_interpolation_weight"], find(r"Face interpolation weight : minimum: (\S+)", "?")),
    ("faces with small weight", faults["faces with small interpolation weight"],
     find(r"Faces with small interpolation weight \(< [^)]*\) found, number of faces: (\d+)")),
    ("max non-orthogonality", fv["max_non_orthogonality"], find(r"Mesh non-orthogonality Max: (\S+)", "?")),
    ("severely non-orthogonal faces", faults["severely non-orthogonal faces"],
     str(int(find(r"Number of severely non-orthogonal \(> [^)]*\) faces: (\d+)")) +
         int(find(r"Number of non-orthogonality errors: (\d+)")))),
    ("max skewness", fv["max_skewness"], find(r"Max skewness = ([0-9.eE+-]+)", "?")),
    ("highly skew faces", faults["highly skew faces"], find(r"(\d+) highly skew faces detected")),
    ("faces with inverted face tets", faults["faces with inverted face tets"],
     find(r"Error in face tets: (\d+) faces")),
]
for measure, mine, theirs in rows:
    shown = f"{mine:.6g}" if isinstance(mine, float) else str(mine)
    print(f"{name:<28} {measure:<34} {shown:>16} {theirs:>16}")
EOF
done
