#!/usr/bin/env python3
"""Bad input end to end: damaged configuration, text table and skin, a folder where a download
should go, and downloads checked against their SHA-256. Every case ends in a defined way (a
dialog, a log line, an exit code), never a crash or a hang. Each case counts towards the figure
the test command prints; TEMP unset is covered by test_startup.py."""

import hashlib
import os
import random
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

CASES = []


def record(name):
    CASES.append(name)


def write_figures():
    with open(os.path.join(harness.BUILD_DIR, "reliability-bad-input.txt"), "w") as f:
        f.write("bad-input catalogue: %d cases end to end\n" % len(CASES))


class BadInput(harness.E2ETest):
    def stop_message(self, texts=None):
        """The run ends at the unsupported-system stop; the message is answered."""
        h = self.h
        h.start()
        h.dialog("message", texts=texts, do=["click:1"], gone=True)
        self.assertEqual(h.wait_exit(), 0)

    def connection_notice(self):
        h = self.h
        h.dialog("smaller", texts={1031: h.text("PROXY_CAPTION"), 1014: h.text("CONNECTION_FAILURE")},
                 do=["click:1"], gone=True, timeout=90)
        self.assertEqual(h.wait_exit(), 0)
        h.assert_log_ends_with("Download Failed")

    def test_unusable_configuration_reads_as_empty_and_stops_as_unsupported(self):
        h = self.h
        h.machine(windows="win7", dotnet=True)
        h.write_config()
        twelve = open(h.path("ConfigFile.txt"), "rb").read()
        garbage = bytes(b for b in random.Random(7).randbytes(3000) if b not in b"0123456789;\0")
        cases = [
            ("missing", None, "ConfigFile.txt not found, read as empty"),
            ("empty", b"", "OS not Supported"),
            ("4097 bytes", twelve + b" " * (4097 - len(twelve)), "ConfigFile.txt is longer than 4096 bytes, read as empty"),
            ("binary garbage", garbage, "OS not Supported"),
            ("malformed digest", twelve + b"MsiSha256=" + b"0" * 63 + b";",
             "ConfigFile.txt field 13 is not a SHA-256 digest, read as empty"),
        ]
        for name, data, line in cases:
            with self.subTest(name):
                if data is None:
                    os.remove(h.path("ConfigFile.txt"))
                else:
                    h.write_config(raw=data)
                self.stop_message(texts={1030: h.text("CANNOT_INSTALL")})
                self.assertIn(line, h.log())
                h.assert_log_ends_with("OS not Supported")
                record("configuration " + name)

    def test_configuration_with_fields_missing_fails_the_download_cleanly(self):
        h = self.h
        h.machine(windows="win7", dotnet=True)
        h.write_config(raw="OS=600,610;\r\n")
        h.start()
        self.connection_notice()
        record("configuration with fields missing")

    def test_damaged_text_tables_and_skins_still_show_the_stop(self):
        h = self.h
        h.machine(windows="win2k")
        h.write_config()
        text_path = h.path("Resource-en-GB.txt")
        good = open(text_path, "rb").read()
        for name, data in [("missing", None), ("odd length", good + b"X"),
                           ("byte-order mark", b"\xff\xfe" + good),
                           ("no separator", good.replace(";".encode("utf-16-le"), b""))]:
            with self.subTest("text " + name):
                if data is None:
                    os.remove(text_path)
                else:
                    with open(text_path, "wb") as f:
                        f.write(data)
                self.stop_message()
                h.assert_log_ends_with("OS not Supported")
                record("text table " + name)
        with open(text_path, "wb") as f:
            f.write(good)

        images = h.path("Images")
        for name in ("not bitmaps", "missing"):
            with self.subTest("images " + name):
                if name == "missing":
                    shutil.rmtree(images)
                else:
                    for bmp in os.listdir(images):
                        with open(os.path.join(images, bmp), "wb") as f:
                            f.write(b"BM this is not a bitmap at all\r\n" * 8)
                self.stop_message(texts={1030: h.text("CANNOT_INSTALL")})
                h.assert_log_ends_with("OS not Supported")
                record("images " + name)

    def test_folder_in_place_of_the_download_target_fails_and_starts_nothing(self):
        h = self.h
        h.machine(windows="win7", dotnet=True)
        h.serve_packages()
        h.write_config()
        os.makedirs(h.config_path("stage2_file"))
        stage2 = h.stub(harness.STAGE2_PACKAGE)
        h.start()
        self.connection_notice()
        self.assertEqual(stage2.starts(), [])
        record("folder in place of the download target")

    def test_second_stage_is_started_only_when_its_digest_matches(self):
        h = self.h
        h.machine(windows="win7", dotnet=True)
        h.serve_packages()
        h.write_config()
        twelve = open(h.path("ConfigFile.txt"), "rb").read()
        stage2 = h.stub(harness.STAGE2_PACKAGE)
        target = h.config_path("stage2_file")

        wrong = hashlib.sha256(b"something else").hexdigest().encode()
        h.write_config(raw=twelve + b"MsiSha256=;\r\nDotNetSha256=;\r\nStage2Sha256=" + wrong + b";\r\n")
        h.start()
        self.connection_notice()
        self.assertEqual(stage2.starts(), [])
        self.assertFalse(os.path.exists(target))
        mismatches = [line for line in h.log() if line.startswith("Hash mismatch: ")]
        self.assertEqual(len(mismatches), 2)
        self.assertTrue(mismatches[0].endswith(harness.STAGE2_PACKAGE))
        record("second stage with a wrong digest")

        right = hashlib.sha256(h.stub_bytes()).hexdigest().upper().encode()
        h.write_config(raw=twelve + b";;Stage2Sha256=" + right + b"\r\n")
        h.start()
        self.assertEqual(stage2.wait_started()["args"], ["en-GB"])
        self.assertEqual(h.wait_exit(), 1)
        verified = [line for line in h.log() if line.startswith("Hash verified: ")]
        self.assertEqual(len(verified), 1)
        self.assertTrue(verified[0].endswith("\\" + harness.STAGE2_PACKAGE))
        record("second stage with its digest")


if __name__ == "__main__":
    try:
        harness.main()
    finally:
        write_figures()
