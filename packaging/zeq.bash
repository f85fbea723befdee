# bash completion for zeq: subcommands, options, function names and random
# methods.  The lists come from the zeq being completed (zeq help, zeq rand
# --list-methods and --list-slots, --help), read once per shell, so they
# always match the installed catalogue.

# _zeq_list KEY COMMAND...: COMMAND's output, cached in _zeq_cache_KEY.
_zeq_list() {
  local var="_zeq_cache_$1"
  shift
  if [[ -z ${!var+set} ]]; then
    printf -v "$var" '%s' "$("$@" 2>/dev/null)"
  fi
  printf '%s\n' "${!var}"
}

_zeq() {
  local cur prev words cword
  _init_completion -n = || return
  local zeq=${words[0]} sub="" i
  for ((i = 1; i < cword; i++)); do
    case ${words[i]} in rand | batch | help) sub=${words[i]}; break ;; esac
  done

  case $prev in
    --method)
      local methods
      methods=$(_zeq_list methods "$zeq" rand --list-methods | awk '{print $1}')
      [[ $cur == [a-z]* ]] && methods=${methods,,}
      mapfile -t COMPREPLY < <(compgen -W "$methods" -- "$cur")
      return ;;
    --as)
      mapfile -t COMPREPLY < <(compgen -W "$(_zeq_list slots "$zeq" rand --list-slots | awk '{print $1}')" -- "$cur")
      return ;;
    --encoding) mapfile -t COMPREPLY < <(compgen -W "latin1 utf-8" -- "$cur"); return ;;
    --show-log) mapfile -t COMPREPLY < <(compgen -W "all info note warning error none" -- "$cur"); return ;;
    --format) mapfile -t COMPREPLY < <(compgen -W "text binary" -- "$cur"); return ;;
    --on-error) mapfile -t COMPREPLY < <(compgen -W "stop skip empty" -- "$cur"); return ;;
    --module) _filedir so; return ;;
    --length | --kind | --repeat | --seed | --key | --thread | --count | --position | --jobs | \
      --seed-double | --key-double | --char | --target | --num | --set | --set-double | \
      --set-int | --option)
      return ;;
  esac

  if [[ $cur == -* ]]; then
    local opts
    # The option lines of --help: "  -h,--help   ...", "  --char,--target NAME=TEXT ..."
    opts=$(_zeq_list "opts_${sub:-main}" "$zeq" ${sub:+"$sub"} --help |
      sed -n 's/^  *\(-[-a-z,]*\).*/\1/p' | tr ',' '\n')
    mapfile -t COMPREPLY < <(compgen -W "$opts" -- "$cur")
    return
  fi

  local functions
  functions=$(_zeq_list functions "$zeq" help | awk '{print $1}')
  [[ $cur == [a-z]* ]] && functions=${functions,,}
  case $sub in
    help)
      mapfile -t COMPREPLY < <(compgen -W "$functions" -- "$cur") ;;
    batch) _filedir ;;
    rand) ;;
    *)
      # A statement begins with a function name (or CALL); the parenthesis follows.
      mapfile -t COMPREPLY < <(compgen -W "$functions" -S '(' -- "$cur")
      if ((cword == 1)); then
        mapfile -t -O ${#COMPREPLY[@]} COMPREPLY < <(compgen -W "rand batch help" -- "$cur")
      fi
      compopt -o nospace 2>/dev/null ;;
  esac
}
complete -F _zeq zeq
