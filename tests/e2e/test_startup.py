#!/usr/bin/env python3
"""Start-up of the real program: each run's log holds that run's lines only, a saved proxy file is
gone after start, a proxy script child's switch typed by a user gives the normal run, and with TEMP unset the log lands below the root of the current drive (a scratch
drive letter mapped in the test's own prefix, never a real root)."""

import os
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

START = ["Starting to read ConfigFile", "ConfigFile Read successfully", "Got ResourceInstanceHandle"]


class Startup(harness.E2ETest):
    def stop_on_unsupported_windows(self, **start):
        h = self.h
        h.start(**start)
        h.dialog("message", texts={1030: h.text("CANNOT_INSTALL")}, do=["click:1"], gone=True)
        self.assertEqual(h.wait_exit(), 0)

    def test_each_run_logs_its_own_lines_and_the_saved_proxy_is_forgotten(self):
        h = self.h
        h.machine(windows="win2k", dotnet=False)
        h.write_config()
        proxy = h.appdata_path("ProxyInfo.proxy")
        os.makedirs(os.path.dirname(proxy), exist_ok=True)
        with open(proxy, "wb") as f:
            f.write(b"http://127.0.0.1:9\r\n")
        self.stop_on_unsupported_windows()
        self.assertFalse(os.path.exists(proxy))
        self.assertEqual(h.step_log(), START + ["OS not Supported"])

        # A supported system without the .NET key: the second run's log starts afresh.
        h.machine(windows="win7")
        h.start()
        h.dialog("message", texts={1030: h.text("DOTNET_REQUIRED")}, do=["wmclose"], gone=True)
        self.assertEqual(h.wait_exit(), 0)
        self.assertEqual(h.step_log(), START + ["After Check_OS", "After IsUserAdmin", ".NET 2.0 not found"])

        # The switch that makes the program a proxy script's child, typed by a user: only pipes
        # that the installer itself hands down make a child, so this is the normal run.
        h.start(args=["/proxy-script-child:4,8"])
        h.dialog("message", texts={1030: h.text("DOTNET_REQUIRED")}, do=["wmclose"], gone=True)
        self.assertEqual(h.wait_exit(), 0)
        self.assertEqual(h.step_log(), START + ["After Check_OS", "After IsUserAdmin", ".NET 2.0 not found"])

    def test_without_temp_the_log_lies_below_the_current_drive_root(self):
        h = self.h
        h.machine(windows="win2k")
        h.write_config()
        drive = os.path.join(h.root, "drive-t")
        shutil.copytree(h.run_dir, os.path.join(drive, "run"))
        letter = os.path.join(h.prefix, "dosdevices", "t:")
        os.symlink(drive, letter)
        real_root = os.path.exists("/Tarvelo")
        self.stop_on_unsupported_windows(env={"TEMP": "", "TMP": ""}, cwd="T:\\run",
                                         program="T:\\run\\TarveloSetup.exe")
        with open(os.path.join(drive, "Tarvelo", "Logs", "InstallerLogs", "Stage1Logs.txt"), "rb") as f:
            log = f.read().decode("cp1252").split("\r\n")
        self.assertEqual([line for line in log if line in START + ["OS not Supported"]],
                         START + ["OS not Supported"])
        self.assertEqual(os.path.exists("/Tarvelo"), real_root)
        self.assertIsNone(h.log_bytes())


if __name__ == "__main__":
    harness.main()
