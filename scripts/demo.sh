#!/usr/bin/env bash
# The main job: builds zorPurge.exe and removes a planted generation-7 product with it under
# Wine, in the sealed prefix of the Windows build, as an administrator would interactively. A
# small robot plants the product and other software beside it, answers the Safe Mode question
# No, presses Uninstall, confirms the folder, answers the restart question No and closes the
# dialog; the script saves screenshots of the Safe Mode question (build/demo/question.png), the
# dialog with the product found (build/demo/zorPurge.png) and the dialog after the removal
# (build/demo/removed.png), and prints what the dialog reported and what the check of the
# footprint found.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"

build=$root/build/windows
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$build" -j 2 --target zorPurge zp_demo_robot zp_test_service wine_prefix

wine_root=$build/wine
tools=$root/tests/wine
"$tools/session-start" "$wine_root"
trap '"$tools/session-stop" "$wine_root"' EXIT
export DISPLAY=$(cat "$wine_root/display")

work=$wine_root/prefix/drive_c/zptest
mkdir -p "$work" "$root/build/demo"
markers() { rm -f "$work"/question.* "$work"/dialog.* "$work"/removed.* "$work"/demo-report.txt; }
markers
ZP_WINE_COPY="$build/program/src/zorPurge.exe:$build/tests/fixtures/zp_test_service.exe" \
ZP_WINE_TIMEOUT=900 \
  "$tools/wine-run" "$wine_root" "$build/tests/e2e/zp_demo_robot.exe" >/dev/null 2>&1 &
robot=$!

# Waits for the robot's marker, then takes the screenshot and tells the robot to go on.
shot() {
  local marker=$1 image=$2
  for _ in $(seq 600); do
    [ -e "$work/$marker.ready" ] && break
    kill -0 "$robot" 2>/dev/null || { echo "demo: the robot ended early" >&2; return 1; }
    sleep 1
  done
  sleep 1
  import -window root "$root/build/demo/$image"
  echo "demo: screenshot saved to build/demo/$image"
  touch "$work/$marker.shot"
}

echo "demo: zorPurge.exe started; waiting for the Safe Mode question"
shot question question.png
echo "demo: answered No; waiting for the dialog"
shot dialog zorPurge.png
echo "demo: Uninstall pressed and the folder confirmed; waiting for the end of the removal"
shot removed removed.png
status=0
wait "$robot" || status=$?
[ -e "$work/demo-report.txt" ] && sed 's/^/demo: /' "$work/demo-report.txt" | tr -d '\r'
markers
[ "$status" -eq 0 ] && echo "demo: the dialog was closed; zorPurge.exe ended with exit code 0" \
  || { echo "demo: the run did not end as expected (robot status $status)" >&2; exit 1; }
