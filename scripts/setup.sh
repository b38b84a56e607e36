#!/usr/bin/env bash
# Installs the Debian packages velmarch needs that are missing, then configures and builds it in
# build/. Warnings are errors here: what builds for you builds in CI.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake g++ make pkg-config git libargtable2-dev libstb-dev libgtest-dev libgmock-dev
  python3-can libbenchmark-dev time valgrind clang libclang-rt-dev)
missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
if ((${#missing[@]})); then
  as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  echo "Installing: ${missing[*]}"
  "${as_root[@]}" apt-get update -qq
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake -S . -B build -DWARNINGS_AS_ERRORS=ON "$@"
cmake --build build -j"$(nproc)"
