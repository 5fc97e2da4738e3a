# Shared by the launcher drives (sourced): a private X display under Xvfb,
# windows found and clicked with xdotool, screenshots read back by OCR.
# Every wait has a time limit, so a window that never comes fails the check.

# How long a wait may last before the check fails. A busy 2-core machine
# (a load of 10 or more) can take tens of seconds to show a dialog, so the
# limit is there only for a window that never comes.
wait_limit=${VORNLOG_WAIT_LIMIT:-300}

# xdotool, import and tesseract with a time limit each: none may hang.
xdo() { timeout -k 2 120 xdotool "$@"; }
shot() { timeout -k 2 120 import "$@"; }
ocr() { timeout -k 2 240 tesseract "$@"; }

# Starts Xvfb on a free display (1024x768, or the size $2 gives) and
# exports DISPLAY; the caller's cleanup calls stop_xvfb.
start_xvfb() {
  local fd_file=$1/display
  Xvfb -displayfd 3 -screen 0 "${2:-1024x768}x24" -nolisten tcp 3>"$fd_file" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 1 100); do
    [[ -s $fd_file ]] && break
    sleep 0.1
  done
  [[ -s $fd_file ]] || { echo "FAIL: Xvfb did not start" >&2; return 1; }
  export DISPLAY=:$(head -n1 "$fd_file")
}

stop_xvfb() {
  [[ -n ${xvfb_pid:-} ]] && kill "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=
}

# The first visible window whose name matches the regular expression $1,
# waited for at most $wait_limit seconds.
wait_window() {
  local name=$1 limit=$wait_limit id start=$SECONDS
  while ((SECONDS - start < limit)); do
    id=$(xdo search --onlyvisible --name "$name" 2>/dev/null | head -n1 || true)
    [[ -n $id ]] && { echo "$id"; return 0; }
    sleep 0.2
  done
  echo "FAIL: no window named \"$name\" within ${limit}s" >&2
  screen_said "no-$name"
  return 1
}

# What the screen shows when an awaited window did not come, into the
# check's standard error: the names of the visible windows and the whole
# screen read by OCR (its screenshot stays in $xdrive_dir, if set), so that
# the log names what stood in the way (a message box, a dialog still open).
screen_said() {
  local id base
  echo "   the visible windows:" >&2
  for id in $(xdo search --onlyvisible --name '.' 2>/dev/null || true); do
    echo "   | $id $(xdo getwindowname "$id" 2>/dev/null || true)" >&2
  done
  [[ -n ${xdrive_dir:-} ]] || return 0
  base=$xdrive_dir/screen-$(tr -c 'A-Za-z0-9' '-' <<<"$1" | cut -c1-40)
  shot -window root "$base.png" 2>/dev/null || return 0
  convert "$base.png" -resize 200% -colorspace Gray "$base-read.png" 2>/dev/null || return 0
  echo "   the screen read by OCR ($base.png):" >&2
  ocr "$base-read.png" - -l fra 2>/dev/null | grep -v '^[[:space:]]*$' | sed 's/^/   | /' | head -n 40 >&2 || true
  rm -f "$base-read.png"
}

# A visible named window other than those given, waited for at most
# $wait_limit seconds: the dialog that the program opened.
wait_new_window() {
  local id start=$SECONDS
  while ((SECONDS - start < wait_limit)); do
    for id in $(xdo search --onlyvisible --name '.' 2>/dev/null || true); do
      local known=
      for k in "$@"; do [[ $id == "$k" ]] && known=1; done
      [[ -z $known ]] && { echo "$id"; return 0; }
    done
    sleep 0.2
  done
  echo "FAIL: no new window within ${wait_limit}s" >&2
  return 1
}

# Window $1 no longer shown, waited for at most $wait_limit seconds: the
# dialog has taken its answer.
wait_gone() {
  local id=$1 limit=$wait_limit start=$SECONDS
  while xdo search --onlyvisible --name '.' 2>/dev/null | grep -qx "$id"; do
    if ((SECONDS - start >= limit)); then
      echo "FAIL: window $id ($(xdo getwindowname "$id" 2>/dev/null || true)) still shown after ${limit}s" >&2
      screen_said "shown-$id"
      return 1
    fi
    sleep 0.2
  done
}

# Clicks at x y inside window $1, as a person would with the mouse. The X
# server takes the move and the click in turn, and the program reads them
# in turn: nothing to wait for between them.
click_in() {
  xdo mousemove --window "$1" "$2" "$3" click 1
}

# Types $2 into window $1 (which gets the keyboard first), then Return.
type_in() {
  xdo windowfocus --sync "$1" 2>/dev/null || xdo windowfocus "$1" 2>/dev/null || true
  xdo type --delay 20 "$2"
  xdo key Return
}

# The text of window $1 as French OCR reads it: a screenshot enlarged and
# read in a few ways (small button captions with an icon and an underlined
# letter defeat any single one), the readings one after the other. The
# screenshot stays as $2.png.
ocr_window() {
  local id=$1 base=$2 scale treatment
  shot -window "$id" "$base.png"
  for scale in 300 400; do
    for treatment in "" "-threshold 60%"; do
      # shellcheck disable=SC2086
      convert "$base.png" -resize "$scale%" -colorspace Gray $treatment "$base-read.png"
      ocr "$base-read.png" - -l fra 2>/dev/null || true
      ocr "$base-read.png" - -l fra --psm 11 2>/dev/null || true
    done
  done
  rm -f "$base-read.png"
}

# One quick reading of window $1 (enlarged three times), for a line that
# comes and goes.
ocr_quick() {
  shot -window "$1" "$2.png"
  convert "$2.png" -resize 300% -colorspace Gray "$2-read.png"
  ocr "$2-read.png" - -l fra 2>/dev/null || true
  rm -f "$2-read.png"
}

# Reads window $1 as ocr_window does (screenshot $2.png) until every
# extended regular expression after the first three arguments is found in
# the reading, for at most $wait_limit seconds; prints the last reading. A
# window still being drawn on a busy machine is read again, not judged at
# once.
ocr_until() {
  local id=$1 base=$2 limit=$wait_limit text pattern found start=$SECONDS
  shift 2
  while :; do
    text=$(ocr_window "$id" "$base")
    found=1
    for pattern in "$@"; do
      grep -qE "$pattern" <<<"$text" || { found=; break; }
    done
    [[ -n $found ]] || ((SECONDS - start >= limit)) && break
    sleep 0.5
  done
  printf '%s\n' "$text"
}

# Reads window $1 as ocr_quick does until the reading matches the extended
# regular expression $3 (or, with $4 "absent", until it no longer does),
# for at most $5 seconds (30 by default); prints the last reading.
ocr_quick_until() {
  local id=$1 base=$2 pattern=$3 want=${4:-present} limit=${5:-30} text start=$SECONDS
  while :; do
    text=$(ocr_quick "$id" "$base")
    if grep -qE "$pattern" <<<"$text"; then
      [[ $want == present ]] && break
    else
      [[ $want == absent ]] && break
    fi
    ((SECONDS - start >= limit)) && break
    sleep 0.3
  done
  printf '%s\n' "$text"
}
