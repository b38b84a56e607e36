#!/usr/bin/env bash
# Tries the Windows zip of dist/ as a user would: unpacks it, runs velmarch.exe --version under
# wine and converts the bundled examples, which must give the traces the Linux build gives.
# Needs scripts/release.sh to have run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-packages.sh unzip >/dev/null

zip=$(ls dist/velmarch-*-windows-x86_64.zip)
version=$(build/velmarch --version | sed -n 's/^Version: *//p')
[[ $zip == "dist/velmarch-$version-windows-x86_64.zip" ]] || {
  echo "release check: $zip is not version $version" >&2
  exit 1
}
root=$PWD
work=$(mktemp -d)
trap 'rm -rf "$work"; wine_env_stop 2>/dev/null || true' EXIT
source scripts/wine-env.sh
unzip -q "$zip" -d "$work"
app=$work/velmarch-$version-windows-x86_64
for file in velmarch.exe README.md LICENSE NOTICES.txt; do
  [ -s "$app/$file" ] || { echo "release check: the zip lacks $file" >&2; exit 1; }
done
wine "$app/velmarch.exe" --version | tr -d '\r' | grep -x "Version: $version" >/dev/null

cp -r examples "$work/windows" && cp -r examples "$work/linux"
(cd "$work/windows" && wine "$app/velmarch.exe" --non-interactive single.txt campaign)
(cd "$work/linux" && "$root/build/velmarch" --non-interactive single.txt campaign)
diff -r "$work/windows" "$work/linux"
echo "release check: $(basename "$zip") runs under wine and converts the examples as Linux does"
