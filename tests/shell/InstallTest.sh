#!/usr/bin/env bash
# Installs the build into a fresh prefix and checks what a desktop needs: the
# application folder with both executables and their Pic and Sound folders,
# launchers on the PATH that reach them (also through a symbolic link), the
# .desktop entry and the icon.
#
# Usage: InstallTest.sh BUILD_FOLDER
set -uo pipefail

build=$1
prefix=$(mktemp -d /tmp/zandrel-install.XXXXXX)
trap 'rm -rf "$prefix"' EXIT

fail() { echo "FAIL: $*"; exit 1; }

cmake --install "$build" --prefix "$prefix" >"$prefix.log" 2>&1 || { cat "$prefix.log"; rm -f "$prefix.log"; fail "cmake --install"; }
rm -f "$prefix.log"

appdir=$prefix/lib/zandrel
for exe in zandrel zandrel-reg; do
  [ -x "$appdir/$exe" ] || fail "$appdir/$exe is missing or not executable"
  [ -x "$prefix/bin/$exe" ] || fail "launcher $prefix/bin/$exe is missing or not executable"
done
for pic in Me00000.g J-1.j J-2.j Quirk00000.j Quirk00009.j k01-1.g k04-2.g Abt2.g Exit.g Exit-y1.g \
           Exit-n2.g Forw1.g Forw2.g; do
  [ -s "$appdir/Pic/$pic" ] || fail "picture $pic is not in the application folder"
done
[ -d "$appdir/Sound" ] || fail "no Sound folder in the application folder"
for cue in Click.wxv Splash.wxv; do
  [ -s "$appdir/Sound/$cue" ] || fail "sound $cue is not in the application folder"
done

desktop=$prefix/share/applications/zandrel.desktop
[ -f "$desktop" ] || fail "no .desktop entry"
head -1 "$desktop" | grep -qx '\[Desktop Entry\]' || fail ".desktop entry lacks its group header"
for line in 'Type=Application' 'Name=Zandrel' 'Exec=zandrel' 'Icon=zandrel' 'Terminal=false'; do
  grep -qx "$line" "$desktop" || fail ".desktop entry lacks $line"
done

icon=$prefix/share/icons/hicolor/128x128/apps/zandrel.png
[ -f "$icon" ] || fail "no icon"
head -c 8 "$icon" | od -An -tx1 | tr -d ' \n' | grep -qx '89504e470d0a1a0a' || fail "the icon is not a PNG"
if command -v identify >/dev/null 2>&1; then
  [ "$(identify -format '%wx%h' "$icon")" = 128x128 ] || fail "the icon is not 128x128"
fi

# The launcher runs the installed tool, also when reached through a link.
ln -s "$prefix/bin/zandrel-reg" "$prefix/linked-reg"
for launcher in "$prefix/bin/zandrel-reg" "$prefix/linked-reg"; do
  out=$(ZANDREL_HIVE=$prefix/hive.db "$launcher" query 'HKEY_CLASSES_ROOT\.txt' 2>&1) \
    || fail "$launcher query failed: $out"
  grep -q '^HKEY_CLASSES_ROOT\\.txt$' <<<"$out" || fail "$launcher query printed: $out"
done
grep -q 'lib/zandrel/zandrel"' "$prefix/bin/zandrel" || fail "the zandrel launcher does not start lib/zandrel/zandrel"
echo PASS
