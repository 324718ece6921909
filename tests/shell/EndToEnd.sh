#!/usr/bin/env bash
# Runs the real program on a virtual X display with a fresh hive and private
# XDG folders, the way a user would: waits out the splash, lists, adds an
# association whose program is a marker script (gio open and xdg-open then
# run it), removes it again with its description (nothing opens with it any
# more, and Zandrel's desktop files are gone), opens the About box, answers
# the exit confirmation No and then Yes with the About box still open, and
# dismisses the About box, which ends the process. Then reads the hive back
# with zandrel-reg.
#
# Usage: EndToEnd.sh APP_FOLDER SCREENSHOT_FOLDER
#   APP_FOLDER holds zandrel, zandrel-reg and the Pic and Sound folders.
# Exit codes: 0 passed, 1 failed, 77 skipped (no xvfb-run).
set -uo pipefail

app=$(readlink -f "$1")
shots=$2
mkdir -p "$shots"
shots=$(readlink -f "$shots")

if [ -z "${ZANDREL_E2E_DISPLAY:-}" ]; then
  if ! command -v xvfb-run >/dev/null 2>&1; then
    echo "SKIP: xvfb-run is not installed"
    exit 77
  fi
  for tool in xdotool import xclip gio xdg-open xdg-mime update-mime-database update-desktop-database; do
    command -v "$tool" >/dev/null 2>&1 || { echo "FAIL: $tool is not installed"; exit 1; }
  done
  export ZANDREL_E2E_DISPLAY=1
  # -noreset: the server must survive the moments when no client is connected.
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$0" "$@"
fi

work=$(mktemp -d /tmp/zandrel-e2e.XXXXXX)
pid=
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill "$pid" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT

export ZANDREL_HIVE=$work/hive.db
export XDG_RUNTIME_DIR=$work/xdg
mkdir -m 700 "$XDG_RUNTIME_DIR"
# The desktop's association data: private, with one default of another
# program that must outlive everything Zandrel does.
export XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
mkdir -p "$XDG_CONFIG_HOME"
printf '[Default Applications]\ntext/x-zq-other=zq-other.desktop;\n' >"$XDG_CONFIG_HOME/mimeapps.list"
cp "$XDG_CONFIG_HOME/mimeapps.list" "$work/mimeapps.before"
# The program of the association: records each file it is asked to open.
marker="$work/my tools/marker"
mkdir -p "$work/my tools"
printf '#!/bin/sh\nprintf "%%s\\n" "$1" >>"%s"\n' "$work/opened.txt" >"$marker"
chmod +x "$marker"
# Sound cues play into a null device.
printf 'pcm.!default { type null }\n' >"$work/asound.conf"
export ALSA_CONFIG_PATH=$work/asound.conf
unset QT_QPA_PLATFORM
# Under LeakSanitizer: the desktop bus library keeps a buffer until exit.
printf 'leak:libdbus-1.so\n' >"$work/lsan.supp"
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$work/lsan.supp"

log() { echo "[$(date +%T)] $*"; }
fail() {
  log "FAIL: $*"
  import -window root "$shots/failure.png" 2>/dev/null
  exit 1
}

# Polls a command until it succeeds or the timeout (seconds) passes.
wait_until() {
  local timeout=$1 what=$2
  shift 2
  local end=$((SECONDS + timeout))
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || fail "timed out waiting for $what"
    sleep 0.1
  done
}

# The program's visible top-level windows, one id a line.
windows() { xdotool search --onlyvisible --pid "$pid" 2>/dev/null | sort; }
running() { kill -0 "$pid" 2>/dev/null; }
shot() { import -window root "$shots/$1.png" || fail "screenshot $1"; log "screenshot $shots/$1.png"; }

# Waits for a visible window not in the list $1; prints its id.
new_window() {
  local before=$1 timeout=${2:-15} end=$((SECONDS + ${2:-15})) w
  while [ "$SECONDS" -lt "$end" ]; do
    running || fail "the program ended unexpectedly"
    for w in $(windows); do
      grep -qx "$w" <<<"$before" || { echo "$w"; return 0; }
    done
    sleep 0.1
  done
  return 1
}
# Whole outputs are taken before grep reads them: with pipefail, a grep -q that
# stops at its first match would fail the pipe of a writer still writing.
is_gone() { local all; all=$(windows); ! grep -qx "$1" <<<"$all"; }

