#!/usr/bin/env bash
# The man page keeps step with --help: every long option --help lists is in it, with the same
# words.
#   man_page_test.sh MAN_PAGE VELMARCH
set -uo pipefail
# The page's text without roff's escapes and line breaks.
page=$(sed -e 's/\\-/-/g' -e 's/\\f[BIR]//g' -e 's/^\.[A-Z]* *//' "$1" | tr '\n' ' ' | tr -s ' ')
failures=0
while IFS= read -r line; do
  option=$(grep -o -- '--[a-z-]*' <<<"$line" | head -n 1)
  words=$(sed -E 's/^ +(-[a-zA-Z], )?--[^ ]+ +//' <<<"$line" | tr -s ' ')
  [[ $page == *"$option"* ]] || { echo "FAIL: the man page lacks $option"; failures=$((failures + 1)); }
  [[ $page == *"$words"* ]] || {
    echo "FAIL: the man page does not say, as --help does: $words"
    failures=$((failures + 1))
  }
done < <("$2" --help | grep -E '^ +(-[a-zA-Z], )?--')
((failures == 0)) && echo "man page: every option of --help, in the same words"
exit $((failures > 0))
