#!/usr/bin/env bash
# Converts generated workloads with the built binary and prints median wall time, frames/s or
# files/s, MB/s (input text), peak resident memory and median user and system CPU time: a
# card-like tree of 64 files of 50,000 frames (recordings of eight splits; also with -m) and a
# tree of 10,000 small files, each with one job and the default, then single files, every trace
# format on the 1 M-frame log, and standard input to standard output ("-"). Needs
# build/ (scripts/setup.sh) and GNU time.
#   scripts/bench.sh [--quick] [--runs N] [--peers]
#     --quick  1 M frames only, no 10 M; trees of 16 large and 1,000 small files instead of 64
#              and 10,000
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
# which deletes its inputs); prints "median_wall median_user median_system max_rss_kib".
# Outputs stay until clean_runs: ext4 makes new files slow for about half a minute after
# files were deleted (it steps over the inodes freed), so the trees are measured first, each
# -d run waits $settle seconds after the deletions of the one before, and so does the first
# tree after whatever ran before this script.
copy_input=
settle=0
serial=0
measure() {
  local walls=() users=() systems=() rss=0 start end out args
  for ((i = 0; i < runs; i++)); do
    out=$work/runs/$((serial++))
    mkdir -p "$out/out"
    [ -z "$copy_input" ] || cp -r "$copy_input" "$out/in"
    args=("${@/#@OUT@/$out/out}")
    args=("${args[@]/#@IN@/$out/in}")
    sync  # the last run's traces are on disk, not still being written back during this one
    ((settle == 0)) || sleep "$settle"
    # Wall time to the microsecond from bash's clock; GNU time for CPU times and peak memory.
    start=$EPOCHREALTIME
    /usr/bin/time -o "$work/time" -f "%M %U %S" "${args[@]}" >/dev/null 2>&1 || true
    end=$EPOCHREALTIME
    walls+=("$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", b - a }')")
    local peak user system
    read -r peak user system < <(tail -1 "$work/time")
    users+=("$user")
    systems+=("$system")
    ((peak > rss)) && rss=$peak
  done
  median() { printf '%s\n' "$@" | sort -n | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'; }
  echo "$(median "${walls[@]}") $(median "${users[@]}") $(median "${systems[@]}") $rss"
}
clean_runs() { rm -rf "$work/runs"; }

report() {  # name frames bytes wall user system rss
  awk -v name="$1" -v frames="$2" -v bytes="$3" -v t="$4" -v u="$5" -v s="$6" -v rss="$7" 'BEGIN {
    if (t <= 0) t = 0.005  # below what GNU time resolves
    printf "%-34s %8.4f s %7.2f M frames/s %7.1f MB/s %7.1f MiB peak  (user %.2f s, system %.2f s)\n",
           name, t, frames / t / 1e6, bytes / t / 1e6, rss / 1024, u, s }'
}

report_tree() {  # name files wall user system rss [baseline wall]
  awk -v name="$1" -v files="$2" -v t="$3" -v u="$4" -v s="$5" -v rss="$6" -v base="${7:-0}" 'BEGIN {
    if (t <= 0) t = 0.005
    printf "%-34s %8.3f s %8.0f files/s %20.1f MiB peak  (user %.2f s, system %.2f s)", name, t,
           files / t, rss / 1024, u, s
    if (base > 0) printf "  %.2fx one job", base / t
    printf "\n" }'
}

