#!/usr/bin/env bash
# Fetches the upstream tarball of a Debian source package into a folder of the build (never into
# the project), with a private apt state that leaves the system's apt setup untouched, checks it
# against the .dsc and unpacks it. Prints the unpacked folder.
#   scripts/fetch-debian-source.sh PACKAGE DESTINATION
set -euo pipefail
package=$1
dest=$(mkdir -p "$2" && cd "$2" && pwd)
# A folder is moved into place only once unpacked whole.
found=$(find "$dest" -mindepth 1 -maxdepth 1 -type d -name "$package-[0-9]*" | sort | tail -n 1)
if [ -n "$found" ]; then echo "$found"; exit 0; fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"  # apt drops to _apt for downloads
mkdir -p "$work/apt/lists/partial" "$work/apt/sources.list.d" "$work/src" "$work/unpacked"
chmod 777 "$work/src"
uri=$(apt-get indextargets --format '$(REPO_URI) $(CODENAME)' | awk '$2 == "bookworm" {print $1; exit}')
[ -n "$uri" ] || { echo "no bookworm archive in the apt configuration" >&2; exit 1; }
printf 'Types: deb-src\nURIs: %s\nSuites: bookworm\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
  "$uri" >"$work/apt/sources.list.d/bookworm-src.sources"
apt_opts=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$work/apt/sources.list.d"
  -o "Dir::State::Lists=$work/apt/lists" -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=)
apt-get "${apt_opts[@]}" -qq update
# Some packages' Debian part is missing from the archive (argtable2's): apt then fails after
# fetching the .dsc and the upstream tarball, which is all we need.
(cd "$work/src" && apt-get "${apt_opts[@]}" -qq source --download-only "$package" >/dev/null 2>&1 || true)
checksum=$(cd "$work/src" && grep -A3 '^Checksums-Sha256:' "$package"_*.dsc |
  awk '$3 ~ /\.orig\.tar\.[a-z0-9]+$/ {print $1"  "$3}')
[ -n "$checksum" ] || { echo "no upstream tarball of $package in the archive" >&2; exit 1; }
(cd "$work/src" && sha256sum -c --quiet <<<"$checksum")
tarball=$work/src/${checksum##* }
tar -xf "$tarball" -C "$work/unpacked"
top=$(cd "$work/unpacked" && echo *)
mv "$work/unpacked/$top" "$dest/"
echo "$dest/$top"
