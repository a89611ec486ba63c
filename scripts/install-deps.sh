#!/usr/bin/env bash
# Installs, with apt-get, whatever is missing of one of two package lists:
#   install-deps.sh demo   what scripts/demo.sh needs: the compiler, CMake and
#                          the tool's libraries;
#   install-deps.sh test   all of that, and the test and benchmark libraries and
#                          the independent readers the tests compare against,
#                          OpenFOAM's checkMesh among them (the default).
set -euo pipefail

demo=(cmake g++ make nlohmann-json3-dev libcli11-dev libpugixml-dev zlib1g-dev libdeflate-dev)
test=("${demo[@]}" libgtest-dev libbenchmark-dev python3-meshio python3-h5py gmsh
  pybind11-dev python3-pybind11 python3-numpy python3-pytest openfoam)

case "${1:-test}" in
  demo) packages=("${demo[@]}") ;;
  test) packages=("${test[@]}") ;;
  *) echo "usage: $0 [demo|test]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
fi
