#!/usr/bin/env bash
# Cross-builds velmarch.exe (and, unless a target is named, its unit tests) into build-win/ with
# mingw-w64, argtable2 and libdeflate linked in from Debian's source archive. Installs the missing
# cross tools with apt-get.
#   scripts/windows-build.sh [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-packages.sh g++-mingw-w64-x86-64-posix wine64 wine >/dev/null

argtable2=$(scripts/fetch-argtable2.sh build-win/third_party)
libdeflate=$(scripts/fetch-debian-source.sh libdeflate build-win/third_party)
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DARGTABLE2_SOURCE_DIR="$argtable2" -DLIBDEFLATE_SOURCE_DIR="$libdeflate" \
  -DWARNINGS_AS_ERRORS=ON -DVELMARCH_BENCHMARKS=OFF >/dev/null
targets=()
for target in "$@"; do targets+=(--target "$target"); done
if ((${#targets[@]} == 0)); then
  # Building the tests lists them by running them: under wine.
  trap 'wine_env_stop' EXIT
  source scripts/wine-env.sh
fi
cmake --build build-win -j"$(nproc)" "${targets[@]}"
