#!/usr/bin/env bash
# Builds the Debian package from build/, installs it, runs the installed velmarch on the bundled
# examples and removes the package again.
set -euo pipefail
cd "$(dirname "$0")/.."
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)

(cd build && cpack -G DEB >/dev/null)
package=$(ls -t build/velmarch_*.deb | head -n 1)
"${as_root[@]}" dpkg -i "$package" >/dev/null
trap '"${as_root[@]}" dpkg -r velmarch >/dev/null' EXIT

/usr/bin/velmarch --version
out=$(mktemp -d)
/usr/bin/velmarch -O "$out" examples/single.txt examples/campaign
for trace in single.trc campaign_out/session7_split1.trc campaign_out/session7_split2.trc \
             campaign_out/day2/minutes.trc; do
  [ -s "$out/$trace" ] || { echo "package check: $trace missing" >&2; exit 1; }
done
rm -rf "$out"

# The manual, the licence and the completion come with it; bash finds the completion.
man -w velmarch >/dev/null
grep -q "^License: Expat" /usr/share/doc/velmarch/copyright
cmp -s LICENSE /usr/share/doc/velmarch/LICENSE
bash -c 'source /usr/share/bash-completion/completions/velmarch && complete -p velmarch' >/dev/null
echo "package check: $(basename "$package") installs, runs and converts the examples, with its manual, licence and completion"
