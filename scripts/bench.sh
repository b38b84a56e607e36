#!/usr/bin/env bash
# Converts generated workloads with the built binary and prints median wall time, frames/s,
# MB/s (input text) and peak resident memory. Needs build/ (scripts/setup.sh) and GNU time.
#   scripts/bench.sh [--quick] [--runs N] [--peers]
#     --quick  1 M frames only, no 10 M, a 1,000-file tree instead of 10,000
#     --peers  also time a python-can conversion and can-utils log2asc on the 1 M workload
#              (when python3-can and can-utils are installed)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
velmarch=$root/build/velmarch
workload=$root/build/bench/velmarch_workload
runs=5
quick=0
peers=0
while (($#)); do
  case $1 in
    --quick) quick=1 ;;
    --runs) runs=$2; shift ;;
    --peers) peers=1 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
[ -x "$velmarch" ] && [ -x "$workload" ] || { echo "build first: scripts/setup.sh" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "needs GNU time: apt-get install time" >&2; exit 1; }

work=${BENCH_DIR:-$(mktemp -d /tmp/velmarch-bench.XXXXXX)}
trap 'rm -rf "$work"' EXIT
# Runs a command $runs times, each with a new, empty output folder in place of the argument
# @OUT@ and, when $copy_input names a folder, a fresh copy of it in place of @IN@ (for -d,
# which deletes its inputs); prints "median_seconds max_rss_kib". Outputs are deleted only
# after the last run: ext4 makes new files slow while it still steps over inodes freed moments
# ago.
copy_input=
measure() {
  local times=() rss=0 start end out args
  for ((i = 0; i < runs; i++)); do
    out=$work/runs/$i
    mkdir -p "$out/out"
    [ -z "$copy_input" ] || cp -r "$copy_input" "$out/in"
    args=("${@/#@OUT@/$out/out}")
    args=("${args[@]/#@IN@/$out/in}")
    sync  # the last run's trace is on disk, not still being written back during this one
    # Wall time to the microsecond from bash's clock; GNU time only for the peak memory.
    start=$EPOCHREALTIME
    /usr/bin/time -o "$work/time" -f "%M" "${args[@]}" >/dev/null 2>&1 || true
    end=$EPOCHREALTIME
    times+=("$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", b - a }')")
    local peak
    peak=$(tail -1 "$work/time")
    ((peak > rss)) && rss=$peak
  done
  rm -rf "$work/runs"
  printf '%s\n' "${times[@]}" | sort -n | awk -v rss="$rss" \
    '{ t[NR] = $1 } END { printf "%s %d\n", t[int((NR + 1) / 2)], rss }'
}

report() {  # name frames bytes median rss
  awk -v name="$1" -v frames="$2" -v bytes="$3" -v t="$4" -v rss="$5" 'BEGIN {
    if (t <= 0) t = 0.005  # below what GNU time resolves
    printf "%-34s %8.4f s %8.2f M frames/s %8.1f MB/s %8.1f MiB peak\n",
           name, t, frames / t / 1e6, bytes / t / 1e6, rss / 1024 }'
}

sizes=(1000000)
((quick)) || sizes+=(10000000)
for frames in "${sizes[@]}"; do
  for style in clock full; do
    input=$work/${style}_$frames.txt
    "$workload" "$frames" "$style" >"$input"
    bytes=$(stat -c %s "$input")
    for format in version2 version1; do
      for buffer in default 65536; do
        args=(-O @OUT@ --trace-format "$format")
        [ "$buffer" = default ] || args+=(--buffer "$buffer")
        read -r t rss < <(measure "$velmarch" "${args[@]}" "$input")
        report "$((frames / 1000000))M $style $format buffer=$buffer" "$frames" "$bytes" "$t" "$rss"
      done
    done
    if ((peers)) && [ "$frames" = 1000000 ] && [ "$style" = clock ]; then
      "$root/bench/peers.sh" "$input" "$work" "$runs"
    fi
    rm -f "$input"
  done
done

report_tree() {  # name files median rss
  awk -v name="$1" -v files="$2" -v t="$3" -v rss="$4" 'BEGIN {
    if (t <= 0) t = 0.005
    printf "%-34s %8.3f s %8.0f files/s %29.1f MiB peak\n", name, t, files / t, rss / 1024 }'
}

files=10000
((quick)) && files=1000
"$workload" --tree "$work/tree" "$files" 100
copy_input=$work/tree
read -r t rss < <(measure "$velmarch" -O @OUT@ @IN@)
report_tree "$files files of 100 frames" "$files" "$t" "$rss"
# -d makes every trace durable before its input goes.
read -r t rss < <(measure "$velmarch" -d -O @OUT@ @IN@)
report_tree "$files files of 100 frames, -d" "$files" "$t" "$rss"
