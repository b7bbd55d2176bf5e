#!/usr/bin/env bash
# Runs a command with two busy processes per core beside it, as another build beside the tests
# would load the machine, and stops them when the command ends, fails or is interrupted:
#
#   bash tools/under-load.sh COMMAND [ARGUMENT]...
#
# A busy process also ends by itself once this script is gone, even when it was killed with
# SIGKILL and could not stop them. TARVELO_LOAD_PER_CORE changes the count (default 2).
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: under-load.sh COMMAND [ARGUMENT]..." >&2; exit 2; }
per_core=${TARVELO_LOAD_PER_CORE:-2}
count=$(( $(nproc) * per_core ))
busy=()
stop_busy() {
  [ ${#busy[@]} -gt 0 ] || return 0
  # SIGKILL, which nothing can catch: a busy process forked a moment before a command that ends
  # at once may not yet have left this shell's copy, whose trap took a SIGTERM and then lost it
  # in the exec, and the wait below never ended (seen once beside a loaded test run).
  kill -KILL "${busy[@]}" 2>/dev/null || true
  wait "${busy[@]}" 2>/dev/null || true
  busy=()
}
command_pid=""
stop_all() {
  [ -z "$command_pid" ] || kill -TERM "$command_pid" 2>/dev/null || true
  stop_busy
}
trap stop_busy EXIT
trap 'stop_all; exit 130' INT
trap 'stop_all; exit 143' TERM
for _ in $(seq "$count"); do
  # Spins, and looks every few million steps whether its parent (this script) is still there.
  python3 -c '
import ctypes, os, signal, sys
parent = int(sys.argv[1])
try:
    ctypes.CDLL(None).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG: told when the parent dies
except (OSError, AttributeError):
    pass
while os.getppid() == parent:
    for _ in range(2000000):
        pass
' "$$" &
  busy+=("$!")
done
echo "under-load: $count busy processes beside $1, pids ${busy[*]}"
# In the background, so that an interruption is handled at once rather than when it ends.
"$@" &
command_pid=$!
rc=0
wait "$command_pid" || rc=$?
command_pid=""
stop_busy
exit "$rc"
