#!/usr/bin/env bash
# zandrel-reg.exe writing to a console: `script` gives Wine a terminal, so the
# tool's standard output is a console, whose code page is 437 there as on a
# Western Windows. Cyrillic names must read right on it (the console's
# wide-character API) from every verb, query and why alike; the UTF-8 bytes
# themselves would show as "╨Ü╨╝╤Å".
#
# Usage: ConsoleWine.sh ZANDREL_REG_EXE
# Exit codes: 0 passed, 1 failed, 77 skipped (no Wine).
set -euo pipefail
exe=$(readlink -f "$1")
run=$(readlink -f "$(dirname "$0")/../../scripts/wine-run")
[ -x /usr/lib/wine/wine64 ] || command -v wine64 >/dev/null || { echo "SKIP: no Wine"; exit 77; }
command -v script >/dev/null || { echo "FAIL: script (bsdutils) is not installed"; exit 1; }
export LANG=C.UTF-8  # the terminal's own encoding, which Wine writes the console's text in

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The classes: the keys the tool changes on Windows.
key='HKEY_CLASSES_ROOT\ZandrelTests.console-'${work##*.}
ext=.zqcon${work##*.}
printf 'REGEDIT4\r\n\r\n[%s\\Кириллица]\r\n"Имя"="Текстовый документ"\r\n[HKEY_CLASSES_ROOT\\%s]\r\n@="Документ"\r\n' \
  "$key" "$ext" >"$work/in.reg"
printf 'REGEDIT4\r\n\r\n[-%s]\r\n[-HKEY_CLASSES_ROOT\\%s]\r\n' "$key" "$ext" >"$work/out.reg"
"$run" "$exe" import "Z:$work/in.reg"
status=0
script -qec "'$run' '$exe' query '$key\\Кириллица'" /dev/null </dev/null >"$work/tty" || status=$?
script -qec "'$run' '$exe' why '$ext'" /dev/null </dev/null >"$work/why" || status=$?
"$run" "$exe" import "Z:$work/out.reg"
# The terminal's text without Wine's cursor sequences and carriage returns.
shown=$(sed 's/\x1b\[[?0-9;]*[A-Za-z]//g; s/\r//g' "$work/tty")
expected=$(printf '\n%s\\Кириллица\n    Имя    REG_SZ    Текстовый документ' "$key")
why=$(sed 's/\x1b\[[?0-9;]*[A-Za-z]//g; s/\r//g' "$work/why" | grep '^machine: ' | head -1)
if [ "$status" != 0 ] || [ "$shown" != "$expected" ] ||
   [ "$why" != "machine: HKEY_LOCAL_MACHINE\SOFTWARE\Classes\\$ext -> Документ" ]; then
  echo "FAIL: the console showed (status $status):"
  printf '%s\n' "$shown" "$why" | od -c | head -20
  exit 1
fi
echo "PASS: the console shows Cyrillic names as they are"
