#!/usr/bin/env bash
# Installs, with apt-get, whatever of the build and test dependencies is missing.
set -euo pipefail

packages=(cmake g++ make libgtest-dev libbenchmark-dev nlohmann-json3-dev libcli11-dev libpugixml-dev python3-meshio gmsh)
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
