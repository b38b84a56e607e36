#!/usr/bin/env bash
# Installs the Debian packages velmarch needs that are missing, then configures and builds it in
# build/. Warnings are errors here: what builds for you builds in CI.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake g++ make pkg-config git libargtable2-dev libstb-dev libdeflate-dev libgtest-dev
  libgmock-dev python3-can python3-jsonschema parallel can-utils tshark libbenchmark-dev time
  valgrind clang libclang-rt-dev)
scripts/install-packages.sh "${packages[@]}"

cmake -S . -B build -DWARNINGS_AS_ERRORS=ON "$@"
cmake --build build -j"$(nproc)"
