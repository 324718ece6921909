#!/usr/bin/env bash
# Runs the real zandrel.exe under Wine on a virtual X display, driven by mouse
# and keyboard: the splash, the list, an association added for a marker
# program (Ctrl+Z in its title box takes back the typing) and the shell told
# of it (SHChangeNotify, in shell32's trace), the shell opening a file of that
# extension through it ("start"), zandrel-reg why with a user's choice for it,
# the association removed (the shell told again), "start" no longer finding
# it, the exit by Yes, and a REGEDIT4 file in the prefix's code page 1251.
# The marker program is chosen in the file-open dialog.
# Screenshots of every step go to SCREENSHOT_FOLDER.
#
# Usage: EndToEndWine.sh APP_FOLDER MARKER_EXE SCREENSHOT_FOLDER
#   APP_FOLDER holds zandrel.exe and the Pic and Sound folders.
# Exit codes: 0 passed, 1 failed, 77 skipped (no Wine or no xvfb-run).
set -uo pipefail

app=$(readlink -f "$1")
marker_exe=$(readlink -f "$2")
shots=$3
mkdir -p "$shots"
shots=$(readlink -f "$shots")
wine=${ZANDREL_WINE:-/usr/lib/wine/wine64}
wineserver=${ZANDREL_WINESERVER:-/usr/lib/wine/wineserver}

source "$(dirname "$0")/Drive.sh"
for tool in "$wine" xvfb-run; do command -v "$tool" >/dev/null || { echo "SKIP: no $tool"; exit 77; }; done
for tool in xdotool import; do command -v "$tool" >/dev/null || { echo "FAIL: no $tool"; exit 1; }; done
on_virtual_display "$@"

work=$(mktemp -d /tmp/zandrel-wine-e2e.XXXXXX)
pid=
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill "$pid" 2>/dev/null; fi
  WINEPREFIX=$work/prefix "$wineserver" -k 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Message boxes and dialogs speak Russian only when the locale exists here.
mkdir -p "$work/locale"
if localedef -i ru_RU -f UTF-8 "$work/locale/ru_RU.UTF-8" >/dev/null 2>&1; then
  export LOCPATH=$work/locale LANG=ru_RU.UTF-8
fi
printf 'pcm.!default { type null }\n' >"$work/asound.conf"
export ALSA_CONFIG_PATH=$work/asound.conf

# Wine names every X window of a program after its executable.
windows() { xdotool search --onlyvisible --class zandrel.exe 2>/dev/null | sort; }
# A screenshot of the screen, or of window $2 cut out of it (a window that
# closes while import reads it would leave import waiting).
shot() {
  timeout 20 import -window root "$work/shot.png" || fail "screenshot $1"
  if [ -n "${2:-}" ] && geometry "$2" 2>/dev/null; then
    convert "$work/shot.png" -crop "${WIDTH}x$HEIGHT+$X+$Y" +repage "$shots/$1.png"
  else
    cp "$work/shot.png" "$shots/$1.png"
  fi
  log "screenshot $shots/$1.png"
}
# How often the program told the shell that associations changed, so far.
notifies() { grep -c 'SHChangeNotify (0x08000000,0x00000000,' "$work/zandrel.log" || true; }
expect_notifies() {
  local sent
  sent=$(notifies)
  [ "$sent" = "$1" ] || fail "after $2 the program told the shell $sent times, not $1"
  log "the shell was told after $2"
}
# The shell's "start" on a file; its status. Without a display, start says
# on the console, not in message boxes, that no program is associated.
shell_start() { env -u DISPLAY timeout 30 "$wine" start /wait /unix "$1" >"$work/start.log" 2>&1; }

log "preparing a Wine prefix"
"$wine" wineboot -i >/dev/null 2>&1 || fail "wineboot failed"
mkdir -p "$work/marker"
cp "$marker_exe" "$work/marker/marker.exe" || fail "no marker program at $marker_exe"
marker_win=$("$wine" winepath -w "$work/marker/marker.exe" 2>/dev/null | tr -d '\r')
[ -n "$marker_win" ] || fail "no Windows path for the marker"

ext=zqwine$$
title=ZqWineEndToEnd.File
echo data >"$work/sample.$ext"
shell_start "$work/sample.$ext" && fail "start opened .$ext before it was associated"

# --- Start: the splash, then the manager window -----------------------------
log "starting $app/zandrel.exe"
# shell32's trace records the program's calls of SHChangeNotify.
(cd "$work" && WINEDEBUG=-all,trace+shell exec "$wine" "$app/zandrel.exe") >"$work/zandrel.log" 2>&1 &
pid=$!
splash=$(new_window "" 30) || fail "the splash window did not appear"
sleep 1.5
shot splash "$splash"
wait_until 30 "the manager window" manager_shown
manager=$(xdotool search --onlyvisible --name '^Orvanta$' | head -1)
wait_until 10 "the splash to close" is_gone "$splash"
log "manager $manager"
sleep 0.5
shot manager "$manager"

