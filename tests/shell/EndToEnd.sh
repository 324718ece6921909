#!/usr/bin/env bash
# The real program on a virtual X display with a fresh hive and private XDG
# folders, driven as a user would: an unusable hive and a missing picture each
# end it with one message; then it waits out the splash, lists, presses Enter
# through every box of an add titled exefile and of the removal of an
# extension whose title another names (no other file type changes), adds an
# association for a marker script (gio open and xdg-open then run it), removes
# it with its description (after a second add, Ctrl+Z twice undoes both
# adds and Ctrl+Y brings the first back; nothing opens with it any more
# after the removal and none of
# Zandrel's desktop files is left); an association the desktop made with
# xdg-mime default is in the store, its removal is refused with the desktop's
# message and changes no file, and a new default shows at the next listing;
# then it changes the program of the extension left with the shared title (a
# double click on its row, the program picked in the file dialog, Enter
# through; gio open follows), opens the About box, answers the exit
# confirmation No and then Yes with the About box open, and dismisses the
# About box, which ends it.
# zandrel-reg reads the hive back. Screenshots go to SCREENSHOT_FOLDER.
#   EndToEnd.sh APP_FOLDER SCREENSHOT_FOLDER     (exit 77: no xvfb-run)
set -uo pipefail
app=$(readlink -f "$1")
mkdir -p "$2"
shots=$(readlink -f "$2")
source "$(dirname "$0")/Drive.sh"
command -v xvfb-run >/dev/null || { echo "SKIP: xvfb-run is not installed"; exit 77; }
for tool in xdotool import gio xdg-open xdg-mime update-mime-database update-desktop-database; do command -v "$tool" >/dev/null || { echo "FAIL: no $tool"; exit 1; }; done
on_virtual_display "$@"

work=$(mktemp -d /tmp/zandrel-e2e.XXXXXX)
pid=
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT
export ZANDREL_HIVE=$work/hive.db XDG_RUNTIME_DIR=$work/xdg ALSA_CONFIG_PATH=$work/asound.conf
mkdir -m 700 "$XDG_RUNTIME_DIR"
printf 'pcm.!default { type null }\n' >"$ALSA_CONFIG_PATH"
printf 'leak:libdbus-1.so\n' >"$work/lsan.supp"  # the desktop bus keeps a buffer to the end
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$work/lsan.supp"
unset QT_QPA_PLATFORM
# The desktop's association data, private, with another program's default that must outlive Zandrel.
export XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
mkdir -p "$XDG_CONFIG_HOME" "$work/my tools"
printf '[Default Applications]\ntext/x-zq-other=zq-other.desktop;\n' >"$XDG_CONFIG_HOME/mimeapps.list"
marker="$work/my tools/marker"  # the association's program: records each file it is asked to open
printf '#!/bin/sh\nprintf "%%s\\n" "$1" >>"%s"\n' "$work/opened.txt" >"$marker"
chmod +x "$marker"
# The desktop's own association: a type of *.zqdesk, two programs for it, the default set by xdg-mime.
mkdir -p "$XDG_DATA_HOME/mime/packages" "$XDG_DATA_HOME/applications"
printf '<?xml version="1.0"?>\n<mime-info xmlns="http://www.freedesktop.org/standards/shared-mime-info">
  <mime-type type="text/x-zq-desk"><comment>ZQ desk</comment><glob pattern="*.zqdesk"/></mime-type>\n</mime-info>\n' \
  >"$XDG_DATA_HOME/mime/packages/zq-desk.xml"
for id in viewer second; do
  printf '[Desktop Entry]\nType=Application\nName=Zq %s\nExec="%s" --%s %%f\nMimeType=text/x-zq-desk;\n' "$id" "$marker" "$id" \
    >"$XDG_DATA_HOME/applications/zq-$id.desktop"
done
update-mime-database "$XDG_DATA_HOME/mime" && update-desktop-database "$XDG_DATA_HOME/applications" || fail "databases"
xdg-mime default zq-viewer.desktop text/x-zq-desk || fail "xdg-mime default"
cp "$XDG_CONFIG_HOME/mimeapps.list" "$work/mimeapps.before"
desk_command() { reg query 'HKEY_CLASSES_ROOT\text/x-zq-desk\shell\open\command' 2>&1 | grep -F "\"$marker\" --$1 \"%1\"" >/dev/null; }

