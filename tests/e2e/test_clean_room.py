"""A release run works as administrator, so it trusts nothing that a program of the user can
change: it downloads, keeps and starts its packages in "%ProgramData%\\Tarvelo\\Setup", runs them
there, and never writes the log or the proxy file through a link planted in the user's profile."""

import hashlib
import os
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from test_continue import etag, record_text  # noqa: E402

STAGE2 = harness.STAGE2_PACKAGE
DOTNET = harness.DOTNET_PACKAGE
ELSEWHERE_TEXT = b"another program's file\r\n"


class CleanRoom(harness.E2ETest):
    def release(self):
        """The release exe alone in a Downloads folder. The packages come from the fault server,
        which is also the browser's proxy (the direct attempt meets a closed port), so that a
        proxy is saved."""
        h = self.h
        self.stage2 = h.stub_bytes() + b"the second stage " * 4096
        h.serve_packages({STAGE2: self.stage2, DOTNET: h.stub_bytes()}, fault=True)
        h.machine(dotnet=False, browser_proxy="127.0.0.1:%d" % h.servers[-1].port)
        h.write_config()
        # Unchecked on purpose: the clean room alone must keep planted bytes from running, as
        # where no digest or signer is configured.
        exe, _ = h.build_release(options=["--allow-http", "--allow-unchecked"])
        downloads = h.run_from("Downloads")
        for name in os.listdir(downloads):
            path = os.path.join(downloads, name)
            shutil.rmtree(path) if os.path.isdir(path) else os.remove(path)
        shutil.copy2(exe, downloads)
        self.dotnet = h.stub(DOTNET)
        self.second_stage = h.stub(STAGE2)

    def start(self):
        self.h.start(env={"http_proxy": "http://127.0.0.1:%d" % harness.servers.free_port()})

    def typical_run(self, count):
        """.NET missing and agreed to; returns the records of the .NET package's and the second
        stage's starts (the `count`th of each)."""
        h = self.h
        self.start()
        h.dialog("message", texts={1030: h.text("DOTNET_REQUIRED")}, do=["click:1"], gone=True)
        dotnet = self.dotnet.wait_started(count=count)
        stage2 = self.second_stage.wait_started(count=count)
        self.assertEqual(h.wait_exit(), 1)
        return dotnet, stage2

    def elsewhere(self, name):
        """A file of another program's, outside every folder the installer uses."""
        path = os.path.join(self.h.root, "elsewhere", name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(ELSEWHERE_TEXT)
        return path

    def assert_untouched(self, path):
        with open(path, "rb") as f:
            self.assertEqual(f.read(), ELSEWHERE_TEXT, path)

    def test_nothing_planted_in_the_users_reach_runs_or_is_written_through(self):
        h = self.h
        self.release()
        # Another program's bytes in the user's TEMP, with a record that would have them continued
        # with the server's tail and started as the second stage.
        old = os.path.join(h.temp_dir, "Tarvelo", "Setup")
        os.makedirs(old)
        with open(harness.tool("hold.exe"), "rb") as f:
            planted = f.read()[:20000]
        address = h.server_url + "/packages/" + STAGE2
        old_files = {os.path.join(old, STAGE2): planted,
                     os.path.join(old, STAGE2 + ".resume"): record_text(address, len(self.stage2), etag(self.stage2),
                                                                         len(planted))}
        for path, data in old_files.items():
            with open(path, "wb") as f:
                f.write(data)
        # A link in place of the proxy file, leading to another program's file.
        proxy_target = self.elsewhere("proxy-target.txt")
        proxy_file = h.appdata_path("ProxyInfo.proxy")
        os.makedirs(os.path.dirname(proxy_file), exist_ok=True)
        if os.path.lexists(proxy_file):
            os.remove(proxy_file)
        os.symlink(proxy_target, proxy_file)

        dotnet, stage2 = self.typical_run(1)
        # What starts is the server's second stage, byte for byte, from the clean room.
        self.assertEqual(stage2["sha256"], hashlib.sha256(self.stage2).hexdigest())
        self.assertEqual(stage2["cmdline"], '"%s\\%s" en-GB' % (h.CLEAN_ROOM, STAGE2))
        # The old folder is neither read, nor continued, nor deleted.
        for path, data in old_files.items():
            with open(path, "rb") as f:
                self.assertTrue(f.read() == data, path)
        self.assertFalse(any(line.startswith("Continuing earlier download") for line in h.log()), h.log())
        # Both programs run in the clean room; the .NET package unpacks into a folder of its own
        # there, which is gone once it has ended. Neither runs in the user's profile or in the
        # folder the exe was started from.
        profile = h.machine_info["appdata"].lower().split("\\appdata")[0]
        for start in (dotnet, stage2):
            self.assertEqual(start["cwd"], h.CLEAN_ROOM)
        self.assertRegex(dotnet["temp"], r"^C:\\ProgramData\\Tarvelo\\Setup\\Temp-\d+$")
        self.assertEqual(dotnet["tmp"], dotnet["temp"])
        for folder in (dotnet["cwd"], dotnet["temp"]):
            self.assertFalse(folder.lower().startswith(profile), folder)
            self.assertFalse(folder.lower().startswith(harness.windows_path(h.run_dir).lower()), folder)
        self.assertEqual([n for n in os.listdir(h.clean_room) if n.startswith("Temp-")], [])
        self.assertEqual(stage2["temp"], harness.windows_path(h.temp_dir))  # otherwise the user's environment
        # The proxy worked, but its file is neither deleted nor written through the link.
        self.assert_untouched(proxy_target)
        self.assertTrue(os.path.islink(proxy_file))
        leads_to = " leads to " + harness.windows_path(proxy_target)
        proxy_windows = h.machine_info["appdata"] + "\\ProxyInfo.proxy"
        h.assert_log_in_order(["Proxy file not deleted: " + proxy_windows + leads_to,
                               "Proxy file not written: " + proxy_windows + leads_to, "Launching Stage2"])

        # A link in place of the log's folder, leading to a folder with a log of its own: the run
        # goes on to the second stage with logging off, and that log stays as it was.
        logs = os.path.dirname(h.log_path)
        shutil.rmtree(logs)
        log_target = self.elsewhere("Stage1Logs.txt")
        os.symlink(os.path.dirname(log_target), logs)
        self.typical_run(2)
        self.assert_untouched(log_target)
        self.assertEqual(sorted(os.listdir(os.path.dirname(log_target))), ["Stage1Logs.txt", "proxy-target.txt"])

    def test_a_link_in_place_of_the_clean_room_is_never_followed(self):
        """Windows would rename the link itself aside and make the folder anew. Wine opens a link's
        target even when asked for the link, so nothing can rename the link alone: the run ends
        with the stop of an unusable configuration, logged, and the link's folder is untouched."""
        h = self.h
        self.release()
        target = os.path.dirname(self.elsewhere("Stage1Logs.txt"))
        with open(os.path.join(target, STAGE2), "wb") as f:
            f.write(h.stub_bytes())
        os.makedirs(os.path.dirname(h.clean_room))
        os.symlink(target, h.clean_room)
        self.start()
        h.dialog("message", texts={1030: h.text("CANNOT_INSTALL")}, do=["click:1"], gone=True)
        self.assertEqual(h.wait_exit(), 0)
        h.assert_log_in_order(["Using the configuration built into the installer", h.CLEAN_ROOM + " is a link",
                               "ERROR: the working folder cannot be used: " + h.CLEAN_ROOM + " could not be set aside",
                               "ConfigFile.txt could not be read, read as empty", "OS not Supported"])
        self.assertEqual(self.second_stage.starts(), [])
        self.assertEqual(os.readlink(h.clean_room), target)
        self.assertEqual(sorted(os.listdir(target)), ["Stage1Logs.txt", STAGE2])
        self.assert_untouched(os.path.join(target, "Stage1Logs.txt"))


if __name__ == "__main__":
    harness.main()
