#!/usr/bin/env bash
# Cuts the power under a `velmarch -d` run, the way a lost disk cache would: ext4 in an image on
# a loop device, the image copied as it stands a few seconds after the run ended (after the
# file system's journal has committed, before it has written back its cache), then checked.
# Every input must still be there, or its trace must be whole. Needs root and loop devices.
#   scripts/power-cut-check.sh [velmarch binary] [seconds to wait, default 6]
set -euo pipefail
cd "$(dirname "$0")/.."
binary=$(realpath "${1:-build/velmarch}")
wait_seconds=${2:-6}
work=$(mktemp -d)
mnt=$work/mnt
check=$work/check
mkdir -p "$mnt" "$check"
cleanup() {
  umount "$mnt" "$check" 2>/dev/null || true
  [ -n "${loop:-}" ] && losetup -d "$loop" 2>/dev/null || true
  [ -n "${loop2:-}" ] && losetup -d "$loop2" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

truncate -s 256M "$work/disk.img"
mkfs.ext4 -q "$work/disk.img"
loop=$(losetup -f --show "$work/disk.img")
mount "$loop" "$mnt"

build/bench/velmarch_workload --tree "$work/ref" 20 20000
cp -r "$work/ref" "$mnt/logs"
"$binary" "$work/ref"     # the traces the inputs must give, in ref_out
sync -f "$mnt"            # the inputs are safe before the run starts

"$binary" -d "$mnt/logs"
sleep "$wait_seconds"
cp --sparse=always "$work/disk.img" "$work/cut.img"   # the power goes

e2fsck -fy "$work/cut.img" >/dev/null 2>&1 || true
loop2=$(losetup -f --show "$work/cut.img")
mount -o ro "$loop2" "$check"
lost=0 whole=0 kept=0
while read -r name; do
  if [ -f "$check/logs/$name.txt" ]; then
    cmp -s "$check/logs/$name.txt" "$work/ref/$name.txt" && kept=$((kept + 1)) || lost=$((lost + 1))
  elif cmp -s "$check/logs_out/$name.trc" "$work/ref_out/$name.trc" 2>/dev/null; then
    whole=$((whole + 1))
  else
    lost=$((lost + 1))
  fi
done < <(cd "$work/ref" && find . -name '*.txt' | sed 's/\.txt$//')
echo "after the cut: $whole inputs gone with whole traces, $kept inputs intact, $lost recordings lost"
[ "$lost" -eq 0 ]