# Geometry of a window: sets X Y W H.
geometry() { eval "$(xdotool getwindowgeometry --shell "$1" | grep -E '^(X|Y|WIDTH|HEIGHT)=')"; }

# Clicks the centre of a control given in twips relative to the client
# origin of window $1 whose client width is $2 twips.
click_twips() {
  local win=$1 client_width=$2 left=$3 top=$4 width=$5 height=$6
  geometry "$win"
  local x y
  x=$(awk -v o="$X" -v w="$WIDTH" -v cw="$client_width" -v l="$left" -v s="$width" \
        'BEGIN { printf "%d", o + (l + s / 2) * (w / cw) + 0.5 }')
  y=$(awk -v o="$Y" -v w="$WIDTH" -v cw="$client_width" -v t="$top" -v s="$height" \
        'BEGIN { printf "%d", o + (t + s / 2) * (w / cw) + 0.5 }')
  xdotool mousemove --sync "$x" "$y" click 1
}

# Types into a text box of the manager window, replacing its text.
type_into() {
  click_twips "$manager" 8535 "$@"
  xdotool key --clearmodifiers ctrl+a
  xdotool type --delay 20 "${*: -1}"
}

# Presses Enter in window $1 until it closes (OK, or Yes, the default
# button). A key sent before the window has the input focus is lost, so the
# focus is waited for and the key sent again while the window stays.
enter_until_gone() {
  local win=$1 what=$2 attempt end
  for attempt in 1 2 3 4; do
    timeout 5 xdotool windowfocus --sync "$win" 2>/dev/null
    xdotool key Return
    end=$((SECONDS + 4))
    while [ "$SECONDS" -lt "$end" ]; do
      is_gone "$win" && return 0
      sleep 0.1
    done
    log "$what: still open after Enter (attempt $attempt)"
  done
  fail "$what did not close on Enter"
}

# Answers the next message box over the manager window with Enter.
answer_box() {
  local name=$1 box
  box=$(new_window "$manager" 20) || fail "no message box for $name"
  sleep 0.3
  shot "$name"
  enter_until_gone "$box" "message box $name"
}

# The text of message box $1, copied as a user can copy it (Ctrl+C).
box_text() {
  timeout 5 xdotool windowfocus --sync "$1" 2>/dev/null
  xdotool key --clearmodifiers ctrl+c
  sleep 0.3
  timeout 5 xclip -o -selection clipboard 2>/dev/null
}

reg() { "$app/zandrel-reg" "$@"; }

# --- Failures at start: each shows one message box, and Enter ends the run ---
# $1: screenshot name; the rest: the command. Checks the box is the only
# window, that it carries the application title, and that the status is 1.
start_fails() {
  local name=$1 box
  shift
  "$@" &
  pid=$!
  box=$(new_window "" 15) || fail "$name: no message box"
  [ "$(windows)" = "$box" ] || fail "$name: windows other than the message box: $(windows)"
  [ "$(xdotool getwindowname "$box")" = Zandrel ] || fail "$name: box title $(xdotool getwindowname "$box")"
  sleep 0.3
  shot "$name"
  enter_until_gone "$box" "$name message box"
  local end=$((SECONDS + 10))
  while running && [ "$SECONDS" -lt "$end" ]; do sleep 0.1; done
  running && fail "$name: still running after the message"
  wait "$pid"
  local status=$?
  pid=
  [ "$status" -eq 1 ] || fail "$name: status $status, expected 1"
  log "$name: message shown, status 1"
}

printf 'not a hive\n' >"$work/bad-hive.db"
start_fails bad-hive env ZANDREL_HIVE="$work/bad-hive.db" "$app/zandrel"
[ "$(cat "$work/bad-hive.db")" = "not a hive" ] || fail "the unusable hive file was changed"

mkdir "$work/app-without-still"
cp -r "$app/zandrel" "$app/Pic" "$work/app-without-still/"
rm "$work/app-without-still/Pic/Me00000.g"
start_fails missing-picture "$work/app-without-still/zandrel"

