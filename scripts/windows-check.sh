#!/usr/bin/env bash
# Cross-builds velmarch.exe and its unit tests with mingw-w64, runs the unit tests under wine
# and the end-to-end tests (the Linux harness of build/) against the Windows binary. Needs
# build/ from scripts/setup.sh. Installs the missing cross tools with apt-get.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/windows-build.sh
trap 'wine_env_stop' EXIT
source scripts/wine-env.sh
ctest --test-dir build-win --output-on-failure --timeout 60
VELMARCH_E2E_WRAPPER=wine VELMARCH_E2E_BINARY=$PWD/build-win/velmarch.exe \
  timeout 600 build/tests/e2e/velmarch_e2e_tests
