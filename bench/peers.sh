#!/usr/bin/env bash
# Times the tools a user would otherwise reach for on one workload, with bench.sh's report.
#   bench/peers.sh INPUT.txt WORK_FOLDER RUNS
set -euo pipefail
input=$1 work=$2 runs=$3
here=$(cd "$(dirname "$0")" && pwd)
frames=$(($(wc -l <"$input") - 17))
bytes=$(stat -c %s "$input")

median() {  # command...: median wall seconds of $runs runs
  for ((i = 0; i < runs; i++)); do
    sync
    start=$EPOCHREALTIME
    "$@" >/dev/null 2>&1 || true
    end=$EPOCHREALTIME
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f\n", b - a }'
  done | sort -n | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'
}
line() {
  awk -v name="$1" -v frames="$frames" -v bytes="$bytes" -v t="$2" 'BEGIN {
    printf "%-34s %8.4f s %8.2f M frames/s %8.1f MB/s\n", name, t, frames / t / 1e6,
           bytes / t / 1e6 }'
}

if /usr/bin/python3 -c "import can" 2>/dev/null; then
  line "python-can csv + TRCWriter" "$(median /usr/bin/python3 "$here/peers.py" "$input" "$work/peer.trc")"
else
  echo "python-can: not installed (apt-get install python3-can)"
fi
if command -v log2asc >/dev/null; then
  /usr/bin/python3 "$here/peers.py" --candump "$input" "$work/peer.log"
  line "can-utils log2asc (candump log)" \
    "$(median log2asc -I "$work/peer.log" -O "$work/peer.asc" can0)"
else
  echo "log2asc: not installed (apt-get install can-utils)"
fi
cat_then_write() { cat "$input" >/dev/null && head -c "$(stat -c %s "$work/peer.trc" 2>/dev/null || echo $((bytes * 2)))" /dev/zero >"$work/floor.out"; }
export -f cat_then_write
export input work bytes
line "floor: read input, write trace size" "$(median bash -c cat_then_write)"
