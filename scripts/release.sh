#!/usr/bin/env bash
# Makes the release files in dist/, named with the version velmarch --version prints: the Debian
# package and the Windows zip (velmarch.exe, README.md, LICENSE, NOTICES.txt). Needs build/ from
# scripts/setup.sh; cross-builds the .exe into build-win/.
#   scripts/release.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-packages.sh zip >/dev/null

cmake --build build --target velmarch >/dev/null
version=$(build/velmarch --version | sed -n 's/^Version: *//p')
[ -n "$version" ] || { echo "release: no version from velmarch --version" >&2; exit 1; }
mkdir -p dist
rm -f dist/velmarch_*.deb dist/velmarch-*-windows-x86_64.zip

# The package takes its version when CMake configures: configured again, it is --version's.
cmake -S . -B build >/dev/null
(cd build && cpack -G DEB >/dev/null)
cp "build/velmarch_${version}_amd64.deb" dist/

scripts/windows-build.sh velmarch >/dev/null
name=velmarch-$version-windows-x86_64
stage=build-win/release/$name
rm -rf "$stage" && mkdir -p "$stage"
cp README.md LICENSE "$stage/"
x86_64-w64-mingw32-strip -o "$stage/velmarch.exe" build-win/velmarch.exe
argtable2=$(scripts/fetch-argtable2.sh build-win/third_party)
libdeflate=$(scripts/fetch-debian-source.sh libdeflate build-win/third_party)
{
  cat <<NOTICE
velmarch $version for 64-bit Windows

velmarch itself is under the MIT licence (LICENSE). velmarch.exe also holds the following
libraries, linked into it.

== argtable2 13: GNU Lesser General Public License, version 2 or later ==

velmarch.exe reads its command line with argtable2 by Stewart Heitmann, built unchanged from
Debian's source archive argtable2_13.orig.tar.gz. The licence lets you replace it: build
velmarch from its source (doc/RELEASING.md) with scripts/windows-build.sh, its
ARGTABLE2_SOURCE_DIR pointing at your own copy of argtable2. The licence's text follows.

NOTICE
  cat "$argtable2/../COPYING"
  cat <<NOTICE

== libdeflate 1.14: the MIT licence ==

velmarch.exe compresses BLF traces with libdeflate, built unchanged from Debian's source archive
libdeflate_1.14.orig.tar.gz. Its notice follows.

NOTICE
  cat "$libdeflate/COPYING"
  cat <<NOTICE

== stb_sprintf: public domain, or the MIT licence ==

Number formatting by Sean Barrett and contributors (Debian's libstb-dev).

== mingw-w64 runtime and winpthreads; GCC's libstdc++ and libgcc ==

The C and C++ runtimes of the mingw-w64 cross-compiler. GCC's libraries are under the GPL with
the GCC Runtime Library Exception, which asks nothing of programs built with them. The
mingw-w64 parts, as Debian's copyright file lists them:

NOTICE
  cat /usr/share/doc/mingw-w64-common/copyright
} >"$stage/NOTICES.txt"
(cd build-win/release && zip -qr "../../dist/$name.zip" "$name")
ls -l dist/
