#!/usr/bin/env bash
# Runs the end-to-end tests with every velmarch process under valgrind memcheck, using the build
# that scripts/setup.sh leaves in build/. An invalid access, a use of uninitialised memory or a
# lost block ends that process with status 99, which fails its test.
set -euo pipefail
cd "$(dirname "$0")/.."
export VELMARCH_E2E_WRAPPER="valgrind -q --error-exitcode=99 --leak-check=full --suppressions=$PWD/scripts/valgrind.supp"
build/tests/e2e/velmarch_e2e_tests --gtest_brief=1
