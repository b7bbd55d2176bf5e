"""The release command and the one file it makes: what the command refuses, the signature it
gives, and the release exe started alone from a Downloads folder, where files planted beside it
are never read."""

import hashlib
import json
import os
import re
import shutil
import struct
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
import timestamp  # noqa: E402  (tests/servers, on the path through harness)

RELEASE = os.path.join(harness.SOURCE_DIR, "tools", "release.sh")
# Every DLL the typical run loads, as the hand-over test plants them (see test_hand_over.py).
from test_hand_over import PLANTED as PLANTED_DLLS  # noqa: E402


def bitmap(width, height, colour):
    """A 24-bit bitmap file of one colour (B, G, R)."""
    stride = (width * 3 + 3) // 4 * 4
    row = bytes(colour) * width + bytes(stride - width * 3)
    pixels = row * height
    return (struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54) +
            struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0) + pixels)


class ReleaseCommand(harness.E2ETest):
    """The command's checks run before anything is built; each refusal names its reason."""

    def refused(self, options=("--allow-unchecked",), **kw):
        """The reasons of an unsigned release of the run folder that the command refuses."""
        _, out = self.h.build_release(expect_rc=2, signer=None, options=list(options), **kw)
        return reasons(out)

    def run_release(self, *args):
        """tools/release.sh with exactly these arguments (SOURCE is the folder build_release
        laid out last); returns its exit code and output."""
        env = {k: v for k, v in os.environ.items() if k.lower() not in ("http_proxy", "https_proxy", "all_proxy")}
        done = subprocess.run(["bash", RELEASE] + list(args), env=dict(env, TARVELO_RELEASE_TREE=harness.BUILD_DIR),
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=900)
        out = done.stdout.decode("utf-8", "replace")
        self.h.transcript.append({"args": args, "rc": done.returncode, "out": out})
        return done.returncode, out

    def test_refusals_name_their_reason_and_payload_digests_are_carried(self):
        h = self.h
        https = "https://download.tarvelo.com"
        h.write_config(server="http://download.tarvelo.com", stage2_head=https, msi_head=https)

        # A plain-http address, named, unless allowed.
        reasons = self.refused()
        self.assertEqual(len(reasons), 1, reasons)
        self.assertIn(".NET package is fetched over http://", reasons[0])
        self.assertIn("http://download.tarvelo.com/packages/dotnetfx.exe", reasons[0])

        # --payloads: a digest already written must agree with the file of that name.
        payloads = os.path.join(h.root, "payloads")
        os.makedirs(payloads)
        stub = h.stub_bytes()
        with open(os.path.join(payloads, harness.STAGE2_PACKAGE), "wb") as f:
            f.write(stub)
        with open(os.path.join(payloads, harness.DOTNET_PACKAGE), "wb") as f:
            f.write(stub + b"x")
        with open(h.path("ConfigFile.txt"), "ab") as f:
            f.write(b"MsiSha256=;DotNetSha256=%s;\r\n" % hashlib.sha256(stub).hexdigest().encode())
        reasons = self.refused(options=["--allow-http", "--allow-unchecked", "--payloads", payloads])
        self.assertEqual(len(reasons), 1, reasons)
        self.assertRegex(reasons[0], r"\.NET package: field 14 gives SHA-256 [0-9A-F]{64}, but .*dotnetfx\.exe has")

        # A source without the English texts, or without one of the seven skin bitmaps.
        texts = {"Resource-de-DE.txt": open(h.path("Resource-de-DE.txt"), "rb").read()}
        reasons = self.refused(texts=texts, options=["--allow-http", "--allow-unchecked"])
        self.assertTrue(any("Resource-en-GB.txt is missing" in r for r in reasons), reasons)
        images = os.path.join(h.root, "images-short")
        shutil.copytree(h.path("Images"), images)
        os.remove(os.path.join(images, "OnPress.bmp"))
        reasons = self.refused(images=images, options=["--allow-http", "--allow-unchecked"])
        self.assertEqual(len(reasons), 1, reasons)
        self.assertIn("OnPress.bmp is missing", reasons[0])

        # Accepted: the second stage's digest is filled from --payloads and shown in the summary;
        # the update, not among the payloads, has neither digest nor signers and is allowed so.
        with open(os.path.join(payloads, harness.DOTNET_PACKAGE), "wb") as f:
            f.write(stub)
        _, out = h.build_release(signer=None, options=["--allow-http", "--allow-unchecked", "--payloads", payloads])
        digest = hashlib.sha256(stub).hexdigest().upper()
        self.assertEqual(out.count("SHA-256 " + digest), 2, out)  # .NET (as given) and the second stage
        self.assertEqual(out.count("NOT CHECKED"), 1, out)  # the update
        self.assertIn("is NOT signed (--unsigned)", out)

    def test_an_unsafe_release_is_refused_unless_asked_for_in_words(self):
        """Every reason of one refused run is named: a package with neither digest nor signers, no
        certificate, a .NET package downloaded to one file and started as another; a signature
        without a timestamp, a certificate under a root no machine trusts. Options stand anywhere."""
        h = self.h
        pki = harness.code_pki()
        digest = hashlib.sha256(b"the second stage").hexdigest()
        h.write_config(server="https://download.tarvelo.com", dotnet_file="\\DotNet\\setup.exe")
        with open(h.path("ConfigFile.txt"), "ab") as f:
            f.write(b"MsiSha256=;DotNetSha256=;Stage2Sha256=%s;\r\n" % digest.encode())
        h.build_release(signer=None, expect_rc=2)  # lays out the source folder
        source, output = os.path.join(h.root, "release-source"), os.path.join(h.root, "release", "options.exe")
        arch = ["--arch", harness.tree_arch()]

        rc, out = self.run_release(source, output, *arch)
        self.assertEqual(rc, 2, out)
        self.assertEqual(len(reasons(out)), 4, out)
        self.assertIn("no certificate to sign with (--sign-pkcs12)", out)
        for name, digest_field, signers_field in (("Windows Installer update", 13, 16), (".NET package", 14, 17)):
            self.assertIn("%s has neither a SHA-256 digest (field %d) nor signers (field %d)"
                          % (name, digest_field, signers_field), out)
        self.assertNotIn("Second stage has neither", out)
        self.assertIn('DotNetFile (field 3) is "\\DotNet\\setup.exe", but the installer starts DotNetFolder '
                      '(field 2) + "\\dotnetfx.exe", "\\DotNet\\dotnetfx.exe"', out)
        # Said in words, the unchecked packages and the unsigned exe pass; the .NET file never does.
        rc, out = self.run_release("--unsigned", source, "--allow-unchecked", output, *arch)
        self.assertEqual((rc, len(reasons(out))), (2, 1), out)
        self.assertIn("DotNetFile (field 3)", reasons(out)[0])

        h.write_config(server="https://download.tarvelo.com")
        h.build_release(signer=None, expect_rc=2)
        sign = ["--sign-pkcs12", pki.pkcs12("publisher"), "--sign-password-file", pki.password_file()]
        stranger = ["--sign-pkcs12", pki.pkcs12("stranger"), "--sign-password-file", pki.password_file()]
        cases = [
            ("no timestamp", [source, output, "--allow-unchecked"] + sign + ["--trust-root", pki.cert("root")],
             "no timestamp (--timestamp-url URL): the signature would stop verifying when the certificate expires; "
             "--no-timestamp allows it"),
            ("a test CA without --trust-root", sign + ["--no-timestamp", source, output, "--allow-unchecked"],
             "the certificate /CN=Tarvelo Software Ltd (test) does not verify against the roots this machine trusts"),
            ("a root nobody trusts", stranger + [source, "--no-timestamp", "--trust-root", pki.cert("root"), output,
                                                 "--allow-unchecked"],
             "the certificate /CN=Tarvelo Software Ltd (untrusted test) does not verify against the roots this machine trusts"),
        ]
        for case, args, reason in cases:
            with self.subTest(case):
                rc, out = self.run_release(*(args + arch))
                self.assertEqual((rc, len(reasons(out))), (2, 1), out)
                self.assertIn(reason, reasons(out)[0])
                self.assertFalse(os.path.exists(output))
        # Nothing that names an option's value as a path: a missing value, or two meanings at once.
        for args, message in ((["--payloads", "--unsigned", source, output], "--payloads needs a value"),
                              (["--unsigned", source, output, "--trust-root", pki.cert("root")],
                               "--trust-root verifies a signature; --unsigned makes none"),
                              ([source, output, "--unsigned", "--allow-unchecked", "extra"], "give SOURCE and OUTPUT")):
            rc, out = self.run_release(*args)
            self.assertEqual(rc, 3, out)
            self.assertIn(message, out)

        # Options before, between and after SOURCE and OUTPUT: a signed release whose root is
        # given, and its summary with the signer's key pin.
        rc, out = self.run_release("--arch", harness.tree_arch(), "--no-timestamp", *sign[:2], source,
                                   "--trust-root", pki.cert("root"), *sign[2:], output, "--allow-unchecked")
        self.assertEqual(rc, 0, out)
        self.assertIn("release: signer's SPKI pin " + h.signer_pin("publisher"), out)
        self.assertIn("release: NOT timestamped (--no-timestamp)", out)
        self.assertEqual(out.count("NOT CHECKED"), 3, out)
        good, report = pki.verify(output)
        self.assertTrue(good, report)

    def test_signed_exe_verifies_and_a_changed_byte_does_not(self):
        h = self.h
        h.write_config(server="https://download.tarvelo.com")
        exe, out = h.build_release(options=["--allow-unchecked"])
        pki = harness.code_pki()
        self.assertIn("release: signed by /CN=Tarvelo Software Ltd (test)", out)
        with open(pki.password_file()) as f:
            self.assertNotIn(f.read(), out)
        good, report = pki.verify(exe)
        self.assertTrue(good, report)
        changed = exe + ".changed.exe"
        with open(exe, "rb") as f:
            data = bytearray(f.read())
        data[0x400] ^= 0xFF  # in the first section, which the signature covers
        with open(changed, "wb") as f:
            f.write(data)
        good, report = pki.verify(changed)
        self.assertFalse(good, report)
        # WinVerifyTrust, with the chain checked as the installer checks its downloads, accepts the
        # exe's own signature where the test root is trusted (this test's prefix only), and
        # refuses the changed copy.
        h.trust_code_root()
        argv = [harness.tool("signature_probe.exe"), harness.windows_path(exe), h.signer_pin("publisher"),
                harness.windows_path(changed), h.signer_pin("publisher")]
        done = h.wine(argv, check=False)
        verdicts = [json.loads(line) for line in done.text.splitlines() if line.startswith("{")]
        self.assertEqual([(v["verdict"], v["step"]) for v in verdicts], [("trusted", "pins"), ("failed", "trust")],
                         done.text)
        # A wrong password: signing fails, and the command says so without showing it.
        wrong = os.path.join(h.root, "wrong-password")
        with open(wrong, "w") as f:
            f.write("not the password")
        rc, out = self.run_release(os.path.join(h.root, "release-source"), exe + ".2", "--arch", harness.tree_arch(),
                                   "--sign-pkcs12", pki.pkcs12("publisher"), "--sign-password-file", wrong,
                                   "--no-timestamp", "--allow-unchecked")
        self.assertNotEqual(rc, 0)
        self.assertIn("signing failed", out)
        self.assertNotIn("not the password", out)
        self.assertFalse(os.path.exists(exe + ".2"))

    def test_a_release_timestamped_by_a_timestamp_server(self):
        """osslsigncode asks the local RFC 3161 server (openssl ts answers), and verifies what it
        answered against the trusted roots; osslsigncode verify then shows the timestamp."""
        h = self.h
        h.write_config(server="https://download.tarvelo.com")
        pki = harness.code_pki()
        tsa = timestamp.TimestampServer(pki, os.path.join(h.root, "timestamps")).start()
        h.servers.append(tsa)
        exe, out = h.build_release(options=["--allow-unchecked", "--timestamp-url", tsa.url])
        self.assertEqual(tsa.granted, 1)
        self.assertRegex(out, r"release: timestamped \S.* by " + re.escape(tsa.url))
        good, report = pki.verify(exe)
        self.assertTrue(good, report)
        self.assertIn("Timestamp Server Signature verification: ok", report)
        # osslsigncode 2.5 (Debian 12) and later versions word the time differently.
        self.assertRegex(report, r"(The signature is timestamped|Timestamp time): \w{3} +\d+ [\d:]+ \d{4} GMT")