# --- Start: the splash, then the manager window -----------------------------
log "starting $app/zandrel"
(cd "$work" && exec "$app/zandrel") &
pid=$!
splash=$(new_window "" 15) || fail "the splash window did not appear"
geometry "$splash"
splash_width=$WIDTH splash_height=$HEIGHT
log "splash $splash ${WIDTH}x$HEIGHT"
sleep 1
shot splash

manager_shown() { xdotool search --onlyvisible --name '^Orvanta$' >/dev/null 2>&1; }
wait_until 20 "the manager window" manager_shown
manager=$(xdotool search --onlyvisible --name '^Orvanta$' | head -1)
wait_until 5 "the splash to close" is_gone "$splash"
[ "$(windows | wc -l)" -eq 1 ] || fail "windows other than the manager are open: $(windows)"
log "manager $manager"
# Both windows keep their designed client sizes at the same scale.
geometry "$manager"
[ "$(awk -v sw="$splash_width" -v sh="$splash_height" -v mw="$WIDTH" 'BEGIN {
    s = mw / 569; ok = (sw - 748 * s) ^ 2 < 4 && (sh - 554 * s) ^ 2 < 4; print ok }')" = 1 ] \
  || fail "splash ${splash_width}x$splash_height, manager ${WIDTH}x$HEIGHT: not the designed sizes"
sleep 0.3
shot manager

# --- List ---------------------------------------------------------------------
click_twips "$manager" 8535 120 120 1485 495          # cmdList
answer_box list-message
shot list

# --- Add ----------------------------------------------------------------------
ext=zqendtoend
title=ZqEndToEnd.File
click_twips "$manager" 8535 1680 120 1485 495         # cmdAdd
sleep 0.3
type_into $((480 + 1440)) $((2160 + 960)) 675 315 "$ext"       # txtFileExt
type_into $((480 + 3360)) $((2160 + 840)) 2445 315 "$title"    # txtTitleRef
type_into $((480 + 120)) $((2160 + 2520)) 5655 315 "$marker"   # txtExecutableFileSpec
shot add-mode
click_twips "$manager" 8535 $((480 + 2160)) $((2160 + 3360)) 1365 375   # cmdProceed
answer_box add-message
answer_box add-list-message
shot add-listed

reg query "HKEY_CLASSES_ROOT\\.$ext" >"$work/added-ext.txt" 2>&1 \
  || fail "the extension key is not in the hive: $(cat "$work/added-ext.txt")"
grep -q "$title" "$work/added-ext.txt" || fail "the extension does not name its title: $(cat "$work/added-ext.txt")"
reg query "HKEY_CLASSES_ROOT\\$title\\shell\\open\\command" >"$work/added-cmd.txt" 2>&1 \
  || fail "the open command is not in the hive: $(cat "$work/added-cmd.txt")"
grep -q "$marker" "$work/added-cmd.txt" || fail "the open command is wrong: $(cat "$work/added-cmd.txt")"
log "added .$ext -> $title"

# --- The desktop opens files of the extension with the marker -------------------
# xdg-utils asks GLib for types on a GNOME-like desktop; without one it asks
# libmagic, which reads only content.
desktop_env=(env XDG_CURRENT_DESKTOP=GNOME)
doc="$work/a doc.$ext"
echo "plain words" >"$doc"
: >"$work/opened.txt"
opened() { grep -qxF "$1" "$work/opened.txt"; }
type=$("${desktop_env[@]}" xdg-mime query filetype "$doc")
[ "$type" = "application/x-zandrel-$ext" ] || fail "xdg-mime names the type '$type'"
gio open "$doc" || fail "gio open failed"
wait_until 10 "gio open to run the marker" opened "$doc"
cp "$doc" "$work/b.$ext"
"${desktop_env[@]}" xdg-open "$work/b.$ext" || fail "xdg-open failed"
wait_until 10 "xdg-open to run the marker" opened "$work/b.$ext"
log "gio open and xdg-open run the marker; the type is $type"

# --- Remove, with its description -------------------------------------------
# The fields are typed over the selected row's texts: the question must name
# what the fields say, since that is what goes.
click_twips "$manager" 8535 3240 120 1485 495         # cmdDelete
sleep 0.3
type_into $((480 + 1440)) $((2160 + 960)) 675 315 ".$ext"      # txtFileExt
type_into $((480 + 3360)) $((2160 + 840)) 2445 315 "$title"    # txtTitleRef
shot remove-mode
click_twips "$manager" 8535 $((480 + 2160)) $((2160 + 3360)) 1365 375   # cmdProceed
question=$(new_window "$manager" 20) || fail "no removal question"
sleep 0.3
shot remove-question
question_text=$(box_text "$question")
grep -qx "Удаляется расширенние \.$ext" <<<"${question_text//$'\r'/}" \
  || fail "the removal question does not name the typed extension: $question_text"
