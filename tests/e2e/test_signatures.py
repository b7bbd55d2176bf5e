#!/usr/bin/env python3
"""The installer's own signature check (linked into tests/tools/signature_probe.exe) on each
kind of file the network may hand over, in a prefix of the test's own that trusts the test
code-signing root: which files it accepts, and for each refusal which step refused it and with
what code. Under Wine 8 WinVerifyTrust accepts a certificate under a root nobody trusts; the
chain's own status must refuse it. Then the real exe, end to end, with a second stage whose
publisher's signature is nested under another's, and one with bytes hidden in its certificate
table. The figures go to the test command's reliability summary."""

import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
import codesign  # noqa: E402

# What CVE-2013-3900 describes hiding in a signed file: bytes inside its certificate table,
# after the signature, which no signature covers.
HIDDEN = b"MZ a second program could hide here; nobody signed these bytes...".ljust(72, b".")


def nested_stub(h, primary, nested, change_one_byte=False):
    """The stub signed by `primary` with SHA-1, as older redistributables are, and by `nested`
    with SHA-256 as a nested signature (osslsigncode sign -nest)."""
    pki = harness.code_pki()
    first = os.path.join(h.root, "primary-%s.exe" % primary)
    both = os.path.join(h.root, "nested-%s-%s%s.exe" % (primary, nested, "-changed" if change_one_byte else ""))
    pki.sign(harness.tool("stub.exe"), first, primary, digest="sha1")
    pki.sign(first, both, nested, nest=True)
    if change_one_byte:
        codesign.change_one_byte(both)
    with open(both, "rb") as f:
        return f.read()


def with_hidden_bytes(h, data, name, hidden=HIDDEN, inside_entry=True):
    path = os.path.join(h.root, name + ".exe")
    with open(path, "wb") as f:
        f.write(data)
    codesign.add_to_certificate_table(path, hidden, inside_entry)
    with open(path, "rb") as f:
        return f.read()


class Signatures(harness.E2ETest):
    def probe(self, files):
        """signature_probe.exe's verdicts, in one run, on files given as (name, bytes, pins):
        (verdict, step, code, the signature that decided) for each."""
        argv = [harness.tool("signature_probe.exe")]
        for name, data, pins in files:
            path = os.path.join(self.h.root, name + ".exe")
            with open(path, "wb") as f:
                f.write(data)
            argv += [harness.windows_path(path), ",".join(pins)]
        done = self.h.wine(argv, check=False)
        lines = [json.loads(line) for line in done.text.splitlines() if line.startswith("{")]
        self.assertEqual([line.get("event") for line in lines], ["checked"] * len(files), done.text)
        trusted = all(line["verdict"] == "trusted" for line in lines)
        self.assertEqual(done.returncode, 0 if trusted else 1, done.text)
        return [(line["verdict"], line["step"], line["hex"], line["signature"]) for line in lines]

    def test_each_kind_of_file_is_accepted_or_refused_by_the_step_that_should(self):
        h = self.h
        pin = {name: h.signer_pin(name) for name in
               ("root", "intermediate", "publisher", "prereq", "impostor", "stranger", "other-root")}
        signed = h.signed_stub("publisher")
        # Before the root is trusted here, the publisher's own signature is refused, and not by
        # WinVerifyTrust: the chain's status says its root is not trusted.
        self.assertEqual(self.probe([("before-trust", signed, [pin["publisher"]])]),
                         [("failed", "chain", "0x00000020", 0)])
        h.trust_code_root()

        appended = signed + b"\0" * 512
        nested = nested_stub(h, "prereq", "publisher")
        ok, failed, not_trusted = ("trusted", "pins", "0x00000000"), "failed", ("not_trusted", "pins", "0x00000000")
        cases = [
            # (case, bytes, pins, expected (verdict, step, code), the signature that decided)
            ("pin on the leaf", signed, ["publisher"], ok, 0),
            ("pin on the issuing authority", signed, ["intermediate"], ok, 0),
            ("pin on the root", signed, ["root"], ok, 0),
            ("one pin of several", signed, ["stranger", "publisher"], ok, 0),
            ("one byte changed after signing", h.signed_stub("publisher", change_one_byte=True), ["publisher"],
             (failed, "trust", "0x80096010"), 0),
            ("bytes appended after signing", appended, ["publisher"], (failed, "trust", "0x800b0100"), 0),
            ("unsigned", h.signed_stub(None), ["publisher"], (failed, "trust", "0x800b0100"), 0),
            ("another key under the trusted root", h.signed_stub("impostor"), ["publisher"], not_trusted, 0),
            ("the prerequisites' publisher for the second stage", h.signed_stub("prereq"), ["publisher"],
             not_trusted, 0),
            ("a root nobody trusts, pin on the leaf", h.signed_stub("stranger"), ["stranger"],
             (failed, "chain", "0x00000020"), 0),
            ("a root nobody trusts, pin on that root", h.signed_stub("stranger"), ["other-root"],
             (failed, "chain", "0x00000020"), 0),
            # Every valid signature counts: the publisher's SHA-256 signature nested in a file
            # another publisher signed first with SHA-1 passes on the nested one.
            ("nested, pin on the nested signer", nested, ["publisher"], ok, 1),
            ("nested, pin on the primary signer", nested, ["prereq"], ok, 0),
            ("nested, pinned on neither", nested, ["impostor"], not_trusted, 0),
            ("nested under a primary signature from a root nobody trusts", nested_stub(h, "stranger", "publisher"),
             ["publisher"], ok, 1),
            # The nested signature vouches for the image too: one changed byte fails both.
            ("nested, one byte changed after signing", nested_stub(h, "prereq", "publisher", change_one_byte=True),
             ["publisher"], (failed, "trust", "0x80096010"), 0),
            ("nested, signed by another key under the trusted root", nested_stub(h, "prereq", "impostor"),
             ["publisher"], not_trusted, 0),
            # The certificate table holds the signature and nothing else, whatever WinVerifyTrust
            # says (Wine's accepts all of these, as Windows does without its strict check).
            ("bytes hidden in the certificate table", with_hidden_bytes(h, signed, "hidden"), ["publisher"],
             (failed, "table", "0x00000000"), 0),
            ("bytes hidden in the table of a nested signature", with_hidden_bytes(h, nested, "hidden-nested"),
             ["publisher"], (failed, "table", "0x00000000"), 0),
            ("a second entry in the certificate table",
             with_hidden_bytes(h, signed, "second-entry", second_entry(), inside_entry=False), ["publisher"],
             (failed, "table", "0x00000000"), 0),
        ]
        outcomes = self.probe([("case%d" % number, data, [pin[name] for name in pins])
                               for number, (_, data, pins, _, _) in enumerate(cases)])
        steps, on_nested = {}, 0
        for (case, _, _, expected, signature), outcome in zip(cases, outcomes):
            with self.subTest(case):
                self.assertEqual(outcome, expected + (signature,))
            if outcome[0] != "trusted":
                steps[outcome[1]] = steps.get(outcome[1], 0) + 1
            elif outcome[3] > 0:
                on_nested += 1
        with open(os.path.join(harness.BUILD_DIR, "reliability-signatures.txt"), "w") as f:
            f.write("signature check: %d files, %d accepted (%d on a nested signature); refused by the "
                    "certificate table %d, by WinVerifyTrust %d, by the chain's status %d, by the pins %d\n"
                    % (len(cases), len(cases) - sum(steps.values()), on_nested, steps.get("table", 0),
                       steps.get("trust", 0), steps.get("chain", 0), steps.get("pins", 0)))


