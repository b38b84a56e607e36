#!/usr/bin/env bash
# Sources the bash completion and completes as bash would: options, "--trace-format=" in both of
# the forms bash may split it into, and paths (folders and .txt logs, nothing else); with the
# binary, also every long option its --help lists.
#   completion_test.sh COMPLETION_SCRIPT [VELMARCH]
set -uo pipefail  # no -e: compgen fails when nothing matches, as it may
source "$1"
failures=0

complete -p velmarch | grep -q -- '-F _velmarch velmarch' || {
  echo "FAIL: complete -p velmarch: $(complete -p velmarch 2>&1)"
  failures=$((failures + 1))
}

# expect "WORDS..." "expected replies, sorted, space-separated"; the last word is completed.
expect() {
  local words=$1 want=$2
  read -r -a COMP_WORDS <<<"$words"
  [[ $words == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _velmarch
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort -u | tr '\n' ' ')
  got=${got% }
  if [[ $got != "$want" ]]; then
    echo "FAIL: completing '$words': got '$got', want '$want'"
    failures=$((failures + 1))
  fi
}

expect "velmarch --trace-format = " "version1 version2"   # "=" splits words (the default)
expect "velmarch --trace-format = version2" "version2"
expect "velmarch --trace-format=v" "version1 version2"     # "=" does not split words
expect "velmarch -f ver" "version1 version2"
expect "velmarch --verb" "--verbosity="
expect "velmarch --del" "--delete-converted"
expect "velmarch --verbosity = " "0 1 2 3 4 5"

if (($# > 1)); then
  read -r -a COMP_WORDS <<<"velmarch --"
  COMP_CWORD=1
  _velmarch
  offered=" ${COMPREPLY[*]} "
  for option in $("$2" --help | grep -o -- '--[a-z-]*' | sort -u); do
    [[ $offered == *" $option "* || $offered == *" $option= "* ]] || {
      echo "FAIL: --help lists $option, the completion does not offer it"
      failures=$((failures + 1))
    }
  done
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/logs" "$scratch/logs_out" "$scratch/my logs"
touch "$scratch/a.txt" "$scratch/B.TXT" "$scratch/notes.md"
cd "$scratch"
expect "velmarch " "B.TXT a.txt logs logs_out my logs"
expect "velmarch -d l" "logs logs_out"
expect "velmarch -O " "logs logs_out my logs"
expect "velmarch -O m" "my logs"

((failures == 0)) && echo "completion: all cases pass"
exit $((failures > 0))
