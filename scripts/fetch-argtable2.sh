#!/usr/bin/env bash
# Fetches Debian's argtable2 source archive into a folder of the build (never into the project)
# and prints the folder holding argtable2's src/.
#   scripts/fetch-argtable2.sh DESTINATION
set -euo pipefail
echo "$("$(dirname "$0")/fetch-debian-source.sh" argtable2 "$1")/src"
