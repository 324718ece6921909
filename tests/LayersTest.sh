#!/usr/bin/env bash
# The layers of src/: a folder's sources include headers of their own folder
# and of the folders its libraries link (through their links), never of
# another, and no two folders link each other. The table is the build's own
# link graph (layers.txt, written by zandrel_write_layers), so each build
# checks the folders it builds. Qt and <windows.h> stay in their realisations.
#   tests/LayersTest.sh SOURCE_ROOT LAYERS_FILE
# With --self-test, checks that a wrong arrow in a copy of the table fails.
set -uo pipefail

if [ "${1:-}" = --self-test ]; then
  root=$2 table=$3 scratch=$(mktemp)
  trap 'rm -f "$scratch"' EXIT
  # Drop every arrow to store: the sources above it that include it fail.
  sed -E 's/ store( |$)/\1/g' "$table" >"$scratch"
  if "$0" "$root" "$scratch" >/dev/null; then echo "a table without store's arrows passed"; exit 1; fi
  # An arrow back up (registry to store) is a cycle.
  { cat "$table"; echo "registry: store"; } >"$scratch"
  out=$("$0" "$root" "$scratch") && { echo "a cycle passed"; exit 1; }
  grep -q "registry and store link each other" <<<"$out" || { echo "cycle not named: $out"; exit 1; }
  echo "layers: a wrong arrow fails"
  exit 0
fi

root=$1 table=$2
cd "$root/src" || exit 2

declare -A direct=() below=()
while IFS=: read -r folder links; do
  direct[$folder]+=" $links"
done <"$table"

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
