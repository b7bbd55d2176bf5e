#!/usr/bin/env bash
# The main command: builds everything, then runs the live demonstration (tools/demo.py): a local
# download server and proxy on loopback serve demonstration packages, and TarveloSetup.exe runs
# under Wine on your display (you answer it) or, when there is none, on a private Xvfb (the robot
# answers it and takes a screenshot of each step). It prints where the log and screenshots are
# and stops everything it started. No traffic leaves the machine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TARVELO_BUILD_DIR:-$root/build}
bash "$root/tools/setup.sh"
arch=$(bash "$root/tools/test-arch.sh")
cmake -S "$root" -B "$build/win32" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" >/dev/null
cmake --build "$build/win32"
TARVELO_SOURCE_DIR="$root" TARVELO_BUILD_DIR="$build/win32" WINE_PREFIX="$build/win32/wineprefix" \
  python3 "$root/tools/demo.py"
