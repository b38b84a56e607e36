#!/usr/bin/env bash
# Sources the bash completion and completes as bash would: options, "--trace-format=" in both of
# the forms bash may split it into, and paths (folders and .txt logs, nothing else). With the
# binary, also that the completion offers what the parser accepts, no more and no less: every
# option --help lists, nothing --help does not list, "=" only after a long option that takes a
# value (the parser refuses "--flag=1"), and only values the parser takes.
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

all_formats="asc blf candump pcapng version1 version2 version2r"  # as compgen sorts them
expect "velmarch --trace-format = " "$all_formats"   # "=" splits words (the default)
expect "velmarch --trace-format = version2" "version2 version2r"
expect "velmarch --trace-format=v" "version1 version2 version2r"  # "=" does not split words
expect "velmarch -f ver" "version1 version2 version2r"
expect "velmarch -f c" "candump"
expect "velmarch --verb" "--verbosity="
expect "velmarch --del" "--delete-converted"
expect "velmarch --verbosity = " "0 1 2 3 4 5"
expect "velmarch --inp" "--input-files"  # a flag: "--input-files=x" is an error
expect "velmarch --non" "--non-interactive"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# The replies to completing WORDS, one per line.
replies() {
  read -r -a COMP_WORDS <<<"$1"
  [[ $1 == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _velmarch
  printf '%s\n' "${COMPREPLY[@]}"
}

if (($# > 1)); then
  velmarch=$2
  [[ $velmarch == */* && $velmarch != /* ]] && velmarch=$PWD/$velmarch  # runs in $scratch too
  help=$("$velmarch" --help)
  mapfile -t options < <(replies "velmarch -")
  offered=" ${options[*]} "
  for option in $(grep -o -- '--[a-z-]*' <<<"$help" | sort -u); do
    [[ $offered == *" $option "* || $offered == *" $option= "* ]] || {
      echo "FAIL: --help lists $option, the completion does not offer it"
      failures=$((failures + 1))
    }
  done
  for option in "${options[@]}"; do
    name=${option%=}
    grep -qE -- "(^|[][ ,])$name([][ =,]|\$)" <<<"$help" || {
      echo "FAIL: the completion offers $option, which --help does not list"
      failures=$((failures + 1))
    }
    [[ $name == --* ]] || continue
    # The parser's answer to the option given a value, in a folder where the input is missing:
    # a flag is refused as 'invalid option "--flag=1"', an option with a value is not.
    answer=$(cd "$scratch" && "$velmarch" "$name=1" absent.txt 2>&1)
    refused=no
    [[ $answer == *"invalid option \"$name=1\""* ]] && refused=yes
    if [[ $option == *= && $refused == yes ]]; then
      echo "FAIL: the completion offers $option, but $name takes no value"
      failures=$((failures + 1))
    elif [[ $option != *= && $refused == no ]]; then
      echo "FAIL: the completion offers $option without \"=\", but $name takes a value"
      failures=$((failures + 1))
    fi
  done
  # Every value offered is taken: the run gets as far as the missing input (status 1).
  for option in -b --buffer -j --jobs --verbosity -f --trace-format; do
    for value in $(replies "velmarch $option "); do
      (cd "$scratch" && "$velmarch" "$option" "$value" absent.txt >/dev/null 2>&1)
      status=$?
      ((status == 1)) || {
        echo "FAIL: the completion offers '$option $value', which velmarch refuses ($status)"
        failures=$((failures + 1))
      }
    done
  done
fi

mkdir "$scratch/logs" "$scratch/logs_out" "$scratch/my logs"
touch "$scratch/a.txt" "$scratch/B.TXT" "$scratch/notes.md"
cd "$scratch"
expect "velmarch " "B.TXT a.txt logs logs_out my logs"
expect "velmarch -d l" "logs logs_out"
expect "velmarch -O " "logs logs_out my logs"
expect "velmarch -O m" "my logs"

((failures == 0)) && echo "completion: all cases pass"
exit $((failures > 0))