shot() { import -window root "$shots/$1.png" || fail "screenshot $1"; }
windows() { xdotool search --onlyvisible --pid "$pid" 2>/dev/null | sort; }
reg() { "$app/zandrel-reg" "$@"; }
double_click_selected() {  # NAME: the list's selected row, found by its colour in a shot of the window
  local s top y
  import -window "$manager" "$shots/$1.png" || fail "screenshot $1"
  geometry "$manager"
  s=$(awk -v w="$WIDTH" 'BEGIN { print w / 8535 }')
  top=$(awk -v s="$s" 'BEGIN { printf "%d", 1080 * s + 0.5 }')
  y=$(convert "$shots/$1.png" -crop "1x$((HEIGHT - top))+40+$top" +repage -depth 8 txt:- |
    awk -F'[,:() ]+' 'NR > 1 && $5 - $3 > 60 { if (first == "") first = $2; last = $2 }
      END { if (first != "") print int((first + last) / 2) }')
  [ -n "$y" ] || fail "$1: no selected row"
  xdotool mousemove --sync $((X + 40)) $((Y + top + y)) click --repeat 2 --delay 100 1
}
start_fails() {  # NAME COMMAND...: one box titled Zandrel, alone; Enter ends the run with status 1
  local name=$1 box; shift
  "$@" & pid=$!
  box=$(new_window "" 15) || fail "$name: no message box"
  [ "$(windows)" = "$box" ] || fail "$name: other windows: $(windows)"
  [ "$(xdotool getwindowname "$box")" = Zandrel ] || fail "$name: box title $(xdotool getwindowname "$box")"
  shot "$name"
  enter_until_gone "$box" "$name"
  wait_until 10 "$name to end" ended
  wait "$pid"; local status=$?; pid=
  [ "$status" -eq 1 ] || fail "$name: status $status"
}

# Keys of other file types that no Enter pressed through the boxes may change.
printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' '[HKEY_CLASSES_ROOT\.zqone]' '@="ZqShared.File"' '' \
  '[HKEY_CLASSES_ROOT\.zqtwo]' '@="ZqShared.File"' '' '[HKEY_CLASSES_ROOT\ZqShared.File\shell\open\command]' \
  '@="\"/opt/zq/viewer\" \"%1\""' '' '[HKEY_CLASSES_ROOT\exefile\shell\open\command]' '@="\"%1\" %*"' >"$work/others.reg"
reg import "$work/others.reg" || fail "import of the other file types"
others() { for key in .zqtwo ZqShared.File exefile; do reg query "HKEY_CLASSES_ROOT\\$key" /s; done; }
others >"$work/others.before" 2>&1

printf 'not a hive\n' >"$work/bad.db"
start_fails bad-hive env ZANDREL_HIVE="$work/bad.db" "$app/zandrel"
[ "$(cat "$work/bad.db")" = "not a hive" ] || fail "the unusable hive was changed"
mkdir "$work/app" && cp -r "$app/zandrel" "$app/Pic" "$work/app/" && rm "$work/app/Pic/Me00000.g"
start_fails missing-picture "$work/app/zandrel"

(cd "$work" && exec "$app/zandrel") & pid=$!
splash=$(new_window "" 15) || fail "no splash window"
geometry "$splash"; splash_size="$WIDTH $HEIGHT"
sleep 1; shot splash
wait_until 20 "the manager window" manager_shown
manager=$(xdotool search --onlyvisible --name '^Orvanta$' | head -1)
wait_until 5 "the splash to close" is_gone "$splash"
[ "$(windows)" = "$manager" ] || fail "other windows beside the manager: $(windows)"
geometry "$manager"  # both at their designed client sizes, at one scale
awk -v s="$splash_size" -v mw="$WIDTH" 'BEGIN { split(s, a, " "); k = mw / 569; exit !((a[1] - 748 * k) ^ 2 < 4 && (a[2] - 554 * k) ^ 2 < 4) }' \
  || fail "splash $splash_size, manager ${WIDTH}x$HEIGHT: not the designed sizes"
shot manager

press cmdList
answer_box list-message
# Enter through every box: an add titled exefile, and the removal of an
# extension whose title another names, change no other file type.
apply exefile-add 1 cmdAdd zqexe exefile "$marker"
reg query 'HKEY_CLASSES_ROOT\.zqexe' >/dev/null 2>&1 && fail "the add titled exefile wrote its extension"
press cmdCancel
apply shared-removal 4 cmdDelete .zqone ZqShared.File  # the question, the second question, the result, the list's count
reg query 'HKEY_CLASSES_ROOT\.zqone' >/dev/null 2>&1 && fail "the shared title's extension is still there"
others >"$work/others.after" 2>&1
cmp -s "$work/others.before" "$work/others.after" || fail "other file types changed: $(diff "$work/others.before" "$work/others.after")"
ext=zqendtoend title=ZqEndToEnd.File
apply add 2 cmdAdd "$ext" "$title" "$marker"
reg query 'HKEY_CLASSES_ROOT\.zqdesk' 2>&1 | grep -x '    (Default)    REG_SZ    text/x-zq-desk' >/dev/null ||
  fail "the desktop's association is not in the store"
desk_command viewer || fail "the desktop's association does not open with its default program"
reg query "HKEY_CLASSES_ROOT\\.$ext" 2>&1 | grep -q "$title" || fail "the extension key does not name its title"
reg query "HKEY_CLASSES_ROOT\\$title\\shell\\open\\command" 2>&1 | grep -qF "\"$marker\" \"%1\"" || fail "no open command"
# A second add; Ctrl+Z twice undoes both (the question's default is Да), Ctrl+Y brings the first back.
apply second-add 2 cmdAdd zqendtwo ZqEndTwo.File "$marker"
undo_key() {  # NAME KEY
  press lvwAsso
  xdotool key --clearmodifiers "$2"
  enter_through "$1" 3  # the question, the result, the list's count
}
undo_key undo-second ctrl+z
undo_key undo-first ctrl+z
for key in ".zqendtwo" ".$ext"; do
  reg query "HKEY_CLASSES_ROOT\\$key" >/dev/null 2>&1 && fail "Ctrl+Z twice left $key"
done
history=$(reg history) && [[ "${history%%$'\n'*}" == *"отмена изменения "* ]] || fail "the undo is not in the history: $history"
undo_key redo ctrl+y
reg query "HKEY_CLASSES_ROOT\\.$ext" 2>&1 | grep -q "$title" || fail "Ctrl+Y did not bring the first add back"
reg query "HKEY_CLASSES_ROOT\\.zqendtwo" >/dev/null 2>&1 && fail "Ctrl+Y brought the second add back too"
# The desktop opens the extension's files with the marker (xdg-utils asks GLib on a GNOME-like desktop).
doc="$work/a doc.$ext"
echo "plain words" >"$doc"
: >"$work/opened.txt"
opened() { grep -qxF "$1" "$work/opened.txt"; }
type=$(XDG_CURRENT_DESKTOP=GNOME xdg-mime query filetype "$doc")
[ "$type" = "application/x-zandrel-$ext" ] || fail "xdg-mime names the type '$type'"
gio open "$doc" || fail "gio open failed"
wait_until 10 "gio open to run the marker" opened "$doc"
cp "$doc" "$work/b.$ext"
XDG_CURRENT_DESKTOP=GNOME xdg-open "$work/b.$ext" || fail "xdg-open failed"
wait_until 10 "xdg-open to run the marker" opened "$work/b.$ext"

apply remove 3 cmdDelete ".$ext" "$title"
: >"$work/opened.txt"  # nothing of Zandrel's is left on the desktop
gio open "$doc" 2>/dev/null && sleep 1
[ -s "$work/opened.txt" ] && fail "the removed association still opens the file"
leftovers=$(find "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" -name '*zandrel*' | sort)
[ -z "$leftovers" ] || fail "Zandrel's files remain: $leftovers"
cmp -s "$XDG_CONFIG_HOME/mimeapps.list" "$work/mimeapps.before" || fail "mimeapps.list changed"

# The desktop's association cannot be removed here: one box says so, no question, no file changes.
desktop_files() { find "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" -type f -exec md5sum {} + | sort; }
before=$(desktop_files)
apply remove-desktop 1 cmdDelete .zqdesk
[ "$(desktop_files)" = "$before" ] || fail "the refused removal changed files"
desk_command viewer || fail "the refused removal changed the store"
press cmdCancel
# A default changed on the desktop shows at the next listing.
xdg-mime default zq-second.desktop text/x-zq-desk || fail "xdg-mime default again"
cp "$XDG_CONFIG_HOME/mimeapps.list" "$work/mimeapps.before"
press cmdList
answer_box list-after-default
sleep 0.5; shot list
desk_command second || fail "the new default does not show"
# A row's program changed: .zqtwo (its title now its own) double-clicked, the marker picked in the
# file dialog, Enter through the question (Да), the result and the list; the row shows the marker.
press lvwAsso; sleep 0.2
xdotool type --delay 30 .zqtwo  # typing selects the row and scrolls it into view
sleep 0.5
double_click_selected change-row
sleep 0.5
message_box >/dev/null && fail "a box instead of the frame"
press cmdDialogFileSpec
picker=$(new_window "$manager" 10) || fail "no file dialog"
timeout 5 xdotool windowfocus --sync "$picker" 2>/dev/null
xdotool type --delay 20 "$marker"
xdotool key Return
wait_until 10 "the file dialog to close" is_gone "$picker"
shot change-mode
press cmdProceed
enter_through program-change 3  # the question, the result, the list's count
reg query 'HKEY_CLASSES_ROOT\ZqShared.File\shell\open\command' 2>&1 | grep -qF "\"$marker\" \"%1\"" ||
  fail "the change did not write the marker's command"
shot changed-row
echo "words" >"$work/c.zqtwo"  # the desktop followed: its files open with the marker
: >"$work/opened.txt"
gio open "$work/c.zqtwo" || fail "gio open of the changed extension failed"
wait_until 10 "gio open to run the marker for .zqtwo" opened "$work/c.zqtwo"

press cmdA01
about=$(new_window "$manager" 10) || fail "the About box did not open"
[ "$(xdotool getwindowname "$about")" = "О программе..." ] || fail "About box caption"
shot about
xdotool windowmove --sync "$about" 20 20 2>/dev/null  # it covers the exit button; no title bar to drag it by
press cmdExit
confirm=$(new_window "$(printf '%s\n' "$manager" "$about")" 10) || fail "no exit confirmation"
sleep 0.3; shot exit
click "$confirm" 4230 2520 840 1575 615                                 # cmdNo01
wait_until 10 "No to close the confirmation" is_gone "$confirm"
is_gone "$manager" && fail "No closed the manager window"
press cmdExit
confirm=$(new_window "$(printf '%s\n' "$manager" "$about")" 10) || fail "no exit confirmation again"
sleep 0.3
click "$confirm" 4230 120 840 1575 615                                  # cmdYes01
wait_until 10 "Yes to close the manager window" is_gone "$manager"
wait_until 10 "Yes to close the confirmation" is_gone "$confirm"
sleep 0.5
[ "$(windows)" = "$about" ] || fail "windows beside the About box: $(windows)"
shot about-alone
click "$about" 4740 1680 6240 1335 495                                  # cmdForwrd
wait_until 10 "the program to end" ended
wait "$pid"; status=$?; pid=
[ "$status" -eq 0 ] || fail "the program ended with status $status"

reg query "HKEY_CLASSES_ROOT\\.$ext" >/dev/null 2>&1 && fail "the extension key is still in the hive"
reg query "HKEY_CLASSES_ROOT\\$title" >/dev/null 2>&1 && fail "the title key is still in the hive"
reg export HKEY_CLASSES_ROOT "$work/after.reg" || fail "export"
# grep reads to the end: with -q it may stop iconv by SIGPIPE, which pipefail counts as a failure.
iconv -f UTF-16LE -t UTF-8 "$work/after.reg" | grep '^\[HKEY_CLASSES_ROOT\\\.' >/dev/null || fail "the seeded store is missing"
log PASS
