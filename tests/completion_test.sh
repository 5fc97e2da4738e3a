#!/usr/bin/env bash
# The bash completion of vornlog: it loads without a word on standard error,
# offers the options where options stand and file names elsewhere, with and
# without the bash-completion package's helpers.
set -euo pipefail
script=$(realpath "$1")
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
touch "session one.txt" session.pcapng steps.csv

for helpers in none /usr/share/bash-completion/bash_completion; do
  [[ $helpers == none || -f $helpers ]] || continue
  # Completes the last word of the given command line; one candidate a line.
  candidates() {
    bash --norc --noprofile -c '
      [[ $1 == none ]] || source "$1"
      source "$2"
      shift 2
      COMP_WORDS=("$@")
      COMP_CWORD=$(($# - 1))
      COMP_LINE="$*"
      COMP_POINT=${#COMP_LINE}
      _vornlog
      printf "%s\n" "${COMPREPLY[@]}" | sort' _ "$helpers" "$script" "$@"
  }

  loaded=$(bash --norc --noprofile -c '[[ $1 == none ]] || source "$1"; source "$2" && complete -p vornlog' \
    _ "$helpers" "$script" 2>&1) || fail "($helpers) loading failed: $loaded"
  [[ $loaded == "complete -F _vornlog vornlog" ]] || fail "($helpers) loading said: $loaded"

  got=$(candidates vornlog -)
  want=$(printf '%s\n' --help --version --port= --fail-on= --keep= --keep-max= -c -d -e -f -F -h -i -j -l -n -p -q -s -t -v -w | sort)
  [[ $got == "$want" ]] || fail "($helpers) first option: got [$got]"
  got=$(candidates vornlog -s -)
  want=$(printf '%s\n' --port= --fail-on= --keep= --keep-max= -c -d -e -f -F -h -i -j -l -n -p -q -s -t -v -w | sort)
  [[ $got == "$want" ]] || fail "($helpers) second option: got [$got]"
  got=$(candidates vornlog --fail-on=s)
  want=$(printf '%s\n' --fail-on=slow-reply --fail-on=stop | sort)
  [[ $got == "$want" ]] || fail "($helpers) --fail-on=: got [$got]"
  got=$(candidates vornlog --keep=k --keep-max=1)
  [[ -z $got ]] || fail "($helpers) after --keep-max=: got [$got]"
  got=$(candidates vornlog -n -q)
  [[ $got == "-q" ]] || fail "($helpers) -q: got [$got]"
  got=$(candidates vornlog -s ses)
  want=$(printf '%s\n' "session one.txt" session.pcapng | sort)
  [[ $got == "$want" ]] || fail "($helpers) dump file: got [$got]"
  got=$(candidates vornlog -s "session one.txt" st)
  [[ $got == "steps.csv" ]] || fail "($helpers) dest file: got [$got]"
  got=$(candidates vornlog -c ses)
  want=$(printf '%s\n' "session one.txt" session.pcapng | sort)
  [[ $got == "$want" ]] || fail "($helpers) after -c: got [$got]"
  got=$(candidates vornlog -d "")
  [[ -z $got ]] || fail "($helpers) after -d: got [$got]"
  got=$(candidates vornlog -i "")
  [[ -z $got ]] || fail "($helpers) after -i: got [$got]"
done

((failures == 0)) || exit 1
echo "bash completion: all checks passed"
