#!/usr/bin/env python3
"""A run that ends without its second stage leaves no partial download behind, and says why a
write failed: the run folder is a small tmpfs that fills up during the second stage's download.

The whole file runs in a mount namespace of its own, so that the tmpfs is seen by the test, by
Wine's server (which opens the files) and by the installer alike, and goes away with the test."""

import os
import random
import shutil
import subprocess
import sys

OWN_MOUNTS = "TARVELO_E2E_OWN_MOUNTS"
if os.environ.get(OWN_MOUNTS) != "1":
    os.environ[OWN_MOUNTS] = "1"
    unshare = ["unshare", "-m"] if os.geteuid() == 0 else ["unshare", "-r", "-m"]
    os.execvp(unshare[0], unshare + ["--propagation", "private", sys.executable] + sys.argv)

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402


def write_figures(count):
    with open(os.path.join(harness.BUILD_DIR, "reliability-debris.txt"), "w") as f:
        f.write("debris: %d case end to end\n" % count)


class Debris(harness.E2ETest):
    def put_run_folder_on_tmpfs(self, free_kb):
        """Moves the run folder onto a tmpfs with about `free_kb` KiB to spare."""
        h = self.h
        aside = h.run_dir + ".aside"
        shutil.copytree(h.run_dir, aside)
        used_kb = sum((os.path.getsize(os.path.join(d, f)) + 4095) // 4096 * 4
                      for d, _, files in os.walk(aside) for f in files)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%dk" % (used_kb + free_kb), "tarvelo-run", h.run_dir],
                       check=True)
        self.addCleanup(subprocess.run, ["umount", "-l", h.run_dir], check=False)
        shutil.copytree(aside, h.run_dir, dirs_exist_ok=True)
        # The prefix's wineserver opens files for its programs and was started before the mount,
        # in a mount namespace that does not see it: the next program starts a new one.
        h.stop_prefix()

    def test_full_disk_during_the_download_fails_and_leaves_no_partial_file(self):
        h = self.h
        h.machine(windows="win7", dotnet=True)
        package = harness.servers.as_program(random.Random(21).randbytes(1 << 20))
        h.serve_packages({harness.STAGE2_PACKAGE: package})
        h.write_config()
        stage2 = h.stub(harness.STAGE2_PACKAGE)
        self.put_run_folder_on_tmpfs(free_kb=256)
        target = h.config_path("stage2_file")

        h.start()
        h.dialog("smaller", texts={1031: h.text("PROXY_CAPTION"), 1014: h.text("CONNECTION_FAILURE")},
                 do=["click:1"], gone=True)
        self.assertEqual(h.wait_exit(), 0)
        log = h.log()
        # The write failure is named right after the retry line the download loop writes.
        at = log.index("network down...retrying..")
        self.assertEqual(log[at + 1], "WriteFile failed with error 112")
        h.assert_log_in_order(["Removed incomplete download: " + harness.windows_path(target), "Download Failed"])
        self.assertFalse(os.path.exists(target))
        self.assertEqual(stage2.starts(), [])
        write_figures(1)


if __name__ == "__main__":
    harness.main()
