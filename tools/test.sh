#!/usr/bin/env bash
# The test command: installs what is missing, builds the native, shipping and Windows test trees,
# and runs every test (native unit tests, in-process tests under Wine, end-to-end runs). It ends
# with the slowest tests of the run and the longest waits of the end-to-end tests.
#
#   bash tools/test.sh [--under-load]
#
# --under-load runs the Windows tests with two busy processes per core beside them
# (tools/under-load.sh), as a machine that is building something else would.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TARVELO_BUILD_DIR:-$root/build}
jobs=${TARVELO_JOBS:-2}
under_load=()
for arg in "$@"; do
  case $arg in
    --under-load) under_load=(bash "$root/tools/under-load.sh") ;;
    *) echo "usage: test.sh [--under-load]" >&2; exit 2 ;;
  esac
done
bash "$root/tools/setup.sh"

report_times() {
  python3 "$root/tools/test-times.py" --waits "$build/win32/e2e-waits.jsonl" \
    "$build/native/ctest-junit.xml" "$build/win32/ctest-junit.xml"
}
rm -f "$build/native/ctest-junit.xml" "$build/win32/ctest-junit.xml" "$build/win32/e2e-waits.jsonl"

echo "== native tree"
cmake -S "$root" -B "$build/native" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build/native"
ctest --test-dir "$build/native" --output-on-failure -j"$jobs" --output-junit ctest-junit.xml || { report_times; exit 1; }

echo "== fuzz targets"
bash "$root/tools/fuzz.sh"

echo "== shipping exe (i686)"
cmake -S "$root" -B "$build/release" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DTARVELO_THREAD_MODEL=win32 >/dev/null
cmake --build "$build/release" --target TarveloSetup run_folder
bash "$root/tools/check-imports.sh" "$build/release/TarveloSetup.exe" pei-i386

arch=$(bash "$root/tools/test-arch.sh")
echo "== Windows test tree ($arch)"
cmake -S "$root" -B "$build/win32" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" >/dev/null
cmake --build "$build/win32"
rm -f "$build/win32"/reliability-*.txt
windows_rc=0
bash "$root/tools/with-display.sh" "${under_load[@]}" bash -c '
  set -e
  bash "$1/tools/wine-prefix.sh" "$2/wineprefix"
  rc=0
  ctest --test-dir "$2" --output-on-failure -j"$3" --output-junit ctest-junit.xml || rc=$?
  # The tree prefix and its copies at other display scales (tools/with-dpi.sh).
  for prefix in "$2/wineprefix" "$2"/wineprefix-dpi*; do
    [ -d "$prefix" ] && { WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true; }
  done
  exit $rc' _ "$root" "$build/win32" "$jobs" || windows_rc=$?

# Figures of this run for the README's reliability section.
summary=$build/reliability-summary.txt
cat "$build/fuzz/figures.txt" "$build/win32"/reliability-*.txt > "$summary" 2>/dev/null || true
echo "== reliability figures of this run ($summary)"
cat "$summary"
report_times
exit "$windows_rc"
