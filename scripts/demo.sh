#!/usr/bin/env bash
# Builds vela-mesh and runs its demo: the example junctions meshed into out/
# in every format, with a picture each, and a summary table.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target vela-mesh -j"$(nproc)" >/dev/null
./build/tools/cli/vela-mesh demo -o out
