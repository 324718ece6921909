# What the end-to-end scripts share, sourced by them: the program's windows
# driven on a virtual display with xdotool. The script defines windows (the
# program's visible windows, sorted) and shot NAME [WINDOW], and sets $pid,
# $shots and, once it shows, $manager.

# Runs the calling script again on a virtual display, unless it is on one.
# -noreset: the server must outlive the moments with no client.
on_virtual_display() {
  [ -n "${ZANDREL_E2E_DISPLAY:-}" ] && return 0
  export ZANDREL_E2E_DISPLAY=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$0" "$@"
}

log() { echo "[$(date +%T)] $*"; }
fail() { log "FAIL: $*"; import -window root "$shots/failure.png" 2>/dev/null; exit 1; }
running() { kill -0 "$pid" 2>/dev/null; }
ended() { ! running; }
is_gone() { local all; all=$(windows); ! grep -qx "$1" <<<"$all"; }
geometry() { eval "$(xdotool getwindowgeometry --shell "$1" | grep -E '^(X|Y|WIDTH|HEIGHT)=')"; }
manager_shown() { xdotool search --onlyvisible --name '^Orvanta$' >/dev/null 2>&1; }
wait_until() {  # SECONDS WHAT COMMAND...
  local end=$((SECONDS + $1)) what=$2; shift 2
  until "$@"; do [ "$SECONDS" -lt "$end" ] || fail "timed out waiting for $what"; sleep 0.1; done
}
new_window() {  # prints a visible window not in the list $1
  local end=$((SECONDS + ${2:-20})) w
  while [ "$SECONDS" -lt "$end" ]; do
    running || fail "the program ended unexpectedly"
    for w in $(windows); do grep -qx "$w" <<<"$1" || { echo "$w"; return 0; }; done
    sleep 0.1
  done
  return 1
}
click() {  # WINDOW CLIENT_WIDTH_TWIPS LEFT TOP WIDTH HEIGHT: the centre of a control given in twips
  geometry "$1"
  local s; s=$(awk -v w="$WIDTH" -v cw="$2" 'BEGIN { print w / cw }')
  xdotool mousemove --sync "$(awk -v o="$X" -v s="$s" -v l="$3" -v c="$5" 'BEGIN { printf "%d", o + (l + c / 2) * s + 0.5 }')" \
    "$(awk -v o="$Y" -v s="$s" -v t="$4" -v c="$6" 'BEGIN { printf "%d", o + (t + c / 2) * s + 0.5 }')" click 1
}
type_into() {  # LEFT TOP WIDTH HEIGHT TEXT: a text box of the manager window, its text replaced
  click "$manager" 8535 "$@"
  sleep 0.2
  xdotool key --clearmodifiers ctrl+a BackSpace
  xdotool type --delay 30 "${*: -1}"
}
enter_until_gone() {  # a key sent before the window has the focus is lost: send again while it stays
  local attempt end
  for attempt in 1 2 3 4; do
    timeout 5 xdotool windowactivate --sync "$1" 2>/dev/null || timeout 5 xdotool windowfocus --sync "$1" 2>/dev/null
    xdotool key Return
    end=$((SECONDS + 5))
    while [ "$SECONDS" -lt "$end" ]; do is_gone "$1" && return 0; sleep 0.1; done
  done
  fail "$2 did not close on Enter"
}
message_box() {  # the message box on screen: titled with the program's name
  local w
  for w in $(windows); do [ "$(xdotool getwindowname "$w" 2>/dev/null)" = Zandrel ] && { echo "$w"; return 0; }; done
  return 1
}
answer_box() {  # NAME: the next message box, shot and answered with Enter (OK, or Yes: the default button)
  local box end=$((SECONDS + 30))
  until box=$(message_box); do
    running || fail "the program ended unexpectedly"
    [ "$SECONDS" -lt "$end" ] || fail "no message box for $1"
    sleep 0.1
  done
  sleep 0.5
  shot "$1" "$manager"
  enter_until_gone "$box" "$1"
}
enter_through() {  # NAME COUNT: Enter on each of COUNT boxes, its default button; then no further box
  local i
  for i in $(seq "$2"); do answer_box "$1-$i"; done
  sleep 1
  message_box >/dev/null && fail "$1: more than $2 boxes"
}

# The manager window's controls: left top width height, in twips of its 8535-wide client area.
declare -A at=([cmdList]="120 120 1485 495" [cmdAdd]="1680 120 1485 495" [cmdDelete]="3240 120 1485 495"
  [cmdExit]="4800 120 1485 495" [cmdA01]="6360 120 1815 495" [lvwAsso]="0 1080 8535 6255"
  [txtFileExt]="1920 3120 675 315" [txtTitleRef]="3840 3000 2445 315" [txtExecutableFileSpec]="600 4680 5655 315"
  [cmdDialogFileSpec]="6240 4680 315 255" [cmdProceed]="2640 5520 1365 375" [cmdCancel]="4440 5520 1365 375")
press() { click "$manager" 8535 ${at[$1]}; }
fill() {  # MODE_BUTTON EXT [TITLE [PROGRAM]]: the mode pressed, its fields typed in
  press "$1"; sleep 0.5
  type_into ${at[txtFileExt]} "$2"
  [ $# -lt 3 ] || type_into ${at[txtTitleRef]} "$3"
  [ $# -lt 4 ] || type_into ${at[txtExecutableFileSpec]} "$4"
}
apply() {  # NAME COUNT MODE_BUTTON EXT [TITLE [PROGRAM]]: the fields filled, Proceed, Enter through COUNT boxes
  local name=$1 count=$2; shift 2
  fill "$@"; sleep 0.3; shot "$name-mode"; press cmdProceed
  enter_through "$name" "$count"
}
