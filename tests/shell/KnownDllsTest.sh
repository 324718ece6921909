#!/usr/bin/env bash
# The programs import DLLs of Windows' KnownDLLs alone. The loader finds the
# imported DLLs before any of the program's code runs: a KnownDLL always from
# System32, any other first in the program's own folder, where a copy planted
# beside a program run elevated (from Downloads, say) would run as
# administrator. What else the programs need is loaded at run time from
# System32 alone (ui/win32/Win32SystemDlls.cpp).
#
# Usage: KnownDllsTest.sh OBJDUMP EXE...
#        KnownDllsTest.sh --self-test OBJDUMP EXE  (a list without kernel32 fails)
# Exit codes: 0 passed, 1 failed.
set -uo pipefail

# HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs of Windows
# 10 and 11 (x64), lower-cased and without ".dll"; the entries for running
# other processors' code (_wow64cpu, _wowarmhw, _xtajit) are left out. A
# KnownDLL's own imports come from System32 with it. ntdll is not listed
# there: the kernel maps it into every process before the loader runs.
known=" advapi32 clbcatq combase comdlg32 coml2 difxapi gdi32 gdiplus imagehlp imm32 kernel32 msctf msvcrt
        normaliz nsi ole32 oleaut32 psapi rpcrt4 sechost setupapi shcore shell32 shlwapi user32 wldap32
        wow64 wow64win ws2_32 ntdll "
known=${ZANDREL_KNOWN_DLLS:-$known}

if [ "${1:-}" = --self-test ]; then
  out=$(ZANDREL_KNOWN_DLLS="${known/ kernel32 / }" "$0" "$2" "$3") && { echo "a list without kernel32 passed"; exit 1; }
  grep -q "imports KERNEL32.dll" <<<"$out" || { echo "kernel32 not named: $out"; exit 1; }
  echo "known DLLs: a DLL outside the list fails"
  exit 0
fi

objdump=$1
shift
status=0
for exe in "$@"; do
  if ! names=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p'); then
    echo "$exe: not read"; status=1; continue
  fi
  [ -n "$names" ] || { echo "$exe: no DLL found in its imports"; status=1; continue; }
  while IFS= read -r name; do
    base=$(tr '[:upper:]' '[:lower:]' <<<"${name%.[dD][lL][lL]}")
    [[ "$known" == *[[:space:]]"$base"[[:space:]]* ]] && continue
    echo "$(basename "$exe") imports $name, not a KnownDLL"
    status=1
  done <<<"$names"
done
[ $status = 0 ] && echo "known DLLs: every import of $# programs is a KnownDLL"
exit $status