enter_until_gone "$question" "the removal question"
log "the removal question names .$ext"
answer_box remove-message
answer_box remove-list-message

# --- Nothing of Zandrel's is left on the desktop ----------------------------------
: >"$work/opened.txt"
gio open "$doc" 2>/dev/null && sleep 1
[ -s "$work/opened.txt" ] && fail "the removed association still opens the file"
leftovers=$(find "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" -name '*zandrel*' | sort)
[ -z "$leftovers" ] || fail "Zandrel's files remain: $leftovers"
cmp -s "$XDG_CONFIG_HOME/mimeapps.list" "$work/mimeapps.before" || fail "mimeapps.list changed: $(cat "$XDG_CONFIG_HOME/mimeapps.list")"
log "after the removal nothing opens with the marker and only the other program's default is left"

# --- About, then the exit confirmation: No, then Yes with the About box open --
click_twips "$manager" 8535 6360 120 1815 495         # cmdA01
about=$(new_window "$manager" 10) || fail "the About box did not open"
[ "$(xdotool getwindowname "$about")" = "О программе..." ] || fail "About box caption: $(xdotool getwindowname "$about")"
sleep 0.3
shot about
# Centred, the box covers the exit button; without a window manager there is
# no title bar to drag it by, so move it aside as the user would.
xdotool windowmove --sync "$about" 20 20 2>/dev/null || xdotool windowmove "$about" 20 20
sleep 0.3

click_twips "$manager" 8535 4800 120 1485 495         # cmdExit
confirm=$(new_window "$(printf '%s\n' "$manager" "$about")" 10) || fail "the exit confirmation did not open"
sleep 0.3
shot exit
click_twips "$confirm" 4230 2520 840 1575 615         # cmdNo01
wait_until 10 "the exit confirmation to close on No" is_gone "$confirm"
running || fail "the program ended on No"
is_gone "$manager" && fail "No closed the manager window"

click_twips "$manager" 8535 4800 120 1485 495         # cmdExit
confirm=$(new_window "$(printf '%s\n' "$manager" "$about")" 10) || fail "the exit confirmation did not open again"
sleep 0.3
click_twips "$confirm" 4230 120 840 1575 615          # cmdYes01
wait_until 10 "Yes to close the manager window" is_gone "$manager"
wait_until 10 "Yes to close the exit confirmation" is_gone "$confirm"
sleep 0.5
running || fail "the program ended while the About box was still open"
[ "$(windows)" = "$about" ] || fail "windows other than the About box are open: $(windows)"
shot about-alone

click_twips "$about" 4740 1680 6240 1335 495          # cmdForwrd
end=$((SECONDS + 10))
while running && [ "$SECONDS" -lt "$end" ]; do sleep 0.1; done
running && fail "the program is still running after the About box was dismissed"
wait "$pid"
status=$?
pid=
[ "$status" -eq 0 ] || fail "the program ended with status $status"
log "the program ended with status 0 when the About box was dismissed"

# --- The hive afterwards ------------------------------------------------------
if reg query "HKEY_CLASSES_ROOT\\.$ext" >/dev/null 2>&1; then fail "the extension key is still in the hive"; fi
if reg query "HKEY_CLASSES_ROOT\\$title" >/dev/null 2>&1; then fail "the title key is still in the hive"; fi
reg export HKEY_CLASSES_ROOT "$work/after.reg" || fail "zandrel-reg export failed"
iconv -f UTF-16LE -t UTF-8 "$work/after.reg" >"$work/after.txt" 2>/dev/null \
  || fail "the export is not UTF-16LE text"
if grep -qi "$ext" "$work/after.txt"; then
  fail "the export still names .$ext"
fi
grep -q '^\[HKEY_CLASSES_ROOT\\\.' "$work/after.txt" \
  || fail "the export holds no extension keys: the seeded hive is missing"
log "PASS"
