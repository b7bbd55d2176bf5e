"""A release run that is interrupted leaves its download and a record beside it; the next run
asks only for the rest, and only when the server proves the file unchanged (If-Range)."""

import hashlib
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

STAGE2 = harness.STAGE2_PACKAGE
SIZE = 3 * 1024 * 1024
# At a whole number of the installer's 1 KiB reads: WinHTTP holds back a read that the stall leaves short.
STOP_AT = SIZE * 6 // 10 // 1024 * 1024


def record_text(address, length, validator, written):
    """A record as the installer writes it."""
    return ("Tarvelo download record 1\r\naddress %s\r\nlength %d\r\nvalidator %s\r\nwritten %010d\r\n"
            % (address, length, validator, written)).encode("ascii")


def etag(data):
    """The fault server's strong ETag of a file."""
    return '"%s"' % hashlib.sha256(data).hexdigest()[:20]


class ContinuedDownloads(harness.E2ETest):
    def setUp(self):
        super().setUp()
        h = self.h
        self.stage2 = h.stub_bytes() + bytes(range(256)) * ((SIZE - len(h.stub_bytes())) // 256)
        self.stage2 += bytes(SIZE - len(self.stage2))
        # Plain HTTP, so that what the server sends is what the installer reads, byte for byte: a
        # TLS layer may hold back the end of what was sent before a stall.
        h.serve_packages({STAGE2: self.stage2}, fault=True)
        self.server = h.servers[-1]
        h.machine(dotnet=True)
        self.setup_dir = h.clean_room
        self.stage2_file = os.path.join(self.setup_dir, STAGE2)
        self.stage2_windows = h.CLEAN_ROOM + "\\" + STAGE2
        self.record_file = self.stage2_file + ".resume"

    def release(self, query=""):
        """The release exe, alone in a Downloads folder, for a second stage at this query."""
        h = self.h
        h.write_config(stage2_tail="/packages/%s%s" % (STAGE2, query))
        self.address = h.server_url + "/packages/%s%s" % (STAGE2, query)
        exe, _ = h.build_release(options=["--allow-http", "--allow-unchecked"])
        downloads = h.run_from("Downloads")
        for name in os.listdir(downloads):
            path = os.path.join(downloads, name)
            if os.path.isfile(path):
                os.remove(path)
        os.replace(exe, os.path.join(downloads, "TarveloSetup.exe"))

    def written(self):
        try:
            with open(self.record_file, "rb") as f:
                text = f.read().decode("ascii", "replace")
        except FileNotFoundError:
            return None
        return int(text.rsplit("written ", 1)[1][:10]) if "written " in text else None

    def kill_at_the_stall(self):
        """Starts the installer and ends its process (as a killed process or a power loss would)
        once the server has stopped sending at STOP_AT and the installer has written it all (a
        download without a record: once the file holds it all)."""
        h = self.h
        h.start()
        reached = lambda: (self.written() == STOP_AT if "noetag" not in self.address
                           else os.path.exists(self.stage2_file) and os.path.getsize(self.stage2_file) == STOP_AT)
        self.assertTrue(harness.poll(reached), "the download did not reach the stall")
        subprocess.run(["wineserver", "-k"], env=h.wine_env(), timeout=60)
        subprocess.run(["wineserver", "-w"], env=h.wine_env(), timeout=60)
        # The launcher went with the prefix's other processes: its record has no end.
        h.installer.wait(whole_record=False)

    def second_run(self):
        """Runs the installer again to the second stage; returns the requests of it."""
        h = self.h
        with open(self.server.log_path) as f:
            before = len(f.readlines())
        stage2 = h.stub(STAGE2, wait=True)
        h.start()
        start = stage2.wait_started()
        stage2.release()
        self.assertEqual(h.wait_exit(), 1)
        with open(self.server.log_path) as f:
            asked = [line for line in f.readlines()[before:] if STAGE2 in line]
        return start, asked

    def assert_identical(self, start, data):
        with open(self.stage2_file, "rb") as f:
            self.assertTrue(f.read() == data, "the second stage is not the served file")
        self.assertEqual(start["sha256"], hashlib.sha256(data).hexdigest())
        self.assertFalse(os.path.exists(self.record_file), "a complete download keeps its record")

    def test_a_killed_run_is_continued_where_it_stopped(self):
        h = self.h
        self.release("?stall=%d" % STOP_AT)
        self.kill_at_the_stall()
        kept = os.path.getsize(self.stage2_file)
        self.assertEqual(self.written(), kept)
        start, asked = self.second_run()
        self.assertEqual(len(asked), 1, asked)
        self.assertIn("range=bytes=%d-%d ifrange=%s " % (kept, SIZE - 1, etag(self.stage2)), asked[0])
        self.assert_identical(start, self.stage2)
        h.assert_log_in_order(["Continuing earlier download of %s at %d" % (self.stage2_windows, kept),
                               "Download complete...FileName : " + self.stage2_windows])
        # Both runs together fetched the file once, and at most the one read in hand when the
        # process ended more.
        sent = self.server.sent["/packages/" + STAGE2]
        self.assertGreaterEqual(sent, SIZE)
        self.assertLessEqual(sent - SIZE, 1024)
        with open(os.path.join(harness.BUILD_DIR, "reliability-continue.txt"), "w") as f:
            f.write("interrupted run: %d of %d bytes kept, %d bytes fetched again by the next run\n"
                    % (kept, SIZE, sent - SIZE))

    def test_a_run_the_user_quits_keeps_its_download_for_the_next(self):
        h = self.h
        self.release("?stall=%d" % STOP_AT)
        h.start()
        self.assertTrue(harness.poll(lambda: self.written() == STOP_AT), "the download did not reach the stall")
        h.dialog("progress", do=["close"])
        h.dialog("smaller", texts={1031: h.text("QUIT_INSTALLING_CAPTION")}, do=["click:1"], gone=True)
        self.server.release_stalls()  # the read in progress ends now, not at WinHTTP's time-out
        self.assertEqual(h.wait_exit(), 0)
        path = self.stage2_windows
        h.assert_log_in_order(["download aborted...", "Kept incomplete download for the next run: " + path,
                               "Installation Aborted"])
        # At the stall, or further: a loaded machine may take longer than WinHTTP's receive time-out
        # to quit, and then a resume brought more before the quit was seen.
        kept = os.path.getsize(self.stage2_file)
        self.assertGreaterEqual(kept, STOP_AT)
        self.assertEqual(self.written(), kept)
        start, asked = self.second_run()
        self.assertIn("range=bytes=%d-" % kept, asked[0])
        self.assert_identical(start, self.stage2)

    def test_a_file_replaced_on_the_server_between_runs_starts_again_at_zero(self):
        h = self.h
        self.release("?stall=%d" % STOP_AT)
        self.kill_at_the_stall()
        kept = os.path.getsize(self.stage2_file)
        replaced = self.stage2[:-4096] + bytes(range(256)) * 8 + b"new version" * 10
        with open(os.path.join(h.root, "www", "packages", STAGE2), "wb") as f:
            f.write(replaced)
        start, asked = self.second_run()
        self.assertIn("ifrange=%s " % etag(self.stage2), asked[0])
        self.assert_identical(start, replaced)
        h.assert_log_in_order(["Continuing earlier download of %s at %d" % (self.stage2_windows, kept),
                               "Earlier download of %s discarded: the server sent the whole file"
                               % self.stage2_windows])

    def test_without_a_validator_nothing_is_kept(self):
        h = self.h
        self.release("?stall=%d&noetag=1" % STOP_AT)
        self.kill_at_the_stall()
        self.assertFalse(os.path.exists(self.record_file))
        start, asked = self.second_run()
        self.assertIn("range=- ", asked[0])
        self.assert_identical(start, self.stage2)
        h.assert_log_lacks("Continuing earlier download of " + self.stage2_windows)

    def test_records_that_cannot_be_trusted(self):
        """A record claiming more than the file holds, a record of garbage, a record of another
        address: each run ends byte-identical, with the line that says what was done."""
        h = self.h
        self.release()
        path = self.stage2_windows
        cases = [
            ("more than the file", record_text(self.address, SIZE, etag(self.stage2), 2000000), 1500000,
             "Continuing earlier download of %s at 1500000" % path, "range=bytes=1500000-"),
            ("garbage", b"\x00\xffnot a record\r\n" * 3, 1500000,
             "Earlier download of %s discarded: its record cannot be read" % path, "range=- "),
            ("another address", record_text(self.address + "&x=1", SIZE, etag(self.stage2), 1500000), 1500000,
             "Earlier download of %s discarded: its record is of another address" % path, "range=- "),
        ]
        # And one that lies a week and a day old: it is deleted at start.
        old = os.path.join(self.setup_dir, "DotNet", "dotnetfx.exe")
        os.makedirs(os.path.dirname(old))
        with open(old, "wb") as f:
            f.write(self.stage2[:5000])
        with open(old + ".resume", "wb") as f:
            f.write(record_text(self.address, SIZE, etag(self.stage2), 5000))
        eight_days_ago = time.time() - 8 * 24 * 3600
        os.utime(old + ".resume", (eight_days_ago, eight_days_ago))
        cases[0] = cases[0][:3] + (cases[0][3], cases[0][4], [
            "Earlier download of %s discarded: it is older than seven days"
            % (h.CLEAN_ROOM + "\\DotNet\\dotnetfx.exe")])
        for name, record, kept, line, asked_range, *more in cases:
            with self.subTest(name):
                os.makedirs(self.setup_dir, exist_ok=True)
                with open(self.stage2_file, "wb") as f:
                    f.write(self.stage2[:kept])
                with open(self.record_file, "wb") as f:
                    f.write(record)
                if os.path.exists(h.log_path):
                    os.remove(h.log_path)
                start, asked = self.second_run()
                self.assertIn(asked_range, asked[0])
                self.assert_identical(start, self.stage2)
                h.assert_log_in_order((more[0] if more else []) + [line])
        self.assertFalse(os.path.exists(old) or os.path.exists(old + ".resume"))


if __name__ == "__main__":
    harness.main()
