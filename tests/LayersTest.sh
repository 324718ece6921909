#!/usr/bin/env bash
# The layers of src/: each folder includes headers of its own folder and of
# the folders listed for it here (those below it), never of one above it, so
# no two folders include each other. A new folder joins the table. Qt and
# <windows.h> stay in their realisations.
#   tests/LayersTest.sh [SOURCE_ROOT]
set -uo pipefail
root=${1:-$(dirname "$0")/..}
cd "$root/src" || exit 2

declare -A below=(
  [registry]=""
  [messagebox]=""
  [files]=""
  [platform/ui]="messagebox"
  [platform/sound]=""
  [store]="registry messagebox regfile"
  [regfile]="registry"
  [platform/hive]="registry regfile"
  [platform/journal]="registry"
  [platform/win32]="registry platform/journal"
  [platform/headless]="platform/ui"
  [platform/qt]="platform/ui platform/sound"
  [platform/win32ui]="platform/ui"
  [assets]="platform/ui"
  [platform/desktop]="registry store files regfile"
  [manager]="registry store assets platform/ui"
  [shell]="registry files store regfile assets manager platform/ui platform/headless platform/qt platform/hive platform/journal platform/win32 platform/win32ui platform/desktop"
)

status=0
fail() { echo "$*"; status=1; }

for a in "${!below[@]}"; do
  for b in ${below[$a]}; do
    [[ " ${below[$b]:-} " == *" $a "* ]] && fail "table: $a and $b are listed below each other"
  done
done

while IFS= read -r file; do
  folder=$(dirname "$file"); folder=${folder#./}
  if [[ ! -v below[$folder] ]]; then
    fail "$file: folder $folder is not in the table of tests/LayersTest.sh"
    continue
  fi
  while IFS= read -r line; do
    included=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/' <<<"$line")
    to=$(dirname "$included")
    [ "$to" = "." ] && continue
    [ "$to" = "$folder" ] && continue
    [[ " ${below[$folder]} " == *" $to "* ]] || fail "$file: includes $included, not below $folder"
  done < <(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file")
  if [ "$folder" != platform/qt ] && grep -qE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q' "$file"; then
    fail "$file: includes Qt outside platform/qt"
  fi
  if [ "$folder" != platform/win32 ] && [ "$folder" != platform/win32ui ] && [ "$folder" != files ] && grep -qiE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<windows\.h>' "$file"; then
    fail "$file: includes <windows.h> outside platform/win32, platform/win32ui and files"
  fi
done < <(find . -type f \( -name '*.h' -o -name '*.cpp' \) | sort)

[ $status = 0 ] && echo "layers: every include points down"
exit $status