def second_entry():
    """A second WIN_CERTIFICATE after the signature's: an empty SignedData, padded."""
    return (16).to_bytes(4, "little") + b"\x00\x02\x02\x00" + b"\x30\x00".ljust(8, b"\0")


class SignedSecondStage(harness.E2ETest):
    """The real exe, with the second stage pinned on the publisher's own certificate."""

    def serve(self, data):
        h = self.h
        h.machine(windows="win7", dotnet=True)
        h.trust_code_root()
        h.serve_packages({harness.STAGE2_PACKAGE: data})
        h.write_config(signers={"stage2": [h.signer_pin("publisher")]})
        return h.stub(harness.STAGE2_PACKAGE), h.logged(harness.windows_path(h.config_path("stage2_file")))

    def test_another_publishers_file_with_the_publishers_signature_nested_starts(self):
        h = self.h
        stage2, path = self.serve(nested_stub(h, "prereq", "publisher"))
        h.start()
        self.assertEqual(stage2.wait_started()["args"], ["en-GB"])
        self.assertEqual(h.wait_exit(), 1)
        # The nested signature is verified by the installer's own reading under Wine 8, with a
        # chain built asking for revocation; Wine answers that for certificates that name no
        # revocation server as unknown and offline (0x1000040), as Windows does offline.
        h.assert_log_in_order(["Revocation not checked for " + path, "Signer verified: " + path,
                               "Launching Stage2"])
        self.assertEqual([line for line in h.log() if "Signature" in line or "not trusted" in line], [])

    def test_a_signed_file_with_bytes_added_in_its_certificate_table_is_refused(self):
        h = self.h
        stage2, path = self.serve(with_hidden_bytes(h, h.signed_stub("publisher"), "hidden"))
        h.start()
        h.dialog("smaller", texts={1031: h.text("PROXY_CAPTION"), 1014: h.text("CONNECTION_FAILURE")},
                 do=["click:1"], gone=True, timeout=90)
        self.assertEqual(h.wait_exit(), 0)
        refused = [line for line in h.log() if line.startswith("Signature area of ")]
        self.assertEqual(refused, ["Signature area of %s holds extra bytes" % path] * 2)  # fetched once more
        self.assertEqual(stage2.starts(), [])
        self.assertFalse(os.path.exists(h.config_path("stage2_file")))
        self.assertNotIn("Launching Stage2", h.log())
        h.assert_log_ends_with("Download Failed")


if __name__ == "__main__":
    harness.main()
