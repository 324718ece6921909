#!/usr/bin/env bash
# Runs a Windows test program under Wine on a virtual display, in a Wine
# prefix of its own: a shared prefix's desktop process stays bound to the
# display it first met, which is gone once that run ends.
#   OnDisplay.sh WINE_RUN PROGRAM.exe [ARGS...]
# Exit codes: the program's; 77 when xvfb-run is missing.
set -uo pipefail
command -v xvfb-run >/dev/null || { echo "SKIP: xvfb-run is not installed"; exit 77; }
run=$1
shift
export WINEPREFIX
WINEPREFIX=$(mktemp -d /tmp/zandrel-wine-display.XXXXXX)
trap '"$run" --stop; rm -rf "$WINEPREFIX"' EXIT
xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$run" "$@"
