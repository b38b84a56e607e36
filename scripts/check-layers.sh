#!/usr/bin/env bash
# Fails when a source of src/ includes a header of a higher layer than its own folder's:
#   platform <- base <- diag <- stream <- fs <- textlog <- convert <- trc <- formats <- app <- testing
# Unit tests (*_test.cc) may include anything. Prints each offending line.
set -euo pipefail
cd "$(dirname "$0")/../src"
layers=(platform base diag stream fs textlog convert trc formats app testing)
rank() {
  local i
  for i in "${!layers[@]}"; do [ "${layers[$i]}" = "$1" ] && { echo "$i"; return; }; done
  echo -1
}
status=0
for folder in "${layers[@]}"; do
  own=$(rank "$folder")
  while IFS= read -r file; do
    case $file in *_test.cc) continue ;; esac
    while IFS=: read -r line text; do
      included=$(sed -n 's/^#include "\([a-z_]*\)\/.*/\1/p' <<<"$text")
      [ -n "$included" ] || continue
      other=$(rank "$included")
      if ((other < 0 || other > own)); then
        echo "src/$file:$line: $folder includes $included, a higher layer: $text"
        status=1
      fi
    done < <(grep -n '^#include "' "$file" || true)
  done < <(find "$folder" -name '*.h' -o -name '*.cc' | sort)
done
exit $status
