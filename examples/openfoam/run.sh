#!/usr/bin/env bash
# Meshes the h8 runner system into an OpenFOAM case and runs a laminar,
# steady simpleFoam on it: the melt enters through the sprue's inlet at
# 0.1 m/s, the eight gates are held at one pressure, the walls do not slip.
# Then checks that the volume flow into the inlet equals the sum of the
# gates' flows to within 1e-6 of itself (flowRatePatch function objects,
# the sum of the face fluxes over each patch).
#
# usage: examples/openfoam/run.sh [VELA_MESH [CASE_DIR]]
#   VELA_MESH  the vela-mesh to mesh with (default: build/tools/cli/vela-mesh)
#   CASE_DIR   where the case goes, kept to look at (a new or empty folder);
#              default: a temporary folder, removed at the end
# Exits 0 when the flows balance, 1 when they do not or a step fails, 77
# when OpenFOAM (Debian's openfoam) is not installed.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
tool="${1:-$here/../../build/tools/cli/vela-mesh}"
if [ $# -ge 2 ]; then
  case_dir="$2"
  if [ -e "$case_dir" ] && [ -n "$(ls -A "$case_dir")" ]; then
    echo "$case_dir: not empty; give a new or empty folder for the case"
    exit 1
  fi
else
  case_dir="$(mktemp -d)"
  trap 'rm -rf "$case_dir"' EXIT
fi
if [ ! -x /usr/bin/simpleFoam ] || [ ! -f /usr/share/openfoam/etc/bashrc ]; then
  echo "skipped: OpenFOAM is not installed (apt-get install openfoam)"
  exit 77
fi
export WM_PROJECT_DIR=/usr/share/openfoam
# The Debian bashrc trips over helpers it does not ship; what it sets is enough.
set +eu
source /usr/share/openfoam/etc/bashrc >/dev/null 2>&1
set -eu

# The solver's dictionaries first: the mesh writer keeps a case's own.
mkdir -p "$case_dir"
cp -r "$here/h8-simpleFoam/." "$case_dir/"
"$tool" system "$here/../systems/h8.json" -o "$case_dir/" --quiet  # in metres, as OpenFOAM's units are
(cd "$case_dir" && simpleFoam >log.simpleFoam 2>&1) || { tail -30 "$case_dir/log.simpleFoam"; exit 1; }
grep -q "SIMPLE solution converged" "$case_dir/log.simpleFoam" || { echo "simpleFoam did not converge"; exit 1; }

/usr/bin/python3 - "$case_dir" <<'PY'
import glob, os, sys
case = sys.argv[1]
flows = {}
for path in glob.glob(os.path.join(case, "postProcessing", "flowRatePatch(name=*)", "*", "surfaceFieldValue.dat")):
    patch = path.split("flowRatePatch(name=")[1].split(")")[0]
    last = [line for line in open(path) if line.strip() and not line.startswith("#")][-1]
    flows[patch] = float(last.split()[1])
inflow = -flows.pop("inlet")  # the flux leaves the domain positive: the inlet's is negative
gates = sum(flows.values())
balance = abs(inflow - gates) / inflow
print(f"inlet {inflow:.12g} m^3/s, gates {gates:.12g} m^3/s over {len(flows)} gates "
      f"(each {min(flows.values()):.6g} to {max(flows.values()):.6g}); relative difference {balance:.3g}")
sys.exit(0 if len(flows) == 8 and inflow > 0 and balance <= 1e-6 else 1)
PY
