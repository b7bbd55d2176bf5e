"""Download, installation and hand-over end to end, on real local servers: the typical run,
quitting, the failure notices, a second stage that cannot start, a second copy, a proxy that
wants credentials, and DLLs planted beside the exe."""

import glob
import hashlib
import json
import os
import re
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

DOTNET_PAGE = ("http://www.microsoft.com/downloads/details.aspx?"
               "FamilyID=0856eacb-4362-4b0d-8edd-aab15c5e04f5&displaylang=en")

# Lines written by the progress dialog's own thread; they interleave with the download thread's
# lines in no fixed order, so they are compared as a sequence of their own. The close control
# logs its image changes whenever the pointer happens to move over the dialog.
DIALOG_THREAD_LINES = [
    "Creating Dependency Dialog in a new thread...",
    "DependencyDialog Contructor passed...",
    "Image loaded..",
    "Caption & Body text loaded..",
    "All strings loaded with proper text",
    "all Croxx Images loaded...",
    "Rounded Rectangle carved...",
    "Window position set...",
]
POINTER_LINES = {"In ChangeBitMap", "ChangeBitMap Locked..", "ChangeBitMap Unlocked.."}

# Every DLL the installer's process loads in the typical run, as Wine's log of its loads
# (WINEDEBUG=+loaddll) lists them, but for those bound before its first instruction. Those are
# known DLLs on Windows, which never looks for them beside the exe; Wine has no known DLLs and
# would take planted copies of them, which says nothing about the installer.
BOUND_BEFORE_ENTRY = {"ntdll", "kernel32", "kernelbase", "msvcrt"}
PLANTED = ["advapi32", "bcrypt", "cabinet", "combase", "comctl32", "crypt32", "dbghelp", "gdi32",
           "imagehlp", "imm32", "jsproxy", "mpr", "msi", "msimg32", "mspatcha", "odbccp32", "ole32",
           "oleacc", "oleaut32", "rpcrt4", "rsaenh", "sechost", "shcore", "shell32", "shlwapi", "sxs", "ucrtbase",
           "urlmon", "user32", "uxtheme", "version", "win32u", "wininet", "winhttp", "wintrust",
           "ws2_32", "zlib1"]


def loaded_by(trace_path, exe_name):
    """Base names (lower case, without ".dll") of the DLLs that Wine's +pid,+loaddll log shows
    the process of `exe_name` loading."""
    with open(trace_path, "rb") as f:
        lines = f.read().decode("utf-8", "replace").splitlines()
    loads = [m.groups() for m in (re.match(r'([0-9a-f]+):[0-9a-f]+:trace:loaddll:\S+ Loaded L"(.*)" at', line)
                                  for line in lines) if m]
    pids = {pid for pid, path in loads if path.lower().endswith("\\" + exe_name.lower())}
    names = set()
    for pid, path in loads:
        name = path.replace("\\\\", "\\").rsplit("\\", 1)[-1].lower()
        if pid in pids and name.endswith(".dll"):
            names.add(name[:-4])
    return names


def request_lines(after_send):
    return ["CreateSession...", "CreateConnection...", "CreateRequest...", "Request Created...",
            "Sending Http Request"] + after_send


SENT = ["Before HideButton", "HideButton Locked...", "After HideButton",
        "HTTP connection establised with server..", "Username& Passwd matched...ready for download",
        "Starting the download..."]


