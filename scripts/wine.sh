# shellcheck shell=bash
# Shared by the Windows checks (sourced): one Wine prefix with one
# wineserver for the whole check, and Wine calls that say why they failed.
#
# wine_start FOLDER makes the prefix FOLDER/prefix. Its wineserver is started
# first and kept running (-p) until wine_stop, which the caller's cleanup
# calls: no Wine program ever starts while the server of an earlier one is
# shutting down (the server of a prefix otherwise ends a few seconds after
# its last program, and a new server then boots the prefix's services
# again), and every call finds the prefix's services running.
#
# Wine's error channel stays on (only its "fixme" notes are off), so that a
# program that Wine cannot start says why; w keeps Wine's lines apart from
# the program's own standard error.

# The first of the paths given that is a program.
first_program() {
  local p
  for p in "$@"; do
    [[ -n "$p" && -x "$p" ]] && { echo "$p"; return; }
  done
  echo "$1"
}

# The 64-bit loader itself, before anything on PATH: with Debian's wine
# package installed, /usr/bin/wine is a wrapper that writes four lines of its
# own ("it looks like wine32 is missing, ...") on the standard error of every
# call, which would count as the program's.
wine=$(first_program /usr/lib/wine/wine64 "$(command -v wine64)" "$(command -v wine)")
wineserver=$(first_program /usr/lib/wine/wineserver "$(command -v wineserver)")

# Wine's own lines on a program's standard error: its debug channels
# ("0123:err:...") and its loader's and server's messages.
wine_line='^(?:[0-9a-f]{4,8}:(?:err|fixme|warn|trace):|wine(?:server)?: )'

wine_start() {
  wine_calls=$1/wine-calls
  mkdir -p "$wine_calls" "$1/prefix"
  export WINEPREFIX=$1/prefix WINEDEBUG=fixme-all
  # No desktop integration and no Mono or Gecko downloads: nothing may wait
  # for a person. Notepad is the caller's probe, not Wine's own.
  export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d;notepad.exe=n"
  # The check's own log, for what a Wine call reports whatever its caller
  # does with its standard error.
  exec {wine_log}>&2
  if ! "$wineserver" -p >"$wine_calls/wineserver.log" 2>&1 </dev/null {wine_log}>&-; then
    cat "$wine_calls/wineserver.log" >&2
    echo "FAIL: the wineserver did not start" >&2
    return 1
  fi
  w wineboot wineboot --init >/dev/null 2>&1 || { echo "FAIL: Wine could not make its prefix" >&2; return 1; }
}

# Ends every program of the prefix and its server.
wine_stop() {
  [[ -n ${WINEPREFIX:-} ]] && timeout 30 "$wineserver" -k >/dev/null 2>&1 || true
}

# w NAME PROGRAM ARGUMENTS...: one Wine call, with a time limit that only a
# hang reaches (WINE_TIMEOUT seconds, 300 by default) and the exit status
# it should end with (WINE_EXPECT, 0 by default). Its standard output goes
# where the caller sends it, and so does the program's standard error
# without Wine's lines; all of it is kept. A call that ends with another
# status prints its command, status and whole standard error into the
# check's log.
w() {
  local name=$1 status=0
  shift
  printf '%s\n' "$PWD" "$*" "${WINE_EXPECT:-0}" >"$wine_calls/$name.cmd"
  timeout -k 5 "${WINE_TIMEOUT:-300}" "$wine" "$@" 2>"$wine_calls/$name.stderr" {wine_log}>&- || status=$?
  echo "$status" >"$wine_calls/$name.status"
  perl -ne "print unless /$wine_line/" "$wine_calls/$name.stderr" >&2
  [[ $status == "${WINE_EXPECT:-0}" ]] || explain "$name"
  return "$status"
}

# What the Wine call NAME did: its command, folder, exit status and
# standard error (Wine's messages with the program's), into the check's log.
explain() {
  local name=$1 status
  status=$(cat "$wine_calls/$name.status" 2>/dev/null || echo "?")
  {
    echo "   Wine call \"$name\": $(sed -n 2p "$wine_calls/$name.cmd") (in $(sed -n 1p "$wine_calls/$name.cmd"))"
    echo "   exit status $status$([[ $status == 124 || $status == 137 ]] && echo " (its time limit)")," \
      "expected $(sed -n 3p "$wine_calls/$name.cmd"); its standard error, Wine's messages included:"
    sed 's/^/   | /' "$wine_calls/$name.stderr" | head -n 80
  } >&"$wine_log"
}

# What the Wine calls' standard error says that matches the extended
# regular expression $1, into the check's log.
wine_said() {
  grep -aiE "$1" "$wine_calls"/*.stderr 2>/dev/null | sed "s|^$wine_calls/|   | |" | head -n 40 >&"$wine_log"
}

# Whether a program of the prefix runs under one of the names given (a
# Wine process is known to the kernel by its .exe's name).
wine_running() {
  local p name
  for p in /proc/[0-9]*; do
    { read -r name <"$p/comm"; } 2>/dev/null || continue
    [[ " $* " == *" $name "* ]] || continue
    tr '\0' '\n' <"$p/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && return 0
  done
  return 1
}
