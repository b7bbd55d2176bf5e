#!/usr/bin/env bash
# Builds the fuzz tree (clang, libFuzzer, ASan+UBSan) and runs each target for a bounded time
# from its seed corpus in tests/fuzz/corpus/<target>. A crash or a broken invariant fails the
# command; the input that caused it is kept in <build>/fuzz/crashes/. The executions and time of
# each target go to <build>/fuzz/figures.txt.
#   TARVELO_FUZZ_SECONDS  seconds per target (default 60)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TARVELO_BUILD_DIR:-$root/build}
seconds=${TARVELO_FUZZ_SECONDS:-60}
tree=$build/fuzz

cmake -S "$root/tests/fuzz" -B "$tree" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$tree"
mkdir -p "$tree/crashes"
: > "$tree/figures.txt"
rc=0
for target in config_reader text_table script_child_pipe signature_area; do
  # A working copy of the corpus: what the fuzzer adds stays in the build tree.
  work=$tree/corpus/$target
  mkdir -p "$work"
  cp -n "$root/tests/fuzz/corpus/$target/"* "$work/" 2>/dev/null || true
  log=$tree/$target.log
  status=0
  "$tree/${target}_fuzz" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
      -dict="$root/tests/fuzz/$target.dict" -artifact_prefix="$tree/crashes/$target-" \
      -print_final_stats=1 "$work" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  took=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -1)
  line="fuzz $target: ${runs:-0} executions in ${took:-?} s"
  if [ "$status" -ne 0 ]; then
    line="$line: FAILED (exit $status, see $log and $tree/crashes/)"
    tail -40 "$log"
    rc=1
  fi
  echo "$line" | tee -a "$tree/figures.txt"
done
exit $rc
