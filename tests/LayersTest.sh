#!/usr/bin/env bash
# The layers of src/: a folder's sources include headers of their own folder
# and of the folders its libraries link (through their links), never of
# another, and no two folders link each other. The table is the build's own
# link graph (layers.txt, written by zandrel_write_layers), so each build
# checks the folders it builds. Qt and <windows.h> stay in their realisations.
#   tests/LayersTest.sh SOURCE_ROOT LAYERS_FILE
# Relative paths are taken from the directory the script runs in; a table not
# found there is looked for below SOURCE_ROOT (build/layers.txt). A table
# that cannot be read, or holds no folder, fails: it would check nothing.
# With --self-test, checks that a wrong arrow in a copy of the table, and a
# table that is not there, fail.
set -uo pipefail

self_test=0
if [ "${1:-}" = --self-test ]; then self_test=1; shift; fi
[ $# = 2 ] || { echo "usage: tests/LayersTest.sh [--self-test] SOURCE_ROOT LAYERS_FILE" >&2; exit 2; }
root=$(cd "$1" 2>/dev/null && pwd) || { echo "layers: no source root $1" >&2; exit 2; }
[ -d "$root/src" ] || { echo "layers: $root holds no src/" >&2; exit 2; }
case $2 in
  /*) tried=("$2") ;;
  *) tried=("$PWD/$2"); [ "$PWD" = "$root" ] || tried+=("$root/$2") ;;
esac
table=
for candidate in "${tried[@]}"; do
  if [ -f "$candidate" ] && [ -r "$candidate" ]; then table=$candidate; break; fi
done
[ -n "$table" ] || { echo "layers: cannot read the table $2 (looked at ${tried[*]})" >&2; exit 2; }

if [ $self_test = 1 ]; then
  scratch=$(mktemp)
  trap 'rm -f "$scratch"' EXIT
  # Drop every arrow to store: the sources above it that include it fail.
  sed -E 's/ store( |$)/\1/g' "$table" >"$scratch"
  if "$0" "$root" "$scratch" >/dev/null; then echo "a table without store's arrows passed"; exit 1; fi
  # An arrow back up (registry to store) is a cycle.
  { cat "$table"; echo "registry: store"; } >"$scratch"
  out=$("$0" "$root" "$scratch") && { echo "a cycle passed"; exit 1; }
  grep -q "registry and store link each other" <<<"$out" || { echo "cycle not named: $out"; exit 1; }
  # Neither a table that is not there nor an empty one checks anything.
  out=$("$0" "$root" "$scratch.missing" 2>&1) && { echo "a missing table passed"; exit 1; }
  grep -q "cannot read the table" <<<"$out" || { echo "missing table not named: $out"; exit 1; }
  : >"$scratch"
  out=$("$0" "$root" "$scratch" 2>&1) && { echo "an empty table passed"; exit 1; }
  echo "layers: a wrong arrow and a missing table fail"
  exit 0
fi

cd "$root/src" || exit 2

declare -A direct=() below=()
line_number=0
while IFS= read -r line || [ -n "$line" ]; do
  line_number=$((line_number + 1))
  [[ "$line" =~ ^([A-Za-z0-9_/]+):(( [A-Za-z0-9_/]+)*)$ ]] || {
    echo "layers: $table:$line_number is not \"folder: links\": $line" >&2
    exit 2
  }
  folder=${BASH_REMATCH[1]}
  [ -d "$folder" ] || { echo "layers: $table names $folder, which $root/src lacks" >&2; exit 2; }
  direct[$folder]+=" ${BASH_REMATCH[2]}"
done <"$table"
[ ${#direct[@]} -gt 0 ] || { echo "layers: the table $table holds no folder" >&2; exit 2; }

# below[F]: every folder F reaches through links, F itself left out.
for folder in "${!direct[@]}"; do
  seen=" " todo="${direct[$folder]}"
  while [ -n "${todo// }" ]; do
    read -r next todo <<<"$todo"
    [[ "$seen" == *" $next "* || "$next" == "$folder" ]] && continue
    seen+="$next "
    todo+=" ${direct[$next]:-}"
  done
  below[$folder]=$seen
done

status=0
fail() { echo "$*"; status=1; }

for a in "${!below[@]}"; do
  for b in ${below[$a]}; do
    [[ "$a" < "$b" && "${below[$b]:-}" == *" $a "* ]] && fail "table: $a and $b link each other"
  done
done

while IFS= read -r file; do
  folder=$(dirname "$file"); folder=${folder#./}
  # A folder this build leaves out (the other system's) is checked by the
  # build that has it.
  [[ -v below[$folder] ]] || continue
  while IFS= read -r line; do
    included=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/' <<<"$line")
    to=$(dirname "$included")
    [ "$to" = "." ] && continue
    [ "$to" = "$folder" ] && continue
    [[ -v below[$to] ]] || continue
    [[ "${below[$folder]}" == *" $to "* ]] || fail "$file: includes $included, not below $folder"
  done < <(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file")
  if [ "$folder" != ui/qt ] && grep -qE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q' "$file"; then
    fail "$file: includes Qt outside ui/qt"
  fi
  case $folder in registry/win32|ui/win32|windows|files|text) ;; *)
    if grep -qiE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<windows\.h>' "$file"; then
      fail "$file: includes <windows.h> outside registry/win32, ui/win32, windows, files and text"
    fi
  esac
done < <(find . -type f \( -name '*.h' -o -name '*.cpp' \) | sort)

[ $status = 0 ] && echo "layers: every include points down"
exit $status
