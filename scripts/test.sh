#!/usr/bin/env bash
# Builds everything and runs every test. BUILD_DIR picks the build folder
# (default build/); VELA_SANITIZE=1 builds with AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh test

build_dir="${BUILD_DIR:-build}"
sanitize="${VELA_SANITIZE:-0}"
build_type=Release
[ "$sanitize" = "1" ] && build_type=Debug
# Every part on by name: scripts/demo.sh shares the build folder and turns the
# tests off in its cache.
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE="$build_type" \
  -DVELA_BUILD_TESTS=ON -DVELA_BUILD_BENCH=ON -DVELA_BUILD_TOOLS=ON -DVELA_BUILD_FUZZ=ON \
  -DVELA_BUILD_EXAMPLES=ON -DVELA_BUILD_PYTHON=ON -DVELA_INSTALL=ON \
  -DVELA_SANITIZE="$([ "$sanitize" = "1" ] && echo ON || echo OFF)" >/dev/null
cmake --build "$build_dir" -j"$(nproc)"
ctest --test-dir "$build_dir" --output-on-failure -j"$(nproc)"