class HandOver(harness.E2ETest):
    def closed_port_proxy(self):
        """A WinHTTP default proxy where nothing listens: the direct attempt fails at once."""
        return {"http_proxy": "http://127.0.0.1:%d" % harness.servers.free_port()}

    def notice(self, headline, body, **kw):
        h = self.h
        return h.dialog("smaller", texts={1031: h.text(headline), 1014: h.text(body)}, **kw)

    def plant_dlls(self):
        """Puts the recording DLL beside the exe under every name in PLANTED; returns the Wine
        settings that make Wine look beside the exe first, as Windows does (by default Wine
        prefers its own copies). A program that does not restrict the search is shown to load
        them from there."""
        h = self.h
        for name in PLANTED:
            shutil.copy(harness.tool("planted_recorder.dll"), h.path(name + ".dll"))
        native_first = {"WINEDLLOVERRIDES": ",".join(PLANTED) + "=n,b;mscoree,mshtml="}
        shutil.copy(harness.tool("load_probe.exe"), h.path("load_probe.exe"))
        probe = h.wine([h.path("load_probe.exe"), "winhttp.dll", "version.dll"], env=native_first)
        found = [json.loads(line)["path"] for line in probe.text.splitlines() if line.startswith("{")]
        self.assertEqual(found, [harness.windows_path(h.path(n)) for n in ("winhttp.dll", "version.dll")])
        for record in glob.glob(h.path("*.loaded")):
            os.remove(record)
        os.remove(h.path("load_probe.exe"))
        return native_first

    def test_typical_run_through_the_browser_proxy_to_the_second_stage(self):
        """The typical run, started from a folder where a DLL is planted under the name of every
        DLL the run loads: none of them is ever loaded. The packages are signed by the publishers
        pinned for them. Files that passed their checks cannot be swapped before they start."""
        h = self.h
        # Each package is signed by its publisher, whose key is pinned: the second stage's on
        # its own certificate, the .NET package's on the authority that issued its certificate.
        h.trust_code_root()
        stage2_bytes, dotnet_bytes = h.signed_stub("publisher"), h.signed_stub("prereq")
        # The browser's proxy is the fault server, which answers any absolute URL from its files.
        h.serve_packages({harness.STAGE2_PACKAGE: stage2_bytes, harness.DOTNET_PACKAGE: dotnet_bytes}, fault=True)
        proxy = "127.0.0.1:%d" % h.servers[-1].port
        h.machine(dotnet=False, browser_proxy=proxy)
        # The second stage in a folder of its own: what it loads itself is its own affair.
        os.makedirs(h.path("stage2"))
        h.write_config(stage2_file="\\stage2\\" + harness.STAGE2_PACKAGE,
                       signers={"stage2": [h.signer_pin("publisher")], "dotnet": [h.signer_pin("intermediate")]})
        dotnet = h.stub(harness.DOTNET_PACKAGE, wait=True)
        stage2 = h.stub(harness.STAGE2_PACKAGE, wait=True, probe_mutex=harness.MUTEX_NAME)
        native_first = self.plant_dlls()
        trace = os.path.join(h.root, "loaddll.txt")
        h.start(env=self.closed_port_proxy(), wine_env=dict(native_first, WINEDEBUG="+pid,+loaddll"),
                wine_stderr=trace)
        installer = h.installer
        h.dialog("message", texts={1030: h.text("DOTNET_REQUIRED")}, do=["click:1"], gone=True)

        # The .NET installer runs with the bar at 61, where the downloads left it ...
        dotnet.wait_started()
        installer.wait_for_position(61)
        progress = h.dialog("progress")
        self.assertEqual(progress.text(1030), h.text("INSTALLING_BOLD_TEXT"))
        self.assertEqual(progress.text(1033), h.text("PROGRESS_BAR_INSTALLING_TEXT"))
        self.assertEqual(stage2.starts(), [])
        # The second stage has passed its check and waits for the hand-over: from another
        # process it can be neither changed nor moved nor removed.
        self.assertEqual(h.try_to_swap(h.config_path("stage2_file")),
                         {"overwrite": False, "rename": False, "replace": False, "delete": False})
        # ... moves on while it runs (one point per 3 s wait) and jumps to 100 when it ends;
        # then the second stage starts with the language.
        installer.wait_for_position(62)
        dotnet.release()
        start = stage2.wait_started()
        self.assertEqual(start["args"], ["en-GB"])
        self.assertEqual(start["cmdline"], '"%s" en-GB' % harness.windows_path(h.config_path("stage2_file")))
        self.assertTrue(start["mutex"], "the first stage gave up its mutex before the second stage ended")
        self.assertEqual(start["sha256"], hashlib.sha256(stage2_bytes).hexdigest())
        h.wait_dialog_absent("progress")
        # The first stage waits for the second, with its log closed.
        self.assertTrue(h.installer.running())
        h.assert_log_ends_with("Launching Stage2")
        stage2.release()
        self.assertEqual(h.wait_exit(), 1)
        stage2.wait_ended()

        # The whole run's record: the bar only ever moved forward, then one point per wait of
        # the .NET installer (however many waits a loaded machine took to see the release),
        # and ended at 100.
        positions = installer.positions()
        self.assertNotIn(None, positions, "the bar was gone before a position it announced could be read")
        self.assertEqual(positions, sorted(positions), positions)
        self.assertEqual(positions[-1], 100, positions)
        shown = harness.distinct(positions)
        installing = shown[shown.index(61):]
        self.assertEqual(installing, list(range(61, installing[-2] + 1)) + [100], positions)

        dotnet_file = harness.windows_path(h.config_path("dotnet_file"))
        stage2_file = harness.windows_path(h.config_path("stage2_file"))
        expected = [
            "Starting to read ConfigFile", "ConfigFile Read successfully", "Got ResourceInstanceHandle",
            "After Check_OS", "After IsUserAdmin", ".NET 2.0 not found",
            "Before UI Thread Creation", "UI Thread Created Successfully..",
            "Downloading File: " + dotnet_file]
        # The direct attempt meets the closed port that http_proxy names.
        expected += request_lines(["direct connection failed...trying proxy",
                                   "WinHttpSendRequest failed with error 12029"])
        expected += request_lines(SENT)
        expected += ["Download complete...FileName : " + dotnet_file, "Signer verified: " + dotnet_file,
                     "Downloading File: " + stage2_file]
        expected += request_lines(SENT)
        expected += ["Download complete...FileName : " + stage2_file, "Signer verified: " + stage2_file,
                     "All files successfully downloaded..starting to install files...",
                     "HideButton Locked...", "Launching Stage2"]
        log = [line for line in h.log() if line not in POINTER_LINES]
        dialog_lines = [line for line in log if line in DIALOG_THREAD_LINES]
        self.assertEqual(dialog_lines, DIALOG_THREAD_LINES)
        h.log = lambda: [line for line in log if line not in DIALOG_THREAD_LINES]
        h.assert_log_equals(expected)

        with open(h.appdata_path("ProxyInfo.proxy"), "rb") as f:
            self.assertEqual(f.read(), ("ProxyServer=http://%s|@|UserName=|@|Password=|@|ByPass=<local>"
                                        % proxy).encode())

        records = [open(path).read() for path in glob.glob(h.path("*.loaded"))]
        self.assertEqual(records, [], "planted DLLs were loaded")
        # Every DLL the run loaded had a planted twin: a DLL new to the run must be planted too.
        self.assertEqual(loaded_by(trace, "TarveloSetup.exe") - set(PLANTED) - BOUND_BEFORE_ENTRY, set())
        with open(os.path.join(harness.BUILD_DIR, "reliability-planted.txt"), "w") as f:
            f.write("planted DLLs: %d names beside the exe in the typical run, none loaded\n" % len(PLANTED))

    # Folders users have, the system locales they have them under, and how the server answers
    # the second stage's resume: (folder, Unix locale, extra query).
    FOLDERS = [
        ("\u0417\u0430\u0433\u0440\u0443\u0437\u043a\u0438 \u0418\u0432\u0430\u043d", "en_US.UTF-8", ""),
        # A 206 of the rest's length without Content-Range: appended at the resume offset.
        ("My Setup Files", "en_US.UTF-8", "&norange=1"),
        ("Caf\u00e9 M\u00fcller", "en_US.UTF-8", ""),
        ("\u0417\u0430\u0433\u0440\u0443\u0437\u043a\u0438 \u0418\u0432\u0430\u043d", "ru_RU.UTF-8", ""),
        ("\u30c0\u30a6\u30f3\u30ed\u30fc\u30c9 \u5c71\u7530", "ja_JP.UTF-8", ""),
    ]

    def test_typical_run_from_folders_of_any_script(self):
        """The typical run (.NET missing, the browser's proxy, the second stage cut once and
        resumed) from each folder: every file byte-identical, each program started from its
        exact path, the second stage with its quoted path and the language."""
        h = self.h
        h.serve_packages(fault=True)
        server = h.servers[-1]
        proxy = "127.0.0.1:%d" % server.port
        stub = h.stub_bytes()
        h.machine(dotnet=False, browser_proxy=proxy)
        for number, (folder, locale, answer) in enumerate(self.FOLDERS):
            with self.subTest(folder=folder, locale=locale, answer=answer):
                h.run_from(folder, locale)
                expected_acp = {"cp1251": 1251, "cp932": 932}.get(h.code_page, 1252)
                self.assertEqual(h.sysinfo()["acp"], expected_acp, "the locale did not take")
                tail = "/packages/%s?cut=30000&run=%d%s" % (harness.STAGE2_PACKAGE, number, answer)
                h.write_config(stage2_tail=tail)
                dotnet = h.stub(harness.DOTNET_PACKAGE)
                stage2 = h.stub(harness.STAGE2_PACKAGE)
                for record in (dotnet, stage2):
                    if os.path.exists(record.base + ".calls"):
                        os.remove(record.base + ".calls")
                h.start(env=self.closed_port_proxy())
                h.dialog("message", texts={1030: h.text("DOTNET_REQUIRED")}, do=["click:1"], gone=True)
                self.assertEqual(h.wait_exit(), 1)

                dotnet_file = h.config_path("dotnet_file")
                stage2_file = h.path(harness.STAGE2_PACKAGE)
                for path in (dotnet_file, stage2_file):
                    with open(path, "rb") as f:
                        self.assertTrue(f.read() == stub, "%s is not the served file" % path)
                self.assertEqual(dotnet.wait_started()["cmdline"], '"%s\\dotnetfx.exe" /q:a /c:"install.exe /q"'
                                 % harness.windows_path(h.config_path("dotnet_folder")))
                start = stage2.wait_started()
                self.assertEqual(start["cmdline"], '"%s" en-GB' % harness.windows_path(stage2_file))
                self.assertEqual(start["args"], ["en-GB"])
                # The log is 8-bit: the paths in it are as the system's code page can show them.
                shown = lambda path: h.logged(harness.windows_path(path))
                appended = ["Range answered without Content-Range...its length is the rest, appending"] if answer else []
                h.assert_log_in_order(["Downloading File: " + shown(dotnet_file),
                                       "Downloading File: " + shown(stage2_file),
                                       "network down...retrying.."] + appended + ["Launching Stage2"])
                self.assertNotIn("Start directory has characters without an 8-bit form", h.log())
                with open(server.log_path) as f:
                    asked = [line for line in f if tail + " " in line]
                self.assertEqual(len(asked), 2, asked)
                self.assertIn("range=bytes=30000-%d " % (len(stub) - 1), asked[1])

    def test_quitting_during_the_download_ends_without_a_notice(self):
        h = self.h
        h.machine(dotnet=True)
        # The second stage stalls after a few kilobytes, so the download is in progress for as
        # long as the test needs.
        h.serve_packages(fault=True)
        h.write_config(stage2_tail="/packages/%s?stall=4096" % harness.STAGE2_PACKAGE)
        h.start()
        h.wait_log_line("Starting the download...")
        h.dialog("progress", do=["close"])
        h.dialog("smaller", texts={1031: h.text("QUIT_INSTALLING_CAPTION")}, do=["click:1"], gone=True)
        # Let the stalled transfer end now instead of at WinHTTP's receive time-out; the flag is
        # set by the time the confirmation has closed.
        time.sleep(0.3)
        h.servers[-1].stop()
        self.assertEqual(h.wait_exit(), 0)
        h.assert_log_in_order(["Download Failed", "Installation Aborted"])
        h.assert_log_ends_with("Installation Aborted")

    def test_failed_download_with_dotnet_present_shows_the_connection_notice(self):
        h = self.h
        h.machine(dotnet=True)
        h.serve_packages({})  # every package answers 404
        h.write_config()
        h.start()
        d = self.notice("PROXY_CAPTION", "CONNECTION_FAILURE")
        self.assertEqual(d.text(1), h.text("OK_BUTTON"))
        self.assertFalse(d.visible(2))
        # The progress dialog is still there behind the notice and ends only after it.
        h.dialog("progress")
        self.notice("PROXY_CAPTION", "CONNECTION_FAILURE", do=["click:1"], gone=True)
        h.wait_dialog_absent("progress")
        self.assertEqual(h.wait_exit(), 0)
        h.assert_log_ends_with("Download Failed")

    def test_failed_dotnet_download_offers_the_download_page_in_the_browser(self):
        h = self.h
        info = h.machine(dotnet=False)
        browser = h.browser_stub()
        h.serve_packages({harness.STAGE2_PACKAGE: h.stub_bytes()})  # the .NET package answers 404
        h.write_config()
        for button in (1, 2):
            h.start()
            h.dialog("message", texts={1030: h.text("DOTNET_REQUIRED")}, do=["click:1"], gone=True)
            d = self.notice("MANUALLY_DOWNLOAD_CAPTION", "MANUALLY_DOWNLOAD_DOTNET")
            self.assertEqual((d.text(1), d.text(2)), (h.text("OK_BUTTON"), h.text("SKIP_BUTTON")))
            # The progress dialog is there behind the notice (its thread may show it only after
            # the notice) and ends only after it.
            h.dialog("progress")
            self.notice("MANUALLY_DOWNLOAD_CAPTION", "MANUALLY_DOWNLOAD_DOTNET",
                        do=["click:%d" % button], gone=True)
            h.wait_dialog_absent("progress")
            self.assertEqual(h.wait_exit(), 0)
            h.assert_log_in_order(["Download Failed",
                                   "Tarvelo could not install dotnet..so taking user to Microsoft's website"])
            if button == 1:
                h.assert_log_ends_with("launch IE to open " + DOTNET_PAGE)
                start = browser.wait_started()
                self.assertEqual(start["cmdline"], '"%s\\Internet Explorer\\IEXPLORE.EXE" "%s"'
                                 % (info["program_files"], DOTNET_PAGE))
                os.remove(browser.base + ".calls")
            else:
                h.assert_log_ends_with("Tarvelo could not install dotnet..so taking user to Microsoft's website")
                self.assertEqual(browser.starts(), [])

    def test_second_stage_that_cannot_start_is_logged_and_ends_with_0(self):
        h = self.h
        h.machine(dotnet=True)
        # It looks like a program to the download check, but nothing in it can run.
        h.serve_packages({harness.STAGE2_PACKAGE: harness.servers.as_program(b"this is not a program\r\n" * 64)})
        h.write_config()
        h.start()
        self.assertEqual(h.wait_exit(), 0)
        h.assert_log_ends_with("Launching Stage2", "Stage2 launch failed")

    def test_a_second_copy_ends_at_once_while_the_first_waits_for_the_second_stage(self):
        h = self.h
        h.machine(dotnet=True)
        h.serve_packages()
        h.write_config()
        stage2 = h.stub(harness.STAGE2_PACKAGE, wait=True)
        first = h.start()
        stage2.wait_started()
        log_before = h.log_bytes()
        second = h.start()
        self.assertEqual(h.wait_exit(installer=second), 1)
        self.assertEqual(h.log_bytes(), log_before)
        self.assertTrue(first.running())
        stage2.release()
        self.assertEqual(h.wait_exit(installer=first), 1)
        # Once the first has ended, the mutex is free again: a new copy runs normally.
        self.assertEqual(len(stage2.starts()), 1)

    def test_proxy_credentials_are_asked_for_and_saved_for_the_second_stage(self):
        h = self.h
        h.serve_packages()
        squid = h.squid()
        proxy = "127.0.0.1:%d" % squid.port
        h.machine(dotnet=True, browser_proxy=proxy)
        h.write_config()
        stage2 = h.stub(harness.STAGE2_PACKAGE)
        h.start(env=self.closed_port_proxy())
        d = h.dialog("credentials")
        self.assertEqual(d.text(1014), h.text("CREDENTIAL_DETAILS"))
        h.dialog("credentials", do=["type:1006=" + squid.user, "type:1002=" + squid.password, "click:1"],
                 gone=True)
        self.assertEqual(h.wait_exit(), 1)
        self.assertEqual(stage2.wait_started()["args"], ["en-GB"])
        h.assert_log_in_order(["direct connection failed...trying proxy",
                               "Username& Passwd matched...ready for download", "Launching Stage2"])
        with open(h.appdata_path("ProxyInfo.proxy"), "rb") as f:
            self.assertEqual(f.read(), ("ProxyServer=http://%s|@|UserName=%s|@|Password=%s|@|ByPass=<local>"
                                        % (proxy, squid.user, squid.password)).encode())
        self.assertIn("TCP_", squid.access_log())


if __name__ == "__main__":
    harness.main()
