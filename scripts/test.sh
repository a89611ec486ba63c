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
debug_flags=()
if [ "$sanitize" = "1" ]; then
  # Debug, so that assertions stay on, but optimised lightly, as the
  # sanitizers' own guides advise: every access and every operation they
  # check is still checked, and the tests run six times as fast as
  # unoptimised (the slowest census shard about ten times).
  build_type=Debug
  debug_flags=(-DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DCMAKE_C_FLAGS_DEBUG="-g -O1")
fi
# Every part on by name: scripts/demo.sh shares the build folder and turns the
# tests off in its cache.
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE="$build_type" \
  -DVELA_BUILD_TESTS=ON -DVELA_BUILD_BENCH=ON -DVELA_BUILD_TOOLS=ON -DVELA_BUILD_FUZZ=ON \
  -DVELA_BUILD_EXAMPLES=ON -DVELA_BUILD_PYTHON=ON -DVELA_INSTALL=ON \
  -DVELA_SANITIZE="$([ "$sanitize" = "1" ] && echo ON || echo OFF)" "${debug_flags[@]}" >/dev/null
cmake --build "$build_dir" -j"$(nproc)"
ctest --test-dir "$build_dir" --output-on-failure -j"$(nproc)"
