#!/usr/bin/env bash
# The main command: builds TarveloSetup.exe and runs it under Wine in the run folder, on the
# caller's display or on a private Xvfb when there is none.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TARVELO_BUILD_DIR:-$root/build}
bash "$root/tools/setup.sh"
arch=$(bash "$root/tools/test-arch.sh")
cmake -S "$root" -B "$build/win32" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" >/dev/null
cmake --build "$build/win32" --target TarveloSetup run_folder
bash "$root/tools/with-display.sh" bash -c '
  cd "$1/run"
  rc=0
  "$1/wine-run.sh" ./TarveloSetup.exe || rc=$?
  echo "TarveloSetup.exe exit code: $rc"
  log=$(WINEPREFIX="$1/wineprefix" "$1/wine-run.sh" cmd /c echo %TEMP% 2>/dev/null | tr -d "\r")
  echo "log: $(WINEPREFIX="$1/wineprefix" winepath -u "$log\\Tarvelo\\Logs\\InstallerLogs\\Stage1Logs.txt" 2>/dev/null || true)"
  WINEPREFIX="$1/wineprefix" wineserver -k 2>/dev/null || true' _ "$build/win32"
