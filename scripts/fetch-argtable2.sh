#!/usr/bin/env bash
# Fetches Debian's argtable2 source archive into a folder of the build (never into the
# project), with a private apt state that leaves the system's apt setup untouched, and checks
# the tarball against the .dsc. Prints the folder holding argtable2's src/.
#   scripts/fetch-argtable2.sh DESTINATION
set -euo pipefail
dest=$(mkdir -p "$1" && cd "$1" && pwd)
if [ -f "$dest/argtable2-13/src/argtable2.c" ]; then echo "$dest/argtable2-13/src"; exit 0; fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"  # apt drops to _apt for downloads
mkdir -p "$work/apt/lists/partial" "$work/apt/sources.list.d" "$work/src"
chmod 777 "$work/src"
uri=$(apt-get indextargets --format '$(REPO_URI) $(CODENAME)' | awk '$2 == "bookworm" {print $1; exit}')
[ -n "$uri" ] || { echo "no bookworm archive in the apt configuration" >&2; exit 1; }
printf 'Types: deb-src\nURIs: %s\nSuites: bookworm\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
  "$uri" >"$work/apt/sources.list.d/bookworm-src.sources"
apt_opts=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$work/apt/sources.list.d"
  -o "Dir::State::Lists=$work/apt/lists" -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=)
apt-get "${apt_opts[@]}" -qq update
# The Debian part of the source package is missing from the archive: apt fails after fetching
# the .dsc and the upstream tarball, which is all we need.
(cd "$work/src" && apt-get "${apt_opts[@]}" -qq source --download-only argtable2 >/dev/null 2>&1 || true)
(cd "$work/src" && grep -A3 '^Checksums-Sha256:' argtable2_*.dsc | grep 'orig.tar.gz$' |
  awk '{print $1"  "$3}' | sha256sum -c --quiet)
tar -xzf "$work/src"/argtable2_13.orig.tar.gz -C "$dest"
echo "$dest/argtable2-13/src"