def reasons(out):
    return [line for line in out.splitlines() if line.startswith("release: refused: ")]


class ReleaseRun(harness.E2ETest):
    """The signed release exe, alone in a user's Downloads folder."""

    def release_into_downloads(self, planted=False):
        """Builds the release exe for the test's HTTPS server (digests from the served files) and
        leaves it alone in a folder named like a user's Downloads, with the planted files beside
        it if asked. Returns the planted server, if any."""
        h = self.h
        stub = h.stub_bytes()
        h.serve_packages(tls_kind="good")
        h.write_config()
        payloads = os.path.join(h.root, "payloads")
        os.makedirs(payloads)
        for name in (harness.STAGE2_PACKAGE, harness.DOTNET_PACKAGE, harness.MSI_PACKAGE):
            with open(os.path.join(payloads, name), "wb") as f:
                f.write(stub)
        exe, out = h.build_release(options=["--payloads", payloads])
        self.assertNotIn("SHA-256 not checked", out)
        downloads = h.run_from("Downloads")
        for name in os.listdir(downloads):
            path = os.path.join(downloads, name)
            shutil.rmtree(path) if os.path.isdir(path) else os.remove(path)
        shutil.copy2(exe, downloads)
        if not planted:
            return None
        # What a web page can make the browser drop beside the exe: a configuration naming another
        # server, texts of its own and a skin of another colour.
        other = harness.servers.FaultServer(os.path.join(h.root, "www"), os.path.join(h.root, "planted.log")).start()
        h.servers.append(other)
        h.write_config(server="http://download.tarvelo.com:%d" % other.port)
        with open(h.path("Resource-en-GB.txt"), "wb") as f:
            f.write("\ufeffDOTNET_REQUIRED=Planted text;DIALOG_CAPTION=Planted caption;".encode("utf-16-le"))
        os.makedirs(h.path("Images"))
        for name in ("Small.bmp", "InstallImage.bmp", "Smallest.bmp"):
            with open(h.path("Images", name), "wb") as f:
                f.write(bitmap(458, 302, (255, 0, 255)))
        return other

    def typical_run(self, wine_env=None):
        """.NET missing and agreed to; returns the started second stage's record."""
        h = self.h
        h.machine(dotnet=False)
        dotnet = h.stub(harness.DOTNET_PACKAGE)
        stage2 = h.stub(harness.STAGE2_PACKAGE, wait=True)
        h.start(wine_env=wine_env)
        question = h.dialog("message", texts={1030: h.text("DOTNET_REQUIRED")})
        self.assertEqual(question.text(1013), h.text("DIALOG_CAPTION"))
        shot = h.screenshot("question")
        h.robot("wait", kind="message", do=["click:1"], gone=True)
        dotnet.wait_started()
        start = stage2.wait_started()
        stage2.release()
        self.assertEqual(h.wait_exit(), 1)
        return start, shot

    def assert_downloads_in_the_clean_room(self, start):
        h = self.h
        stage2_file = h.CLEAN_ROOM + "\\" + harness.STAGE2_PACKAGE
        self.assertEqual(start["cmdline"], '"%s" en-GB' % stage2_file)
        for path in (os.path.join(h.clean_room, harness.STAGE2_PACKAGE),
                     os.path.join(h.clean_room, "DotNet", harness.DOTNET_PACKAGE)):
            with open(path, "rb") as f:
                self.assertTrue(f.read() == h.stub_bytes(), path)
        self.assertFalse(os.path.exists(os.path.join(h.temp_dir, "Tarvelo", "Setup")))
        h.assert_log_in_order(["Starting to read ConfigFile", "Using the configuration built into the installer",
                               "ConfigFile Read successfully", "Hash verified: " + stage2_file])

    def test_alone_in_an_empty_folder_it_runs_to_the_second_stage(self):
        h = self.h
        self.release_into_downloads()
        start, _ = self.typical_run()
        self.assert_downloads_in_the_clean_room(start)
        self.assertEqual(sorted(os.listdir(h.run_dir)), ["TarveloSetup.exe"])

    def test_files_planted_beside_it_are_never_read(self):
        """A configuration, texts, a skin, and a DLL under the name of every DLL the typical run
        loads (Wine told to prefer them, as Windows would): none of them is read or loaded."""
        h = self.h
        planted = self.release_into_downloads(planted=True)
        for name in PLANTED_DLLS:
            shutil.copy(harness.tool("planted_recorder.dll"), h.path(name + ".dll"))
        native_first = {"WINEDLLOVERRIDES": ",".join(PLANTED_DLLS) + "=n,b;mscoree,mshtml="}
        start, shot = self.typical_run(wine_env=native_first)
        self.assertEqual([n for n in os.listdir(h.run_dir) if n.endswith(".loaded")], [], "a planted DLL was loaded")
        self.assert_downloads_in_the_clean_room(start)
        with open(planted.log_path) as f:
            self.assertEqual(f.read(), "", "the planted server was asked")
        self.assertNotIn("Planted", "\n".join(h.log()))
        # Not one pixel of the planted skin's colour reaches the screen.
        colours = subprocess.run(["convert", shot, "-format", "%c", "histogram:info:-"],
                                 stdout=subprocess.PIPE, check=True).stdout.decode()
        self.assertNotIn("#FF00FF", colours.upper())

    def test_a_damaged_carried_archive_is_refused_and_nothing_on_disk_is_taken_instead(self):
        h = self.h
        self.release_into_downloads(planted=True)
        exe = h.path("TarveloSetup.exe")
        with open(exe, "rb") as f:
            data = bytearray(f.read())
        cabinet = data.find(b"MSCF")
        self.assertGreater(cabinet, 0)
        # The compressed bytes of the first file, the configuration (its folder's data offset).
        first = cabinet + struct.unpack_from("<I", data, cabinet + 36)[0]
        for at in range(first + 12, first + 300, 5):
            data[at] ^= 0xA5
        with open(exe, "wb") as f:
            f.write(data)
        h.machine(dotnet=False)
        h.start()
        h.dialog("message", do=["click:1"], gone=True)
        self.assertEqual(h.wait_exit(), 0)
        h.assert_log_in_order(["Starting to read ConfigFile", "Using the configuration built into the installer",
                               "ERROR: the inputs built into the installer cannot be read",
                               "ConfigFile Read successfully", "OS not Supported"])
        self.assertNotIn("Planted", "\n".join(h.log()))


if __name__ == "__main__":
    harness.main()
