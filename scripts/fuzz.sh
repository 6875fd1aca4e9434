#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a short while (ZP_FUZZ_SECONDS, 20 by
# default). A crash leaves its input in build/fuzz/crashes and fails the run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${ZP_FUZZ_SECONDS:-20}
build="$root/build/fuzz"

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZP_FUZZ=ON \
  >/dev/null
cmake --build "$build" -j "${ZP_JOBS:-2}"
mkdir -p "$build/crashes"
for target in "$build"/tests/fuzz/fuzz_*; do
  name=$(basename "$target")
  mkdir -p "$build/corpus/$name"
  echo "fuzz: $name for ${seconds}s"
  "$target" -max_total_time="$seconds" -artifact_prefix="$build/crashes/$name-" \
            "$build/corpus/$name" 2>"$build/$name.log" || { tail -n 30 "$build/$name.log" >&2; exit 1; }
done
