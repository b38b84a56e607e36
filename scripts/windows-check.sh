#!/usr/bin/env bash
# Cross-builds velmarch.exe and its unit tests with mingw-w64, runs the unit tests under wine
# and the end-to-end tests (the Linux harness of build/) against the Windows binary. Needs
# build/ from scripts/setup.sh. Installs the missing cross tools with apt-get.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-packages.sh g++-mingw-w64-x86-64-posix wine64 wine >/dev/null

argtable2=$(scripts/fetch-argtable2.sh build-win/third_party)
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DARGTABLE2_SOURCE_DIR="$argtable2" -DWARNINGS_AS_ERRORS=ON -DVELMARCH_BENCHMARKS=OFF >/dev/null

# wine: headless, no time zone name it would misread, its server started before any test so
# that no test's pipes are held by it.
unset TZ DISPLAY WAYLAND_DISPLAY
export WINEPREFIX=$PWD/build-win/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
wineserver -p </dev/null >/dev/null 2>&1 || true
wineboot -i </dev/null >/dev/null 2>&1
wine cmd /c exit </dev/null >/dev/null 2>&1
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

cmake --build build-win -j"$(nproc)"
ctest --test-dir build-win --output-on-failure --timeout 60
VELMARCH_E2E_WRAPPER=wine VELMARCH_E2E_BINARY=$PWD/build-win/velmarch.exe \
  timeout 600 build/tests/e2e/velmarch_e2e_tests
