#!/usr/bin/env python3
"""The installer's own signature check (linked into tests/tools/signature_probe.exe) on each
kind of file the network may hand over, in a prefix of the test's own that trusts the test
code-signing root: which files it accepts, and for each refusal which step refused it and with
what code. Under Wine 8 WinVerifyTrust accepts a certificate under a root nobody trusts; the
chain's own status must refuse it. The figures go to the test command's reliability summary."""

import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402


class Signatures(harness.E2ETest):
    def probe(self, files):
        """signature_probe.exe's verdicts, in one run, on files given as (name, bytes, pins):
        (verdict, step, code) for each."""
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
        return [(line["verdict"], line["step"], line["hex"]) for line in lines]

    def test_each_kind_of_file_is_accepted_or_refused_by_the_step_that_should(self):
        h = self.h
        pin = {name: h.signer_pin(name) for name in
               ("root", "intermediate", "publisher", "prereq", "impostor", "stranger", "other-root")}
        signed = h.signed_stub("publisher")
        # Before the root is trusted here, the publisher's own signature is refused, and not by
        # WinVerifyTrust: the chain's status says its root is not trusted.
        self.assertEqual(self.probe([("before-trust", signed, [pin["publisher"]])]), [("failed", "chain", "0x00000020")])
        h.trust_code_root()

        appended = signed + b"\0" * 512
        cases = [
            # (case, bytes, pins, expected verdict, step, code)
            ("pin on the leaf", signed, ["publisher"], ("trusted", "pins", "0x00000000")),
            ("pin on the issuing authority", signed, ["intermediate"], ("trusted", "pins", "0x00000000")),
            ("pin on the root", signed, ["root"], ("trusted", "pins", "0x00000000")),
            ("one pin of several", signed, ["stranger", "publisher"], ("trusted", "pins", "0x00000000")),
            ("one byte changed after signing", h.signed_stub("publisher", change_one_byte=True), ["publisher"],
             ("failed", "trust", "0x80096010")),
            ("bytes appended after signing", appended, ["publisher"], ("failed", "trust", "0x800b0100")),
            ("unsigned", h.signed_stub(None), ["publisher"], ("failed", "trust", "0x800b0100")),
            ("another key under the trusted root", h.signed_stub("impostor"), ["publisher"],
             ("not_trusted", "pins", "0x00000000")),
            ("the prerequisites' publisher for the second stage", h.signed_stub("prereq"), ["publisher"],
             ("not_trusted", "pins", "0x00000000")),
            ("a root nobody trusts, pin on the leaf", h.signed_stub("stranger"), ["stranger"],
             ("failed", "chain", "0x00000020")),
            ("a root nobody trusts, pin on that root", h.signed_stub("stranger"), ["other-root"],
             ("failed", "chain", "0x00000020")),
        ]
        outcomes = self.probe([("case%d" % number, data, [pin[name] for name in pins])
                               for number, (_, data, pins, _) in enumerate(cases)])
        steps = {}
        for (case, _, _, expected), outcome in zip(cases, outcomes):
            with self.subTest(case):
                self.assertEqual(outcome, expected)
            if outcome[0] != "trusted":
                steps[outcome[1]] = steps.get(outcome[1], 0) + 1
        with open(os.path.join(harness.BUILD_DIR, "reliability-signatures.txt"), "w") as f:
            f.write("signature check: %d files, %d accepted; refused by WinVerifyTrust %d, by the chain's "
                    "status %d, by the pins %d\n" % (len(cases), len(cases) - sum(steps.values()),
                                                     steps.get("trust", 0), steps.get("chain", 0),
                                                     steps.get("pins", 0)))


if __name__ == "__main__":
    harness.main()
