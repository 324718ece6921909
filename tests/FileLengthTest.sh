#!/usr/bin/env bash
# No source file of src, tests, bench or tools (.cpp, .h, .c) runs past 450
# lines: a file that long holds more than one thing. Names each one that does.
#   tests/FileLengthTest.sh SOURCE_ROOT
# With --self-test, checks that a file one line too long fails.
set -uo pipefail
limit=450

if [ "${1:-}" = --self-test ]; then
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
  mkdir -p "$scratch/src/a"
  yes '//' | head -n $limit >"$scratch/src/a/Fits.cpp"
  "$0" "$scratch" >/dev/null || { echo "a file of $limit lines failed"; exit 1; }
  yes '//' | head -n $((limit + 1)) >"$scratch/src/a/Long.h"
  out=$("$0" "$scratch") && { echo "a file of $((limit + 1)) lines passed"; exit 1; }
  [ "$out" = "src/a/Long.h: $((limit + 1)) lines (at most $limit)" ] || { echo "not named: $out"; exit 1; }
  echo "file length: a long file fails"
  exit 0
fi

cd "$1" || exit 2
status=0
while IFS= read -r -d '' file; do
  lines=$(wc -l <"$file")
  if [ "$lines" -gt $limit ]; then
    echo "$file: $lines lines (at most $limit)"
    status=1
  fi
done < <(find src tests bench tools -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.c' \) -print0 2>/dev/null | sort -z)
exit $status
