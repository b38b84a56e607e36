#!/usr/bin/env bash
# Builds velmarch and its tests with ThreadSanitizer in build-tsan/ and runs what runs threads:
# the pipeline and log-capture unit tests, and the end-to-end tests that convert with several
# jobs or draw the progress line. Any race report ends the process with status 99 and fails its test.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-tsan -DWARNINGS_AS_ERRORS=ON -DENABLE_TSAN=ON -DVELMARCH_BENCHMARKS=OFF \
  >/dev/null
cmake --build build-tsan -j"$(nproc)" >/dev/null
export TSAN_OPTIONS="halt_on_error=1:exitcode=99:second_deadlock_stack=1"
build-tsan/velmarch_tests --gtest_brief=1 \
  --gtest_filter='OrderedPipeline.*:LogCapture.*:InputWalk.*:DeleteConverted.*:MergeSplits.*:ReportedRun.*'
build-tsan/tests/e2e/velmarch_e2e_tests --gtest_brief=1 \
  --gtest_filter='Parallel.*:Runs.*:Interruption.*:Walk.*:DeleteSafety.*:Terminal.*:*MergeSplits*:InterruptedRecording.*'
