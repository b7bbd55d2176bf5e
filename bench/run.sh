#!/usr/bin/env bash
# The benchmark command: builds the shipping exe and the Windows tree, then measures and prints
# the table (also written to BENCHMARKS.md).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TARVELO_BUILD_DIR:-$root/build}
bash "$root/tools/setup.sh"
cmake -S "$root" -B "$build/release" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DTARVELO_THREAD_MODEL=win32 >/dev/null
cmake --build "$build/release" --target TarveloSetup run_folder
arch=$(bash "$root/tools/test-arch.sh")
cmake -S "$root" -B "$build/win32" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" >/dev/null
cmake --build "$build/win32"
exec bash "$root/tools/with-display.sh" bash -c '
  bash "$1/tools/wine-prefix.sh" "$2/win32/wineprefix"
  rc=0
  TARVELO_BUILD_DIR="$2" python3 "$1/bench/bench.py" || rc=$?
  WINEPREFIX="$2/win32/wineprefix" wineserver -k 2>/dev/null || true
  exit $rc' _ "$root" "$build"
