"""The install sequence end to end: the checks of the machine, the stop messages, the .NET
question and what the plan then holds, run on the real program with the robot answering."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

REQUIREMENTS_PAGE = " http://www.tarvelo.com/r/1.3/download"


class InstallSequence(harness.E2ETest):
    def check_message(self, d, headline, body, button):
        h = self.h
        self.assertEqual(d.text(1013), h.text("DIALOG_CAPTION"))
        self.assertEqual(d.text(1030), h.text(headline))
        self.assertEqual(d.text(1014), h.text(body))
        self.assertEqual(d.text(1), h.text(button))
        self.assertTrue(d.visible(1))
        self.assertFalse(d.visible(2), "one-button message shows its second button")

    def test_unsupported_windows_stops_with_the_requirements_link(self):
        h = self.h
        info = h.machine(windows="win2k", dotnet=True)
        self.assertEqual((info["major"], info["minor"]), (5, 0))
        browser = h.browser_stub()
        h.write_config()
        h.start()
        d = h.dialog("message", texts={1030: h.text("CANNOT_INSTALL")})
        self.check_message(d, "CANNOT_INSTALL", "SYSTEM_CONFIG", "OK_BUTTON")
        self.assertEqual(d.text(1029), h.text("SYSTEM_REQUIREMENTS"))
        # The link opens the product's requirements page, leading space and all.
        h.dialog("message", do=["notify:1029"])
        start = browser.wait_started()
        self.assertEqual(start["args"], [REQUIREMENTS_PAGE])
        self.assertTrue(start["cmdline"].endswith('\\Internet Explorer\\IEXPLORE.EXE" "%s"' % REQUIREMENTS_PAGE),
                        start["cmdline"])
        h.dialog("message", do=["click:1"], gone=True)
        self.assertEqual(h.wait_exit(), 0)
        h.assert_log_ends_with("OS not Supported")
        self.assertFalse(os.path.exists(h.config_path("dotnet_folder")))

    def test_supported_windows_with_dotnet_asks_nothing_and_fetches_only_the_second_stage(self):
        h = self.h
        # A listed version with its service pack: 5.1 SP2 against the entry 512.
        h.machine(windows=(5, 1, 2, 2600), dotnet=True)
        h.serve_packages()
        stage2 = h.stub(harness.STAGE2_PACKAGE)
        dotnet = h.stub(harness.DOTNET_PACKAGE)
        h.write_config(os_versions=(400, 512))
        h.start()
        # No question: the run goes through to the second stage without anyone answering.
        self.assertEqual(h.wait_exit(), 1)
        h.assert_log_in_order(["After Check_OS", "After IsUserAdmin", "Before UI Thread Creation",
                               "Downloading File: " + harness.windows_path(h.path(harness.STAGE2_PACKAGE))])
        log = h.log()
        self.assertNotIn(".NET 2.0 not found", log)
        self.assertEqual(len([line for line in log if line.startswith("Downloading File: ")]), 1, log)
        self.assertEqual(stage2.wait_started()["args"], ["en-GB"])
        self.assertEqual(dotnet.starts(), [])
        self.assertFalse(os.path.exists(h.config_path("dotnet_folder")))

    def test_declining_dotnet_ends_the_run_after_the_question(self):
        h = self.h
        h.machine(dotnet=False)
        h.write_config()
        quit_texts = {1031: h.text("QUIT_INSTALLING_CAPTION")}
        # The close control and the system Close command ask first; "no" keeps the question.
        for closing in ("close", "sysclose"):
            h.start()
            d = h.dialog("message", texts={1030: h.text("DOTNET_REQUIRED")})
            self.check_message(d, "DOTNET_REQUIRED", "DOTNET_NOTFOUND", "YES_BUTTON")
            self.assertEqual(d.text(1029), "")
            h.dialog("message", do=[closing])
            confirm = h.dialog("smaller", texts=quit_texts, do=["click:2"], gone=True)
            self.assertEqual(confirm.text(1014), h.text("QUIT_TARVELO"))
            self.assertEqual((confirm.text(1), confirm.text(2)), (h.text("YES"), h.text("NO")))
            self.assertTrue(h.installer.running())
            h.dialog("message", texts={1030: h.text("DOTNET_REQUIRED")}, do=[closing])
            h.dialog("smaller", texts=quit_texts, do=["click:1"], gone=True)
            self.assertEqual(h.wait_exit(), 0, closing)
            h.assert_log_ends_with(".NET 2.0 not found")
        # WM_CLOSE ends the question without asking, with the same outcome.
        h.start()
        h.dialog("message", texts={1030: h.text("DOTNET_REQUIRED")}, do=["wmclose"], gone=True)
        self.assertEqual(h.wait_exit(), 0)
        h.assert_log_ends_with(".NET 2.0 not found")
        self.assertFalse(os.path.exists(h.config_path("dotnet_folder")))

    def test_accepting_dotnet_by_button_or_escape_plans_the_package_into_its_folder(self):
        h = self.h
        h.machine(dotnet=False)
        h.serve_packages()
        h.write_config()
        folder = h.config_path("dotnet_folder")
        for answer in ("click:1", "escape"):
            stage2 = h.stub(harness.STAGE2_PACKAGE)
            dotnet = h.stub(harness.DOTNET_PACKAGE)
            h.start()
            h.dialog("message", texts={1030: h.text("DOTNET_REQUIRED")}, do=[answer], gone=True)
            self.assertEqual(h.wait_exit(), 1, answer)
            self.assertTrue(os.path.isdir(folder), answer)
            downloads = [line for line in h.log() if line.startswith("Downloading File: ")]
            self.assertEqual(downloads, [h.logged(
                "Downloading File: " + harness.windows_path(h.config_path("dotnet_file"))), h.logged(
                "Downloading File: " + harness.windows_path(h.path(harness.STAGE2_PACKAGE)))], answer)
            run = dotnet.wait_started()
            self.assertEqual(run["args"], ["/q:a", "/c:install.exe /q"])
            self.assertEqual(stage2.wait_started()["args"], ["en-GB"])
            # The next answer starts from a machine without the folder.
            for name in os.listdir(h.stub_dir):
                os.remove(os.path.join(h.stub_dir, name))
            harness.shutil.rmtree(folder)


if __name__ == "__main__":
    harness.main()
