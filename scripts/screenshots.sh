#!/usr/bin/env bash
# Starts Ordana on a virtual screen (Xvfb, 1024 x 768), opens the main window, the indices window (F3), the
# About box (Alt+D) and the Optiuni menu (Alt+O), and saves a picture of the screen with each, plus the
# measured window frames, in OUTDIR (default build/screenshots). A window manager (openbox), if installed,
# draws the frames as a desktop would.
#   scripts/screenshots.sh [OUTDIR]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
out=$(realpath -m "${1:-build/screenshots}")

[ -f build/build.ninja ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2 --target ordana_tour
rm -f "$out"/*.png "$out"/geometry.txt

timeout 120 xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    if command -v openbox >/dev/null; then openbox --sm-disable & sleep 1; fi
    build/tests/ordana_tour "$1"
' _ "$out"
