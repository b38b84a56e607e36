#!/usr/bin/env bash
# Builds velmarch with AddressSanitizer and UndefinedBehaviorSanitizer in build-san/ and runs the
# whole test suite there; the end-to-end tests run the sanitized binary. Every report, leaks
# included, ends the process that made it with status 99, which fails its test.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-san -DWARNINGS_AS_ERRORS=ON -DENABLE_SANITIZERS=ON >/dev/null
cmake --build build-san -j2 >/dev/null
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:exitcode=99:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:exitcode=99"
ctest --test-dir build-san --output-on-failure -j2
