"""Unattended runs end to end, as a deployment tool starts them: /quiet and /passive, the log
where /log says, the switches after -- for the second stage, and the exit codes the tool reads.
Whether a window appeared is read from launch.exe's record of every window the run created or
showed, which misses none, rather than from samples of the screen."""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402


class Unattended(harness.E2ETest):
    def closed_port_proxy(self):
        """A WinHTTP default proxy where nothing listens: the direct attempt fails at once."""
        return {"http_proxy": "http://127.0.0.1:%d" % harness.servers.free_port()}

    def assert_no_window(self, installer=None):
        """Not one window made, not even a hidden one (the passive test shows that the record
        holds the windows a run makes)."""
        installer = installer or self.h.installer
        self.assertTrue(installer.ended(), "the record is read once the run has ended")
        self.assertEqual(installer.windows_made(), [], "a quiet run made a window")

    def test_quiet_typical_run_installs_dotnet_and_ends_with_the_second_stages_code(self):
        """.NET is missing and the packages come through the browser's proxy: nobody is asked,
        no window is ever made, and the second stage's own code (3010) is the run's."""
        h = self.h
        h.serve_packages(fault=True)
        proxy = "127.0.0.1:%d" % h.servers[-1].port
        h.machine(dotnet=False, browser_proxy=proxy)
        h.write_config()
        dotnet = h.stub(harness.DOTNET_PACKAGE)
        stage2 = h.stub(harness.STAGE2_PACKAGE, exit_code=3010)
        h.start(env=self.closed_port_proxy(), args=["/QUIET", "--", "/S"])
        self.assertEqual(h.wait_exit(), 3010)
        self.assert_no_window()
        self.assertEqual(len(dotnet.starts()), 1)
        start = stage2.wait_started()
        self.assertEqual(start["cmdline"], '"%s" en-GB /S' % harness.windows_path(h.config_path("stage2_file")))
        h.assert_log_in_order([".NET 2.0 not found", ".NET 2.0 will be installed: unattended run",
                               "direct connection failed...trying proxy", ".NET installer ended with 0"])
        h.assert_log_ends_with("Launching Stage2")

    def test_quiet_failures_end_with_their_codes_and_reasons_and_no_window(self):
        h = self.h
        # Nothing answers and no source names a proxy: the download fails without a question.
        h.machine(dotnet=True)
        h.write_config(server="http://download.tarvelo.com:%d" % harness.servers.free_port())
        h.start(env=self.closed_port_proxy(), args=["/quiet"])
        self.assertEqual(h.wait_exit(), 1603)
        self.assert_no_window()
        h.assert_log_in_order(["WinHttpSendRequest failed with error 12029",
                               "No proxy source answered, and an unattended run asks nobody for one",
                               "Download Failed"])
        h.assert_log_ends_with("Exit code 1603: a download or its check failed")

        # The browser's proxy wants credentials, which nobody is there to type.
        h.serve_packages()
        squid = h.squid()
        h.machine(dotnet=True, browser_proxy="127.0.0.1:%d" % squid.port)
        h.write_config()
        stage2 = h.stub(harness.STAGE2_PACKAGE)
        h.start(env=self.closed_port_proxy(), args=["/quiet"])
        self.assertEqual(h.wait_exit(), 1603)
        self.assert_no_window()
        self.assertEqual(stage2.starts(), [])
        h.assert_log_in_order(["The proxy asks for credentials (407), and an unattended run asks nobody for them"])
        h.assert_log_ends_with("Download Failed", "Exit code 1603: a download or its check failed")

        # A Windows version the configuration does not list.
        h.machine(windows="win2k", dotnet=True)
        h.start(args=["-quiet"])
        self.assertEqual(h.wait_exit(), 1633)
        self.assert_no_window()
        h.assert_log_ends_with("OS not Supported", "Exit code 1633: this Windows version is not in the supported list")

    def test_quiet_prerequisite_that_fails_stops_before_the_second_stage(self):
        h = self.h
        h.machine(dotnet=False)
        h.serve_packages()
        h.write_config()
        dotnet = h.stub(harness.DOTNET_PACKAGE, exit_code=1603)
        stage2 = h.stub(harness.STAGE2_PACKAGE)
        h.start(args=["/quiet"])
        self.assertEqual(h.wait_exit(), 1603)
        self.assert_no_window()
        self.assertEqual(len(dotnet.starts()), 1)
        self.assertEqual(stage2.starts(), [])
        h.assert_log_ends_with(".NET installer ended with 1603",
                               "Exit code 1603: a prerequisite failed, so the second stage was not started")

    def test_quiet_second_copy_ends_with_1618_and_leaves_the_first_alone(self):
        h = self.h
        h.machine(dotnet=True)
        h.serve_packages()
        h.write_config()
        stage2 = h.stub(harness.STAGE2_PACKAGE, wait=True)
        first = h.start(args=["/passive"])
        stage2.wait_started()
        log_before = h.log_bytes()
        second = h.start(args=["/quiet"])
        self.assertEqual(h.wait_exit(installer=second), 1618)
        self.assert_no_window(second)
        self.assertEqual(h.log_bytes(), log_before)
        self.assertTrue(first.running())
        stage2.release()
        self.assertEqual(h.wait_exit(installer=first), 0)

    def test_passive_shows_only_the_progress_and_quitting_it_ends_with_1602(self):
        h = self.h
        h.machine(dotnet=False)
        # The .NET package stalls after a few kilobytes, so the download is in progress for as
        # long as the test needs.
        h.serve_packages(fault=True)
        h.write_config(dotnet_tail="/packages/%s?stall=4096" % harness.DOTNET_PACKAGE)
        h.start(args=["/passive"])
        h.wait_log_line("Starting the download...")
        h.dialog("progress", do=["close"])
        h.dialog("smaller", texts={1031: h.text("QUIT_INSTALLING_CAPTION")}, do=["click:1"], gone=True)
        # Let the stalled transfer end now instead of at WinHTTP's receive time-out; the flag is
        # set by the time the confirmation has closed.
        time.sleep(0.3)
        h.servers[-1].stop()
        self.assertEqual(h.wait_exit(), 1602)
        h.assert_log_in_order([".NET 2.0 will be installed: unattended run", "Download Failed", "Installation Aborted"])
        h.assert_log_ends_with("Exit code 1602: the installation was quit in the progress dialog")
        # The progress dialog and the quit confirmation were made; the .NET question never.
        # (Wine raises no show events, so the record of windows made is the one to read; it
        # also holds the windows Wine makes for itself, an IME window and COM's.)
        dialogs = [w for w in h.installer.windows_made() if w["event"] == "create" and w["class"] == "#32770"]
        self.assertEqual(len(dialogs), 2, dialogs)
        self.assertEqual([t for t in h.installer.texts(1030) if t == h.text("DOTNET_REQUIRED")], [])

    def test_log_where_log_says_and_a_wrong_command_line_ends_with_1639(self):
        h = self.h
        h.machine(dotnet=True)
        h.serve_packages()
        h.write_config()
        stage2 = h.stub(harness.STAGE2_PACKAGE)
        folder = os.path.join(h.root, "deploy logs", "Tarvelo setup")
        os.makedirs(folder)
        log = os.path.join(folder, "setup.log")
        h.start(args=["/quiet", "/log", harness.windows_path(log)])
        self.assertEqual(h.wait_exit(), 0)
        self.assertEqual(len(stage2.starts()), 1)
        with open(log, "rb") as f:
            lines = f.read().decode("ascii").split("\r\n")
        self.assertEqual(lines[0], "Starting to read ConfigFile")
        self.assertEqual(lines[-2:], ["Launching Stage2", ""])
        self.assertIsNone(h.log_bytes(), "the usual log was written as well")

        # A switch of ours that nobody knows, or /log without its file: the usage is logged and
        # nothing is installed.
        for args in (["/quiet", "/bogus"], ["/quiet", "/log"]):
            h.start(args=args)
            self.assertEqual(h.wait_exit(), 1639, args)
            self.assert_no_window()
            self.assertIn("Command line not understood at " + args[-1], h.log())
            h.assert_log_ends_with("Exit code 1639: the command line is wrong")
        self.assertEqual(len(stage2.starts()), 1)

        # Attended, the usage is shown as well; /? shows it and ends with 0.
        for args, code in ((["/bogus"], 1639), (["/?"], 0)):
            h.start(args=args)
            box = h.robot("wait", ids=[1], do=["click:1"], gone=True)
            self.assertTrue(any(e["event"] == "dialog" for e in box), box)
            self.assertEqual(h.wait_exit(), code, args)
        self.assertEqual(len(stage2.starts()), 1)


if __name__ == "__main__":
    harness.main()
