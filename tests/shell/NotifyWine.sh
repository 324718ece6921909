#!/usr/bin/env bash
# zandrel-reg.exe tells the shell after every change it commits, and only
# then: an import, a set and an undo call SHChangeNotify(SHCNE_ASSOCCHANGED)
# once each, a refused import or set, or one that changed nothing, not at all.
# Wine's own trace of shell32 is the record: the call made in the tool's
# process, whatever it reaches.
# With a marker program, the shell's "start" follows: a set makes a file of
# the extension open with the marker, so does a prefer of an application
# registered here for another extension, and their undo takes that back.
#
# Usage: NotifyWine.sh ZANDREL_REG_EXE [MARKER_EXE]
# Exit codes: 0 passed, 1 failed, 77 skipped (no Wine).
set -euo pipefail
exe=$(readlink -f "$1")
run=$(readlink -f "$(dirname "$0")/../../scripts/wine-run")
[ -x /usr/lib/wine/wine64 ] || command -v wine64 >/dev/null || { echo "SKIP: no Wine"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
key='HKEY_CLASSES_ROOT\ZandrelTests.notify-'${work##*.}
ext=.znotify-${work##*.}
printf 'REGEDIT4\r\n\r\n[%s]\r\n"a"="b"\r\n\r\n[%s\\shell\\open\\command]\r\n@="x %%1"\r\n\r\n' "$key" "$key" \
  >"$work/in.reg"
printf '[HKEY_CLASSES_ROOT\\%s]\r\n@="%s"\r\n' "$ext" "${key#*\\}" >>"$work/in.reg"
printf 'Not a registry file\r\n' >"$work/bad.reg"

failed=0
# Runs the tool with shell32's trace on; $1 how many notifications it must send.
expect() {
  local want=$1 status=0
  shift
  WINEDEBUG=trace+shell "$run" "$exe" "$@" >"$work/out" 2>"$work/trace" || status=$?
  local sent
  sent=$(grep -c 'SHChangeNotify (0x08000000,0x00000000,0000000000000000,0000000000000000)' "$work/trace" || true)
  if [ "$sent" != "$want" ]; then
    echo "FAIL: zandrel-reg $* (status $status) told the shell $sent times, not $want"
    grep -v ':trace:' "$work/trace" | head -5
    failed=1
  fi
}
expect 1 import "Z:$work/in.reg"
expect 0 import "Z:$work/bad.reg"
expect 1 set "$ext" "Z:$exe"
expect 0 set "$ext" "Z:$exe"  # the same program again: nothing changed, nothing told
expect 0 set "$ext" "Z:$work/none.exe"
# A change's number in the history (other runs may have made later changes).
numbered() {
  "$run" "$exe" history | tr -d '\r' | grep -F "$1" | head -1 | awk '{print $1}'
}
number=$(numbered "смена программы $ext")
[ -n "$number" ] || { echo "FAIL: the set is not in the history"; exit 1; }
expect 1 undo "$number"
number=$(numbered "Z:$work/in.reg")
[ -n "$number" ] || { echo "FAIL: the import is not in the history"; exit 1; }
expect 1 undo "$number"
expect 0 undo "$number"  # already undone: nothing changes
[ "$failed" = 0 ] && echo "PASS: the shell hears of every committed change, and only of those"
[ -n "${2:-}" ] || exit "$failed"

# --- What "start" runs: set, prefer, undo ------------------------------------
cp "$2" "$work/marker.exe"
marker=$("$run" winepath -w "$work/marker.exe" | tr -d '\r')
id=${work##*.}
set_ext=.zstart-$id pref_ext=.zpref-$id app="Zandrel Test $id" progid=ZandrelTests.pref-$id
caps='SOFTWARE\ZandrelTests\app-'$id'\Capabilities'
touch "$work/sample$set_ext" "$work/sample$pref_ext"
# The shell's start on a file; true when the marker got it.
opens() {
  rm -f "$work/marker.out"
  env -u DISPLAY timeout 30 "$run" start /wait /unix "$work/$1" >/dev/null 2>&1 || true
  grep -qF "$1" "$work/marker.out" 2>/dev/null
}
check() {  # check WHAT COMMAND...
  local what=$1
  shift
  "$@" || { echo "FAIL: $what"; failed=1; }
}
printf 'REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\%s]\r\n@="ZandrelTests.start-%s"\r\n\r\n' "$set_ext" "$id" >"$work/start.reg"
printf '[HKEY_CLASSES_ROOT\\ZandrelTests.start-%s\\shell\\open\\command]\r\n@="none.exe %%1"\r\n' "$id" >>"$work/start.reg"
"$run" "$exe" import "Z:$work/start.reg" >/dev/null
check "start opened $set_ext before the set" eval '! opens "sample$set_ext"'
# A choice Windows keeps for the user (Wine follows none): the set's output names it.
choice="HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\$set_ext\\UserChoice"
"$run" reg add "$choice" /v ProgId /d "ZandrelTests.start-$id" /f >/dev/null
"$run" reg add "$choice" /v Hash /d "h=" /f >/dev/null
expect 1 set "$set_ext" "$marker"
check "the set's note of the user's choice" grep -qF "Но Windows и дальше будет открывать файлы $set_ext программой «marker.exe»" "$work/out"
check "start does not open $set_ext with the marker after the set" opens "sample$set_ext"
# An application registered as an installer registers it (Wine's reg.exe: no
# change of Zandrel's reaches beyond the classes), its ProgID's command the marker.
"$run" reg add 'HKLM\SOFTWARE\RegisteredApplications' /v "$app" /d "$caps" /f >/dev/null
"$run" reg add "HKLM\\$caps\\FileAssociations" /v "$pref_ext" /d "$progid" /f >/dev/null
printf 'REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\%s\\shell\\open\\command]\r\n@="\\"%s\\" \\"%%1\\""\r\n' "$progid" \
  "${marker//\\/\\\\}" >"$work/app.reg"
"$run" "$exe" import "Z:$work/app.reg" >/dev/null
check "start opened $pref_ext before the prefer" eval '! opens "sample$pref_ext"'
expect 1 prefer "$app"
check "prefer's line" grep -qF "Расширение $pref_ext: (не было) → $progid." "$work/out"
expect 0 prefer "$app"  # nothing left to change
check "start does not open $pref_ext with the marker after the prefer" opens "sample$pref_ext"
number=$(numbered "приложение по умолчанию $app")
check "the prefer is in the history" test -n "$number"
expect 1 undo "$number"
check "the undo of the prefer left HKCR\\$pref_ext" eval '! "$run" reg query "HKCR\\$pref_ext" >/dev/null 2>&1'
check "start still opens $pref_ext after the undo" eval '! opens "sample$pref_ext"'
number=$(numbered "смена программы $set_ext")
expect 1 undo "$number"
check "start still opens $set_ext with the marker after the undo" eval '! opens "sample$set_ext"'
"$run" reg delete 'HKLM\SOFTWARE\RegisteredApplications' /v "$app" /f >/dev/null 2>&1 || true
[ "$failed" = 0 ] && echo "PASS: start follows a set, a prefer and their undo"
exit "$failed"
