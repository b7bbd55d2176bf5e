#!/usr/bin/env bash
# Photographs every installer dialog with the default skin (both progress layouts, the quit
# confirmation, the notices, the message dialogs, the proxy and credentials prompts) into
# <build>/screenshots/dialogs/, under the caller's X display or a private Xvfb.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TARVELO_BUILD_DIR:-$root/build}
arch=$(bash "$root/tools/test-arch.sh")
tree=$build/win32
cmake -S "$root" -B "$tree" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" >/dev/null
cmake --build "$tree" --target dialog_gallery run_folder
out=$build/screenshots/dialogs
mkdir -p "$out"
rm -f "$out"/*.png
bash "$root/tools/with-display.sh" bash -c '
  set -e
  bash "$1/tools/wine-prefix.sh" "$2/wineprefix" >/dev/null
  rc=0
  run="Z:${2//\//\\}\\run"
  "$2/wine-run.sh" "$2/dialog_gallery.exe" "$run" "$3" || rc=$?
  WINEPREFIX="$2/wineprefix" wineserver -k 2>/dev/null || true
  exit $rc' _ "$root" "$tree" "$out"
echo "screenshots in $out"
