#!/usr/bin/env bash
# Photographs every installer dialog with the default skin (both progress layouts, the quit
# confirmation, the notices, the message dialogs, the proxy and credentials prompts), under the
# caller's X display or a private Xvfb.
#   tools/dialog-screenshots.sh [--scale PERCENT] [LANGUAGE... | all]
# English (the default) goes to <build>/screenshots/dialogs/, any other language to
# <build>/screenshots/dialogs-LANGUAGE/; "all" takes every language shipped in data/. A display
# scale other than 100 (125, 150, 175, 200, ...: Wine's DPI is the percentage of 96) adds it to
# the folder's name (dialogs-150/, dialogs-de-DE-150/).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TARVELO_BUILD_DIR:-$root/build}
scale=100
if [ "${1:-}" = --scale ]; then
  scale=${2:?--scale takes a percentage}
  shift 2
fi
case $scale in
  ''|*[!0-9]*) echo "--scale takes a whole percentage, not $scale" >&2; exit 2 ;;
esac
dpi=$((scale * 96 / 100))
if [ $((dpi * 100 / 96)) -ne "$scale" ] || [ "$dpi" -lt 48 ]; then
  echo "$scale % is no whole DPI (use 100, 125, 150, 175, 200, ...)" >&2
  exit 2
fi
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
  [ "$scale" = 100 ] || out=$out-$scale
  mkdir -p "$out"
  rm -f "$out"/*.png
  outs+=("$language=$out")
done
bash "$root/tools/with-display.sh" bash -c '
  set -e
  root=$1 tree=$2 dpi=$3
  shift 3
  bash "$root/tools/wine-prefix.sh" "$tree/wineprefix" >/dev/null
  rc=0
  run="Z:${tree//\//\\}\\run"
  for pair in "$@"; do
    WINE_PREFIX="$tree/wineprefix" bash "$root/tools/with-dpi.sh" "$dpi" \
      "$tree/wine-run.sh" "$tree/dialog_gallery.exe" "$run" "${pair#*=}" "${pair%%=*}" || rc=$?
  done
  for prefix in "$tree/wineprefix" "$tree/wineprefix-dpi$dpi"; do
    [ -d "$prefix" ] && WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
  done
  exit $rc' _ "$root" "$tree" "$dpi" "${outs[@]}"
for pair in "${outs[@]}"; do echo "screenshots (${pair%%=*}, $scale %) in ${pair#*=}"; done