# --- List ---------------------------------------------------------------------
press cmdList
answer_box list-message
sleep 0.5
shot list "$manager"

# --- Add: the marker program for the new extension ----------------------------
# Ctrl+Z in a text box is the box's own: it takes back what was typed last.
fill cmdAdd "$ext" Wrong
xdotool key --clearmodifiers ctrl+z
xdotool type --delay 30 "$title"
# The program through the file-open dialog: its name typed, Enter.
press cmdDialogFileSpec
dialog=$(new_window "$manager" 30) || fail "the file-open dialog did not open"
sleep 1
shot browse "$dialog"
# Its name field completes as it is typed: a name that went wrong is typed again.
for attempt in 1 2 3; do
  xdotool windowactivate --sync "$dialog" 2>/dev/null || xdotool windowfocus "$dialog" 2>/dev/null
  xdotool key --clearmodifiers ctrl+a BackSpace
  xdotool type --delay 50 "$marker_win"
  sleep 0.5
  xdotool key Return
  end=$((SECONDS + 5))
  while [ "$SECONDS" -lt "$end" ] && ! is_gone "$dialog"; do sleep 0.2; done
  is_gone "$dialog" && break
  log "the file-open dialog is still open (attempt $attempt)"
  box=$(new_window "$(printf '%s\n' "$manager" "$dialog")" 2) && { xdotool key Return; sleep 0.5; }
done
is_gone "$dialog" || fail "the file-open dialog did not take the marker"
sleep 0.3
shot add-mode "$manager"
press cmdProceed
enter_through add 2
shot add-listed "$manager"
expect_notifies 1 "the add"

# --- The shell opens a file of the extension with the marker -----------------
shell_start "$work/sample.$ext" || fail "start did not open .$ext: $(cat "$work/start.log")"
wait_until 10 "the marker's output" test -s "$work/marker/marker.out"
grep -q "sample.$ext" "$work/marker/marker.out" || fail "the marker got: $(cat "$work/marker/marker.out")"
log "start ran the marker for sample.$ext"
rm "$work/marker/marker.out"

# --- why: the machine's and the user's keys, the user's choice, what Explorer runs
choice="HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.$ext\\UserChoice"
"$wine" reg add "$choice" /v ProgId /d "$title" /f >/dev/null 2>&1 || fail "reg add $choice"
"$wine" "$app/zandrel-reg.exe" why ".$ext" 2>&1 | tr -d '\r' >"$work/why.txt"
command="\"$marker_win\" \"%1\""
printf '%s\n' "machine: HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.$ext -> $title" \
  "machine: HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\$title\\shell\\open\\command -> $command" \
  "user: HKEY_CURRENT_USER\\Software\\Classes\\.$ext -> (none)" "user's choice: $choice ProgId -> $title" \
  "command (AssocQueryStringA, ASSOCSTR_COMMAND): $command" >"$work/why.expected"
diff "$work/why.expected" "$work/why.txt" >"$work/why.diff" || fail "zandrel-reg why: $(cat "$work/why.diff")"
"$wine" reg delete "${choice%\\UserChoice}" /f >/dev/null 2>&1

# --- Remove, with its description -------------------------------------------
apply remove 3 cmdDelete ".$ext" "$title"  # the question, the result, the list's count
expect_notifies 2 "the removal"

"$wine" reg query "HKEY_CLASSES_ROOT\\.$ext" >/dev/null 2>&1 && fail "the extension key is still there"
"$wine" reg query "HKEY_CLASSES_ROOT\\$title" >/dev/null 2>&1 && fail "the title key is still there"
shell_start "$work/sample.$ext" && fail "start still opened .$ext after the removal"
sleep 1
[ -e "$work/marker/marker.out" ] && fail "the marker ran after the removal"
log "start no longer finds .$ext"

# --- Exit by Yes ----------------------------------------------------------------
press cmdExit
confirm=$(new_window "$manager" 20) || fail "the exit confirmation did not open"
sleep 0.5
shot exit "$confirm"
click "$confirm" 4230 120 840 1575 615          # cmdYes01
wait_until 20 "the program to end after Yes" ended
wait "$pid"; status=$?; pid=
[ "$status" -eq 0 ] || fail "the program ended with status $status: $(tail -5 "$work/zandrel.log")"

# --- An 8-bit .reg file is read in the system's code page (1251 here) ----------
if [ "${LANG:-}" = ru_RU.UTF-8 ]; then
  printf 'REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\.%s1251]\r\n@="\304\356\352\363\354\345\355\362"\r\n' "$ext" \
    >"$work/cp1251.reg"
  "$wine" "$app/zandrel-reg.exe" import "Z:$work/cp1251.reg" || fail "the import of a file in code page 1251"
  got=$("$wine" "$app/zandrel-reg.exe" query "HKCR\\.${ext}1251" 2>&1 | tr -d '\r' | grep REG_SZ)
  [ "$got" = "    (Default)    REG_SZ    Документ" ] || fail "a file in code page 1251 imported as: $got"
  log "a REGEDIT4 file in code page 1251 gave its Cyrillic"
fi
log "PASS"
