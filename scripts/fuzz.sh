#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan and UBSan on) in build-fuzz/ and runs each one
# for a bounded time from its committed corpus, fuzz/corpus/<target>/.
#
#   scripts/fuzz.sh [seconds per target, default 30]
#
# New inputs go to a scratch folder, so the committed corpus stays as it is. An input that
# crashes a target, leaks or trips a sanitizer lands in build-fuzz/findings/ and fails the run.
# FUZZ_FLAGS adds libFuzzer flags, for example FUZZ_FLAGS=-runs=10000000 for a run bounded by
# executions as well. Each target's output is in build-fuzz/<target>.log.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
targets=(text_log_reader convert_file paths command_line)

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DBUILD_FUZZERS=ON -DVELMARCH_TESTS=OFF \
  -DWARNINGS_AS_ERRORS=ON >/dev/null
cmake --build build-fuzz -j2 >/dev/null

findings=$PWD/build-fuzz/findings
mkdir -p "$findings"
status=0
for target in "${targets[@]}"; do
  scratch=$(mktemp -d)
  log=build-fuzz/$target.log
  # -close_fd_mask=3: the targets' own standard output and error (usage texts, log lines) are
  # dropped; libFuzzer and the sanitizers keep reporting.
  if "$PWD/build-fuzz/fuzz/${target}_fuzzer" -max_total_time="$seconds" -timeout=10 -close_fd_mask=3 \
       -print_final_stats=1 -artifact_prefix="$findings/$target-" ${FUZZ_FLAGS:-} \
       "$scratch" "$PWD/fuzz/corpus/$target" >"$log" 2>&1; then
    done_line=$(grep -E '^Done [0-9]+ runs in' "$log" | tail -n 1)
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    corpus=$(grep -oE 'corp: [0-9]+/[0-9]+[a-zA-Z]*' "$log" | tail -n 1)
    echo "fuzz $target: ${done_line#Done }, $speed exec/s, $corpus," \
         "$(ls "$scratch" | wc -l) new inputs, no findings"
  else
    echo "fuzz $target: FAILED, see $log and $findings/" >&2
    tail -n 60 "$log" >&2
    status=1
  fi
  rm -rf "$scratch"
done
exit $status
