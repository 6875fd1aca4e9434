#!/usr/bin/env bash
# Times the system's DeleteTree of a 20,000-file folder (three levels deep) in the sealed Wine
# prefix of the Windows build against `cmd /c rd /s /q` of an identical copy, RUNS times each
# (5 by default), and prints both medians and their ratio. Needs `scripts/test.sh` (or the
# Windows build) to have run once. Each run's wall time includes one Wine process start, so the
# start of `cmd /c exit` is measured as well and taken off both.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/windows
wineroot=$build/wine
tool=$build/bench/zp_delete_tree.exe
runs=${RUNS:-5}
export WINEPREFIX=$wineroot/prefix WINEDEBUG=-all
[ -f "$WINEPREFIX/.zp-sealed" ] && [ ! -e "$WINEPREFIX/dosdevices/z:" ] || {
  echo "delete-tree-wine: no sealed prefix in $wineroot; run scripts/test.sh first" >&2; exit 1; }
[ -x "$tool" ] || cmake --build "$build" --target zp_delete_tree >/dev/null
"$root/tests/wine/session-start" "$wineroot" >/dev/null
trap '"$root/tests/wine/session-stop" "$wineroot" >/dev/null 2>&1 || true' EXIT

drive=$WINEPREFIX/drive_c
cd "$drive"
plant() {  # 20 folders x 20 folders x 50 files
  local top=$drive/zpbench/$1
  rm -rf "$top"
  for a in $(seq 1 20); do
    for b in $(seq 1 20); do
      mkdir -p "$top/d$a/e$b"
      (cd "$top/d$a/e$b" && touch $(seq -f 'f%g.dll' 1 50))
    done
  done
}
now() { date +%s%N; }
elapsed() { echo $(( ($2 - $1) / 1000000 )); }
median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

cp -f "$tool" "$drive/zpbench-tool.exe"
ours=() rd=() start=()
for run in $(seq 1 "$runs"); do
  plant ours; plant rd
  t0=$(now); timeout 600 wine cmd /c exit; t1=$(now); start+=("$(elapsed "$t0" "$t1")")
  t0=$(now); timeout 600 wine 'C:\zpbench-tool.exe' 'C:\zpbench\ours' >/dev/null; t1=$(now)
  ours+=("$(elapsed "$t0" "$t1")")
  t0=$(now); timeout 600 wine cmd /c rd /s /q 'C:\zpbench\rd'; t1=$(now)
  rd+=("$(elapsed "$t0" "$t1")")
  [ ! -e "$drive/zpbench/ours" ] || { echo "DeleteTree left files behind" >&2; exit 1; }
done
rm -rf "$drive/zpbench" "$drive/zpbench-tool.exe"
s=$(printf '%s\n' "${start[@]}" | median)
o=$(printf '%s\n' "${ours[@]}" | median)
r=$(printf '%s\n' "${rd[@]}" | median)
awk -v s="$s" -v o="$o" -v r="$r" 'BEGIN {
  printf "process start %d ms; DeleteTree %d ms; rd /s /q %d ms (medians, start taken off)\n", s, o - s, r - s
  printf "ratio DeleteTree / rd: %.2f\n", (o - s) / (r - s) }'
