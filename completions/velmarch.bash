# bash completion for velmarch: options, trace formats, and the folders and .txt logs to convert.

_velmarch() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=
  ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
  # Bash splits "--trace-format=ver" at "=", into "--trace-format", "=" and "ver".
  if [[ $cur == = ]]; then
    cur=
  elif [[ $prev == = ]] && ((COMP_CWORD > 1)); then
    prev=${COMP_WORDS[COMP_CWORD - 2]}
  elif [[ $cur == --*=* ]]; then  # when "=" does not split words
    prev=${cur%%=*}
    cur=${cur#*=}
  fi

  case $prev in
    -f | --trace-format)
      COMPREPLY=($(compgen -W "version1 version2 version2r asc blf candump pcapng" -- "$cur"))
      return
      ;;
    --report | --files-from)
      compopt -o filenames 2>/dev/null || true
      local IFS=$'\n'
      COMPREPLY=($(compgen -f -- "$cur"))
      return
      ;;
    -O | --output-directory)
      compopt -o filenames 2>/dev/null || true
      local IFS=$'\n'  # one reply per line: folder names may hold blanks
      COMPREPLY=($(compgen -d -- "$cur"))
      return
      ;;
    -j | --jobs)
      COMPREPLY=($(compgen -W "$(nproc 2>/dev/null || echo 1)" -- "$cur"))
      return
      ;;
    --verbosity)
      COMPREPLY=($(compgen -W "0 1 2 3 4 5" -- "$cur"))
      return
      ;;
    -b | --buffer)
      COMPREPLY=($(compgen -W "-1 0 65536 1MB" -- "$cur"))
      return
      ;;
  esac

  if [[ $cur == -* ]]; then
    # A long option that takes a value is offered with "=", a flag without: -i, --input-files
    # is a flag (accepted and ignored), and "--input-files=x" is an error.
    COMPREPLY=($(compgen -W "--help -v --version --verbosity= --non-interactive -d
      --delete-converted -X --no-append-root -b --buffer= -j --jobs= -m --merge-splits -f
      --trace-format= -O
      --output-directory= --report= --files-from= -0 --null -i --input-files" -- "$cur"))
    [[ ${COMPREPLY[0]-} == *= ]] && compopt -o nospace 2>/dev/null || true
    return
  fi

  # Folders, and the logs velmarch converts: files whose extension is txt in any letter case.
  compopt -o filenames 2>/dev/null || true
  local IFS=$'\n'
  COMPREPLY=($(compgen -d -- "$cur"; compgen -f -X '!*.[tT][xX][tT]' -- "$cur"))
}

complete -F _velmarch velmarch