# Trees first, before this script deletes anything. They are read where they were made: the
# system stays busy for a while after many files were created, and a fresh copy for each run
# would time that instead.
tree_cases() {  # folder files label [merge]
  local t1 u1 s1 r1 t u s r tm um sm rm ta ua sa ra
  read -r t1 u1 s1 r1 < <(measure "$velmarch" --jobs 1 -O @OUT@ "$1")
  report_tree "$3, --jobs 1" "$2" "$t1" "$u1" "$s1" "$r1"
  read -r t u s r < <(measure "$velmarch" -O @OUT@ "$1")
  report_tree "$3, default jobs" "$2" "$t" "$u" "$s" "$r" "$t1"
  [ -n "${4-}" ] || return 0
  # One trace per recording, against a trace per file measured before and after it: the file
  # system's pace drifts from one measurement to the next.
  read -r tm um sm rm < <(measure "$velmarch" -m -O @OUT@ "$1")
  report_tree "$3, -m" "$2" "$tm" "$um" "$sm" "$rm" "$t1"
  read -r ta ua sa ra < <(measure "$velmarch" -O @OUT@ "$1")
  report_tree "$3, default jobs again" "$2" "$ta" "$ua" "$sa" "$ra" "$t1"
  awk -v a="$t" -v b="$tm" -v c="$ta" \
    'BEGIN { printf "%-34s %8.2fx the time without -m\n", "  -m", b / ((a + c) / 2) }'
}
card_files=64
((quick)) && card_files=16
files=10000
((quick)) && files=1000
# Recordings of eight splits each, as a logger cuts a drive into files.
"$workload" --tree "$work/card" "$card_files" 50000 8
"$workload" --tree "$work/tree" "$files" 100
# Whatever deleted or made files just before does not slow the first tree.
sync
sleep 35
tree_cases "$work/card" "$card_files" "$card_files files of 50,000 frames" merge
tree_cases "$work/tree" "$files" "$files files of 100 frames"
copy_input=$work/tree
settle=35
# -d makes every trace durable before its input goes.
read -r t u s r < <(measure "$velmarch" -d -O @OUT@ @IN@)
report_tree "$files files of 100 frames, -d" "$files" "$t" "$u" "$s" "$r"
settle=0
copy_input=
clean_runs
rm -rf "$work/card" "$work/tree"

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
        read -r t u sys rss < <(measure "$velmarch" "${args[@]}" "$input")
        clean_runs
        report "$((frames / 1000000))M $style $format buffer=$buffer" "$frames" "$bytes" "$t" "$u" "$sys" "$rss"
        # One file, one thread: what reading ahead on a second one gains.
        if [ "$format" = version2 ] && [ "$buffer" = default ]; then
          read -r t u sys rss < <(measure "$velmarch" --jobs 1 "${args[@]}" "$input")
          clean_runs
          report "$((frames / 1000000))M $style $format --jobs 1" "$frames" "$bytes" "$t" "$u" "$sys" "$rss"
        fi
      done
    done
    # Every format on the 1 M-frame log, against TRC 2.1's time.
    if [ "$frames" = 1000000 ] && [ "$style" = clock ]; then
      read -r base u sys rss < <(measure "$velmarch" -O @OUT@ "$input")
      clean_runs
      for format in version2 version1 version2r asc blf candump pcapng; do
        read -r t u sys rss < <(measure "$velmarch" -O @OUT@ --trace-format "$format" "$input")
        clean_runs
        report "1M clock -f $format" "$frames" "$bytes" "$t" "$u" "$sys" "$rss"
        awk -v b="$base" -v t="$t" 'BEGIN { printf "%34s %.2fx the frames/s of version2\n", "", b / t }'
      done
    fi
    # Standard input to standard output through pipes, against the file's conversion; both
    # traces go to a file in the output folder.
    if [ "$style" = clock ]; then
      read -r base u sys rss < <(measure "$velmarch" -O @OUT@ "$input")
      clean_runs
      read -r t u sys rss < <(measure bash -c 'cat "$1" | "$2" - >"$3/piped.trc"' _ "$input" \
        "$velmarch" @OUT@)
      clean_runs
      report "$((frames / 1000000))M clock, cat | velmarch - >file" "$frames" "$bytes" "$t" "$u" "$sys" "$rss"
      awk -v b="$base" -v t="$t" 'BEGIN { printf "%34s %.2fx the speed of converting the file\n", "", b / t }'
    fi
    if ((peers)) && [ "$frames" = 1000000 ] && [ "$style" = clock ]; then
      "$root/bench/peers.sh" "$input" "$work" "$runs"
    fi
    rm -f "$input"
  done
done

