#!/usr/bin/env python3
"""What a test run took: the slowest tests of ctest's JUnit reports, and the longest waits for a
state of the end-to-end tests against their limit (tests/e2e/harness.py writes them).

usage: test-times.py [--waits WAITS.jsonl] JUNIT.xml...
"""

import json
import os
import sys
import xml.etree.ElementTree as ElementTree


def test_times(paths):
    """(seconds, name, status) of every test case in the reports that exist."""
    times = []
    for path in paths:
        if not os.path.exists(path):
            continue
        try:
            root = ElementTree.parse(path).getroot()
        except ElementTree.ParseError as e:
            print("test-times: %s is no JUnit report (%s)" % (path, e))
            continue
        for case in root.iter("testcase"):
            status = case.get("status") or ("failed" if case.find("failure") is not None else "run")
            times.append((float(case.get("time") or 0), case.get("name"), status))
    return times


def read_waits(path):
    waits = []
    try:
        with open(path) as f:
            for line in f:
                try:
                    waits.append(json.loads(line))
                except ValueError:
                    continue
    except FileNotFoundError:
        pass
    return waits


def main(argv):
    waits_path = None
    if len(argv) >= 2 and argv[0] == "--waits":
        waits_path, argv = argv[1], argv[2:]
    times = sorted(test_times(argv), reverse=True)
    print("== slowest tests of this run (of %d, %.0f s in all)" % (len(times), sum(t for t, _, _ in times)))
    for seconds, name, status in times[:10]:
        print("  %8.1f s  %s%s" % (seconds, name, "" if status in ("run", "passed") else "  (%s)" % status))
    if waits_path:
        waits = read_waits(waits_path)
        longest = sorted((w for w in waits if w.get("limit")), key=lambda w: -w["seconds"])[:5]
        if longest:
            print("== longest end-to-end waits for a state (of %d)" % len([w for w in waits if w.get("limit")]))
            for w in longest:
                print("  %8.1f s of %.0f s  %s: %s" % (w["seconds"], w["limit"], w["test"], w["what"]))
        reads = [w for w in waits if not w.get("limit")]
        if reads:
            late = max(reads, key=lambda w: w["seconds"])
            print("== latest read of a dialog's announcement after it was raised: %.1f s (%s)"
                  % (late["seconds"], late["test"]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
