#!/usr/bin/env bash
# The README's "scripts/demo.sh prints:" block is what the demo prints: runs
# `vela-mesh demo -o out` in a fresh folder and compares its tables with the
# block, line for line.
# Usage: readme_demo_table.sh VELA_MESH README
set -euo pipefail
exe="$1" readme="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# The block follows the sentence that ends in "prints:" and names scripts/demo.sh.
awk '/prints:$/ && (index($0, "scripts/demo.sh") || index(previous, "scripts/demo.sh")) { found = 1 }
     { previous = $0 }
     found && !inside && !/^```/ { next }
     found && /^```/ { if (inside) exit; inside = 1; next }
     inside { print }' "$readme" > "$work/readme.txt"
[ -s "$work/readme.txt" ] || { echo "no 'scripts/demo.sh prints:' block in $readme"; exit 1; }
# A demo mesh beyond a limit exits with status 3; its row says so in the
# faults column, which the comparison reads.
status=0
(cd "$work" && "$exe" demo -o out > printed.txt) || status=$?
[ "$status" -eq 0 ] || [ "$status" -eq 3 ] || { echo "the demo exited with status $status"; exit 1; }
diff -u "$work/readme.txt" "$work/printed.txt"
