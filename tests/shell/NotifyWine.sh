#!/usr/bin/env bash
# zandrel-reg.exe tells the shell after every change it commits, and only
# then: an import, a set and an undo call SHChangeNotify(SHCNE_ASSOCCHANGED)
# once each, a refused import or set not at all. Wine's own trace of shell32 is the
# record: the call made in the tool's process, whatever it reaches.
#
# Usage: NotifyWine.sh ZANDREL_REG_EXE
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
exit "$failed"
