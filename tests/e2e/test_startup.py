#!/usr/bin/env python3
"""Start-up of the real TarveloSetup.exe in a private copy of the Wine prefix: the log holds one
run's lines only, a saved proxy file is gone after start, the .NET key decides what the checks
log, and with TEMP unset the log lands below the root of the current drive (a scratch drive
letter mapped in the copy, never the real root)."""
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

SOURCE = os.environ["TARVELO_SOURCE_DIR"]
BUILD = os.environ["TARVELO_BUILD_DIR"]
SHARED_PREFIX = os.environ.get("WINE_PREFIX", os.path.join(BUILD, "wineprefix"))


def _is_64_bit(exe):
    with open(exe, "rb") as f:
        head = f.read(4096)
    pe = int.from_bytes(head[0x3C:0x40], "little")
    return int.from_bytes(head[pe + 4:pe + 6], "little") == 0x8664


WINE = "/usr/lib/wine/wine64" if _is_64_bit(os.path.join(BUILD, "TarveloSetup.exe")) else "wine"
TIMEOUT = 120

START_LINES = ["Starting to read ConfigFile", "ConfigFile Read successfully", "Got ResourceInstanceHandle",
               "After Check_OS", "After IsUserAdmin"]
DOTNET_KEY = r"HKLM\SOFTWARE\Microsoft\NET Framework Setup\NDP\v2.0.50727"


class PrivatePrefix:
    def __init__(self, root):
        self.path = os.path.join(root, "prefix")
        shutil.copytree(SHARED_PREFIX, self.path, symlinks=True)
        self.env = {k: v for k, v in os.environ.items()
                    if k.lower() not in ("http_proxy", "https_proxy", "no_proxy")}
        self.env.update(WINEPREFIX=self.path, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        self.user = next(os.path.basename(p) for p in glob.glob(os.path.join(self.path, "drive_c/users/*"))
                         if os.path.basename(p) != "Public")
        self.home = os.path.join(self.path, "drive_c/users", self.user)

    def run(self, args, cwd, env=None):
        return subprocess.run([WINE] + args, cwd=cwd, env=env or self.env, capture_output=True,
                              timeout=TIMEOUT)

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env, capture_output=True, timeout=TIMEOUT)
        subprocess.run(["wineserver", "-w"], env=self.env, capture_output=True, timeout=TIMEOUT)


def lines(path):
    with open(path, "rb") as f:
        data = f.read()
    assert data.endswith(b"\r\n"), data
    return data.decode("latin-1").split("\r\n")[:-1]


class StartupTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        os.makedirs(os.path.join(BUILD, "e2e-scratch"), exist_ok=True)
        cls.scratch = tempfile.mkdtemp(prefix="startup-", dir=os.path.join(BUILD, "e2e-scratch"))
        cls.prefix = PrivatePrefix(cls.scratch)
        cls.exe = os.path.join(BUILD, "TarveloSetup.exe")

    @classmethod
    def tearDownClass(cls):
        cls.prefix.stop()
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def run_folder(self, name):
        folder = os.path.join(self.scratch, name)
        os.makedirs(folder, exist_ok=True)
        for data in ("ConfigFile.txt", "Resource-en-GB.txt"):
            shutil.copy(os.path.join(SOURCE, "data", data), folder)
        return folder

    def test_runs_log_one_run_each_and_forget_the_saved_proxy(self):
        folder = self.run_folder("run")
        log = os.path.join(self.prefix.home, "Temp/Tarvelo/Logs/InstallerLogs/Stage1Logs.txt")
        proxy = os.path.join(self.prefix.home, "AppData/Roaming/ProxyInfo.proxy")
        with open(proxy, "w") as f:
            f.write("http://127.0.0.1:9\n")

        # First run: .NET missing from the fresh prefix.
        result = self.prefix.run([self.exe], folder)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertFalse(os.path.exists(proxy))
        self.assertEqual(lines(log), START_LINES + [".NET 2.0 not found"])

        # Second run with the .NET key present: only its own lines remain.
        added = self.prefix.run(["reg", "add", DOTNET_KEY, "/f"], folder)
        self.assertEqual(added.returncode, 0, added.stderr)
        result = self.prefix.run([self.exe], folder)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(lines(log), START_LINES)
        self.prefix.run(["reg", "delete", DOTNET_KEY, "/f"], folder)

    def test_unsupported_windows_stops_after_the_os_test(self):
        folder = self.run_folder("unsupported")
        with open(os.path.join(folder, "ConfigFile.txt"), "wb") as f:
            f.write(b"OS=400;\r\n")  # only the first field: Windows NT 4.0
        log = os.path.join(self.prefix.home, "Temp/Tarvelo/Logs/InstallerLogs/Stage1Logs.txt")
        result = self.prefix.run([self.exe], folder)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(lines(log), START_LINES[:3] + ["OS not Supported"])

    def test_without_temp_the_log_lies_below_the_current_drive_root(self):
        drive = os.path.join(self.scratch, "drive-t")
        os.makedirs(drive)
        for data in ("ConfigFile.txt", "Resource-en-GB.txt"):
            shutil.copy(os.path.join(SOURCE, "data", data), drive)
        # TEMP and TMP come from the prefix's registry (user and system environment): take
        # them out while no server runs.
        self.prefix.stop()
        for hive in ("user.reg", "system.reg"):
            path = os.path.join(self.prefix.path, hive)
            with open(path, encoding="latin-1") as f:
                text = f.read()
            text = re.sub(r'^"(TEMP|TMP)"=.*\n', "", text, flags=re.MULTILINE)
            with open(path, "w", encoding="latin-1") as f:
                f.write(text)
        letter = os.path.join(self.prefix.path, "dosdevices", "t:")
        os.symlink(drive, letter)
        env = {k: v for k, v in self.prefix.env.items() if k not in ("TEMP", "TMP")}
        try:
            # Only go on when Wine really puts the current directory on T:; anything else
            # could send the log to the root of a real drive.
            where = self.prefix.run(["cmd", "/c", "cd & echo TEMP=%TEMP%"], drive, env)
            out = where.stdout.decode("latin-1")
            self.assertTrue(out.startswith("T:\\\r\n"), out)
            self.assertIn("TEMP=%TEMP%", out)
            real_root_log = os.path.exists("/Tarvelo")
            result = self.prefix.run([self.exe], drive, env)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(lines(os.path.join(drive, "Tarvelo/Logs/InstallerLogs/Stage1Logs.txt"))[:2],
                             START_LINES[:2])
            self.assertEqual(os.path.exists("/Tarvelo"), real_root_log)
        finally:
            self.prefix.stop()
            os.unlink(letter)


if __name__ == "__main__":
    result = unittest.main(exit=False, verbosity=2).result
    sys.exit(0 if result.wasSuccessful() else 1)
