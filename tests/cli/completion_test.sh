#!/usr/bin/env bash
# The completion scripts the package installs, in a real bash and a real zsh: what each offers
# for the word being typed after a given command line.
set -euo pipefail
bash_script="$1" zsh_script="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
touch "$work/kx.bfl" "$work/kx.json"
mkdir "$work/backups"
cd "$work"

# words typed (the last is the one being completed) | what must be offered, in order
cases=(
  "tessera-diag bl|blink"
  "tessera-diag set-id kes|kestrel-kx kestrel-kf"
  "tessera-diag config |get set backup restore"
  "tessera-diag --port 1250 config restore --b|--by-id"
  "tessera-diag upgrade kestrel-kx 1 kx.b|kx.bfl"
  "tessera-diag upgrade kestrel-kx 1 --server-file |"
  "tessera-diag calibrate wren 4 mag|magnetometer-12pt magnetometer-360"
  "tessera-diag plot kestrel-kx 1 --channels MotorOutput,SensorV|MotorOutput,SensorVel MotorOutput,SensorVel1"
  "tessera-diag list --w|--wait --watch --wide"
  "tessera-diag completion |bash zsh"
  "tessera-diag config restore ba|backups"
)

for case in "${cases[@]}"; do
  words="${case%%|*}" expected="${case#*|}"
  read -r -a array <<<"$words"
  [[ "$words" == *" " ]] && array+=("")
  got="$(bash --norc --noprofile -c '
    source "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMPREPLY=()
    _tessera_diag
    echo "${COMPREPLY[*]}"' _ "$bash_script" "${array[@]}")"
  [ "$got" = "$expected" ] || fail "bash: [$words] offered [$got], not [$expected]"

  # zsh: compadd and _files stand in for the completion system's own, printing what they
  # offer for the word being completed, as the completion system matches it.
  got="$(zsh -f -c '
    compadd() {
      local p="" c
      [[ $1 == -P ]] && { p=$2; shift 2; }
      shift
      for c in "$@"; do [[ $p$c == ${words[CURRENT]}* ]] && print -rn -- "$p$c "; done
      return 0
    }
    _files() { local f; if [[ $1 == -/ ]]; then f=(${words[CURRENT]}*(N/)); else f=(${words[CURRENT]}*(N)); fi
               print -rn -- "$f "; }
    script=$1; shift; words=("$@"); CURRENT=$#
    source $script; true' _ "$zsh_script" "${array[@]}")"
  got="${got% }"
  [ "$got" = "$expected" ] || fail "zsh: [$words] offered [$got], not [$expected]"
done
echo "completion: ${#cases[@]} command lines in bash and zsh"
