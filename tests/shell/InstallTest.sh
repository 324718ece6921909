#!/usr/bin/env bash
# Installs the build into a fresh prefix: the application folder with both
# programs, the desktop view's helper and their Pic and Sound folders, launchers on the PATH that reach
# them (also through a link), the .desktop entry and the icon. The folders
# under the prefix are the build's (GNUInstallDirs: lib/zandrel, bin, share).
#   InstallTest.sh BUILD_FOLDER APP_DIR BIN_DIR DATA_DIR
set -uo pipefail
prefix=$(mktemp -d /tmp/zandrel-install.XXXXXX)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
cmake --install "$1" --prefix "$prefix" >/dev/null || fail "cmake --install"
app=$prefix/$2 bin=$prefix/$3 data=$prefix/$4
for f in zandrel zandrel-reg; do [ -x "$app/$f" ] && [ -x "$bin/$f" ] || fail "$f or its launcher"; done
[ -x "$app/zandrel-desktop-view" ] || fail "zandrel-desktop-view is not in the application folder"
for f in Pic/Me00000.g Pic/J-2.j Pic/Quirk00009.j Pic/k04-2.g Pic/Abt2.g Pic/Exit.g Pic/Forw2.g Sound/Click.wxv \
         Sound/Splash.wxv; do
  [ -s "$app/$f" ] || fail "$f is not in the application folder"
done
desktop=$data/applications/zandrel.desktop
head -1 "$desktop" | grep -qx '\[Desktop Entry\]' || fail ".desktop entry"
for line in Type=Application Name=Zandrel Exec=zandrel Icon=zandrel Terminal=false; do
  grep -qx "$line" "$desktop" || fail ".desktop entry lacks $line"
done
head -c 8 "$data/icons/hicolor/128x128/apps/zandrel.png" | od -An -tx1 | tr -d ' \n' | grep -qx 89504e470d0a1a0a ||
  fail "no PNG icon"
ln -s "$bin/zandrel-reg" "$prefix/linked-reg"
for launcher in "$bin/zandrel-reg" "$prefix/linked-reg"; do
  # The classes root opens only with the desktop's associations read by the helper beside the tool.
  ZANDREL_HIVE=$prefix/hive.db "$launcher" query 'HKEY_CLASSES_ROOT' | grep -x 'HKEY_CLASSES_ROOT' >/dev/null ||
    fail "$launcher does not run the tool with its helper"
done
grep -qF "$2/zandrel\"" "$bin/zandrel" || fail "the zandrel launcher does not start $2/zandrel"
echo PASS
