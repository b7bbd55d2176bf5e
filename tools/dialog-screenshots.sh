#!/usr/bin/env bash
# Photographs every installer dialog with the default skin (both progress layouts, the quit
# confirmation, the notices, the message dialogs, the proxy and credentials prompts), under the
# caller's X display or a private Xvfb.
#   tools/dialog-screenshots.sh [LANGUAGE... | all]
# English (the default) goes to <build>/screenshots/dialogs/, any other language to
# <build>/screenshots/dialogs-LANGUAGE/; "all" takes every language shipped in data/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TARVELO_BUILD_DIR:-$root/build}
languages=("$@")
[ ${#languages[@]} -gt 0 ] || languages=(en-GB)
if [ "${languages[0]}" = all ]; then
  languages=()
  for f in "$root"/data/Resource-*.txt; do
    name=${f##*/Resource-}
    languages+=("${name%.txt}")
  done
fi
for language in "${languages[@]}"; do
  [ -f "$root/data/Resource-$language.txt" ] || { echo "no data/Resource-$language.txt" >&2; exit 2; }
done
arch=$(bash "$root/tools/test-arch.sh")
tree=$build/win32
cmake -S "$root" -B "$tree" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" >/dev/null
cmake --build "$tree" --target dialog_gallery run_folder
outs=()
for language in "${languages[@]}"; do
  out=$build/screenshots/dialogs
  [ "$language" = en-GB ] || out=$out-$language
  mkdir -p "$out"
  rm -f "$out"/*.png
  outs+=("$language=$out")
done
bash "$root/tools/with-display.sh" bash -c '
  set -e
  root=$1 tree=$2
  shift 2
  bash "$root/tools/wine-prefix.sh" "$tree/wineprefix" >/dev/null
  rc=0
  run="Z:${tree//\//\\}\\run"
  for pair in "$@"; do
    "$tree/wine-run.sh" "$tree/dialog_gallery.exe" "$run" "${pair#*=}" "${pair%%=*}" || rc=$?
  done
  WINEPREFIX="$tree/wineprefix" wineserver -k 2>/dev/null || true
  exit $rc' _ "$root" "$tree" "${outs[@]}"
for pair in "${outs[@]}"; do echo "screenshots (${pair%%=*}) in ${pair#*=}"; done
