# Shared by the launcher drives (sourced): a private X display under Xvfb,
# windows found and clicked with xdotool, screenshots read back by OCR.
# Every wait has a time limit, so a window that never comes fails the check.

# Starts Xvfb on a free display and exports DISPLAY; the caller's cleanup
# calls stop_xvfb.
start_xvfb() {
  local fd_file=$1/display
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fd_file" >/dev/null 2>&1 &
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
# waited for at most $2 seconds (20 by default).
wait_window() {
  local name=$1 limit=${2:-20} id
  for _ in $(seq 1 $((limit * 5))); do
    id=$(xdotool search --onlyvisible --name "$name" 2>/dev/null | head -n1 || true)
    [[ -n $id ]] && { echo "$id"; return 0; }
    sleep 0.2
  done
  echo "FAIL: no window named \"$name\" within ${limit}s" >&2
  return 1
}

# A visible named window other than those given, waited for at most 20
# seconds: the dialog that the program opened.
wait_new_window() {
  local id
  for _ in $(seq 1 100); do
    for id in $(xdotool search --onlyvisible --name '.' 2>/dev/null || true); do
      local known=
      for k in "$@"; do [[ $id == "$k" ]] && known=1; done
      [[ -z $known ]] && { echo "$id"; return 0; }
    done
    sleep 0.2
  done
  echo "FAIL: no new window within 20s" >&2
  return 1
}

# Clicks at x y inside window $1, as a person would with the mouse.
click_in() {
  xdotool mousemove --window "$1" "$2" "$3" sleep 0.2 click 1
  sleep 0.3
}

# Types $2 into window $1 (which gets the keyboard first), then Return.
type_in() {
  xdotool windowfocus --sync "$1" 2>/dev/null || xdotool windowfocus "$1" 2>/dev/null || true
  sleep 0.3
  xdotool type --delay 20 "$2"
  xdotool key Return
}

# The text of window $1 as French OCR reads it: a screenshot enlarged and
# read in a few ways (small button captions with an icon and an underlined
# letter defeat any single one), the readings one after the other. The
# screenshot stays as $2.png.
ocr_window() {
  local id=$1 base=$2 scale treatment
  import -window "$id" "$base.png"
  for scale in 300 400; do
    for treatment in "" "-threshold 60%"; do
      # shellcheck disable=SC2086
      convert "$base.png" -resize "$scale%" -colorspace Gray $treatment "$base-read.png"
      tesseract "$base-read.png" - -l fra 2>/dev/null || true
      tesseract "$base-read.png" - -l fra --psm 11 2>/dev/null || true
    done
  done
  rm -f "$base-read.png"
}

# One quick reading of window $1 (enlarged three times), for a line that
# comes and goes.
ocr_quick() {
  import -window "$1" "$2.png"
  convert "$2.png" -resize 300% -colorspace Gray "$2-read.png"
  tesseract "$2-read.png" - -l fra 2>/dev/null || true
  rm -f "$2-read.png"
}
