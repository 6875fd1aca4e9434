#!/usr/bin/env bash
# The main job: builds zorPurge.exe, starts it under Wine in the sealed prefix of the Windows
# build, saves a screenshot of what it shows (build/demo/zorPurge.png) and closes it again.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"

build=$root/build/windows
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$build" -j 2 --target zorPurge wine_prefix

wine_root=$build/wine
tools=$root/tests/wine
"$tools/session-start" "$wine_root"
trap '"$tools/session-stop" "$wine_root"' EXIT
export DISPLAY=$(cat "$wine_root/display")

"$tools/wine-run" "$wine_root" "$build/program/src/zorPurge.exe" >/dev/null 2>&1 &
program=$!
echo "demo: zorPurge.exe started; waiting for its window"
for _ in $(seq 600); do
  xwininfo -root -tree 2>/dev/null | grep -q '"OSTREL Software Uninstall Utility"' && break
  kill -0 "$program" 2>/dev/null || break
  sleep 1
done
sleep 2
mkdir -p "$root/build/demo"
import -window root "$root/build/demo/zorPurge.png"
echo "demo: screenshot saved to build/demo/zorPurge.png"
WINEPREFIX=$wine_root/prefix timeout 60 wineserver -k >/dev/null 2>&1 || true
wait "$program" 2>/dev/null || true
