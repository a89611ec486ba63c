#!/usr/bin/env bash
# Builds vela-mesh and runs its demo: the example junctions meshed into out/
# in every format, with a picture each, and a summary table. Installs only
# what the demo needs; BUILD_DIR picks the build folder (default build/).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh demo

build_dir="${BUILD_DIR:-build}"
mkdir -p "$build_dir"
log="$build_dir/demo-build.log"
echo "configuring (log: $log)..."
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DVELA_BUILD_TOOLS=ON \
  -DVELA_BUILD_TESTS=OFF -DVELA_BUILD_BENCH=OFF -DVELA_BUILD_FUZZ=OFF -DVELA_BUILD_PYTHON=OFF >"$log" 2>&1 ||
  { cat "$log"; exit 1; }
echo "building vela-mesh on $(nproc) cores (about a minute)..."
cmake --build "$build_dir" --target vela-mesh -j"$(nproc)" >>"$log" 2>&1 || { cat "$log"; exit 1; }
"$build_dir"/tools/cli/vela-mesh demo -o out
