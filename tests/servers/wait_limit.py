"""The one limit of every wait for a state in the tests, for their Python side (the end-to-end
harness, the servers, the network tests' wrapper): the value that tests/tools/support/
wait_limit.h gives the robot, the launcher and the in-process tests, in seconds, times
TARVELO_TIMEOUT_SCALE."""

import os
import re

_HEADER = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tools", "support",
                       "wait_limit.h")


def _base_seconds():
    with open(_HEADER) as f:
        found = re.search(r"kWaitLimitBaseMs = (\d+);", f.read())
    if not found:
        raise RuntimeError("no kWaitLimitBaseMs in " + _HEADER)
    return int(found.group(1)) / 1000.0


def _scale():
    # As wait_limit.h reads it: not a positive number, no scale.
    try:
        scale = float(os.environ.get("TARVELO_TIMEOUT_SCALE", "1"))
    except ValueError:
        return 1.0
    return scale if 0 < scale <= 100 else 1.0


TIMEOUT_SCALE = _scale()
WAIT_LIMIT = _base_seconds() * TIMEOUT_SCALE
