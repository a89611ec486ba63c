#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer and runs each for a while,
# one after the other (the machine has two cores and other work to do).
#
#   bash fuzz/run_fuzzers.sh [SECONDS_PER_TARGET] [TARGET...]
#
# SECONDS_PER_TARGET defaults to 60; the targets default to all five. Each run
# starts from the checked-in corpus fuzz/corpus/<target>/ and keeps what it
# finds in BUILD_DIR/fuzz-work/<target>/ (BUILD_DIR defaults to build-fuzz),
# never in the checked-in corpus. A crashing input is written to
# BUILD_DIR/fuzz-artifacts/<target>/ and the script exits 1 after the last
# target; FUZZ_KEEP_GOING=1 instead fuzzes on past crashes (libFuzzer's fork
# mode) to collect more than the first. Without clang++ it does nothing.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] ||
  targets=(fuzz_junction_calls fuzz_junction_file fuzz_mesh_json fuzz_mesh_vtu fuzz_mesh_msh)
build_dir="${BUILD_DIR:-build-fuzz}"

cxx="$(command -v clang++-14 || command -v clang++ || true)"
if [ -z "$cxx" ]; then
  echo "fuzz: no clang++ on this machine; the corpus replays in the ordinary tests instead"
  exit 0
fi

bash scripts/install-deps.sh
# Tests and benchmarks off: this folder is for fuzzing; the corpus replays as
# tests in the ordinary and sanitizer builds.
CXX="$cxx" cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELA_BUILD_TESTS=OFF \
  -DVELA_BUILD_BENCH=OFF -DVELA_BUILD_FUZZ=ON >/dev/null
cmake --build "$build_dir" -j2 --target "${targets[@]}" >/dev/null

status=0
for target in "${targets[@]}"; do
  work="$build_dir/fuzz-work/$target"
  artifacts="$build_dir/fuzz-artifacts/$target"
  log="$build_dir/fuzz-work/$target.log"
  mkdir -p "$work" "$artifacts"
  before="$(ls "$artifacts" | wc -l)"
  # A slow input is a finding too: inputs run in milliseconds, a few meshing
  # ones in seconds under the sanitizers on a busy machine.
  flags=(-max_total_time="$seconds" -timeout=60 -rss_limit_mb=2048 -print_final_stats=1
         -artifact_prefix="$artifacts/")
  [ "${FUZZ_KEEP_GOING:-0}" = "1" ] &&
    flags+=(-fork=1 -ignore_crashes=1 -ignore_ooms=1 -ignore_timeouts=1)
  # Fork mode exits 0 past crashes, so the artifacts decide.
  exit_code=0
  "$build_dir/fuzz/$target" "${flags[@]}" "$work" "fuzz/corpus/$target" >"$log" 2>&1 ||
    exit_code=$?
  crashes="$(( $(ls "$artifacts" | wc -l) - before ))"
  result="ok"
  if [ "$crashes" -gt 0 ]; then
    result="CRASH"
    status=1
  elif [ "$exit_code" -ne 0 ]; then
    result="FAIL"
    status=1
    tail -5 "$log"
  fi
  runs="$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$' || true)"
  [ -n "$runs" ] || runs="$(grep -o '^#[0-9]*' "$log" | tail -1 | tr -d '#' || true)"
  printf '%-22s %-5s %10s runs in %ss (%s/s), corpus %s files\n' "$target" "$result" \
    "${runs:-?}" "$seconds" "$(( ${runs:-0} / seconds ))" "$(ls "$work" | wc -l)"
  if [ "$crashes" -gt 0 ]; then
    echo "  $crashes new input(s) in $artifacts; first report:"
    grep -m1 -A12 -E '^==[0-9]+==ERROR|runtime error|fuzz fault|deadly signal' "$log" | sed 's/^/    /'
  fi
done
exit $status
