#!/usr/bin/env bash
# The one test command: installs what is missing, builds both configurations and runs every
# test, the host tests (simulated machine, sanitizers on) first, then the Windows tests under
# Wine (contract tests on the real backend, end-to-end tests of zorPurge.exe, resource and
# import checks). Between the two, the fuzz targets run for a short while.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${ZP_JOBS:-2}

bash "$root/scripts/install-deps.sh"

cmake -S "$root" -B "$root/build/host" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$root/build/host" -j "$jobs"
host=0
(cd "$root/build/host" && ctest --output-on-failure -j "$jobs") || host=1
bash "$root/scripts/fuzz.sh" || host=1

cmake -S "$root" -B "$root/build/windows" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$root/build/windows" -j "$jobs"
windows=0
(cd "$root/build/windows" && ctest --output-on-failure) || windows=1

[ "$host" -eq 0 ] || echo "host tests or fuzzing failed (see above)" >&2
exit $(( host | windows ))
