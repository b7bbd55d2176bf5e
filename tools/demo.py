"""Live demonstration: the installer's typical run on this machine, with nothing leaving it.

What runs is the real thing a user downloads: the single-file release exe, made by the release
command (tools/release.sh), signed with a throwaway test certificate and timestamped by a local
RFC 3161 timestamp server (tests/servers/timestamp.py), started from a folder
named like a user's Downloads that holds nothing else but a planted "ConfigFile.txt" naming
another server, which the exe never reads.

A local HTTPS download server serves demonstration packages (our own small second stage, which
shows the language it was given, and stub prerequisites); a local squid is the browser's proxy,
while the direct connection is pointed at a closed loopback port, so the run goes the way a
typical user's does: the .NET question, the direct attempt failing, the browser proxy taking
over, the downloads (each checked against the SHA-256 the release command carried into the exe),
the .NET installation, and the hand-over to the second stage.

On a display of your own you answer the dialogs yourself. Without one, the run happens on a
private Xvfb, the robot answers for you and a screenshot is taken at each step.
TARVELO_LANGUAGE (default en-GB) is the language the configuration names; the dialogs show its
texts and the second stage shows the code it was given. TARVELO_SCALE (default 100) is the
display scale in percent (125, 150, 200 or any other), as Windows' display settings give it.
Everything started here is stopped at the end; the log and the screenshots are kept.
"""

import os
import shutil
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import harness  # noqa: E402
import timestamp  # noqa: E402  (tests/servers, on the path through harness)


def release_into_downloads(h, packages):
    """Makes the signed release exe for this configuration, with the packages' digests, and leaves
    it in a folder named like a user's Downloads beside nothing but a planted configuration that
    names another server. Returns the exe's path there and who signed it, with the signer's pin
    and the timestamp."""
    payloads = os.path.join(h.root, "payloads")
    os.makedirs(payloads)
    for name, data in packages.items():
        with open(os.path.join(payloads, name), "wb") as f:
            f.write(data)
    tsa = timestamp.TimestampServer(harness.code_pki(), os.path.join(h.root, "timestamps")).start()
    h.servers.append(tsa)
    built, out = h.build_release(options=["--payloads", payloads, "--timestamp-url", tsa.url])
    signed_by = ", ".join(line.split("release: ", 1)[1] for line in out.splitlines()
                          if line.startswith(("release: signed by", "release: signer's SPKI pin",
                                              "release: timestamped"))) or "not signed"
    downloads = h.run_from("Downloads")
    for name in os.listdir(downloads):
        path = os.path.join(downloads, name)
        shutil.rmtree(path) if os.path.isdir(path) else os.remove(path)
    shutil.copy2(built, downloads)
    h.write_config(server="http://elsewhere.tarvelo.com:9")
    return os.path.join(downloads, "TarveloSetup.exe"), signed_by


def main():
    out = os.path.join(harness.BUILD_DIR, "demo")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    h = harness.Harness("demo")
    automatic = harness._xvfb is not None
    shots = []

    def shot(name):
        if automatic:
            path = os.path.join(out, "%02d-%s.png" % (len(shots) + 1, name))
            shutil.move(h.screenshot(name), path)
            shots.append(path)

    code = None
    try:
        with open(harness.tool("demo_stage2.exe"), "rb") as f:
            stage2 = f.read()
        stub = h.stub_bytes()
        packages = {harness.STAGE2_PACKAGE: stage2, harness.DOTNET_PACKAGE: stub, harness.MSI_PACKAGE: stub}
        h.serve_packages(packages, tls_kind="good")
        proxy = "127.0.0.1:%d" % h.squid(auth=False).port
        h.machine(dotnet=False, browser_proxy=proxy)
        scale = int(os.environ.get("TARVELO_SCALE") or 100)
        if scale != 100:
            # Wine reads the DPI from here when a program starts, as Windows does at sign-in.
            h.import_registry('REGEDIT4\n\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n'
                              '"LogPixels"=dword:%08x\n' % (scale * 96 // 100))
        language = os.environ.get("TARVELO_LANGUAGE") or "en-GB"
        if not os.path.exists(h.path("Resource-%s.txt" % language)):
            print("demo: no text table for %s; the installer falls back to en-GB" % language)
            h.use_language("en-GB")
        else:
            h.use_language(language)
        h.write_config(language=language)
        exe, signed_by = release_into_downloads(h, packages)
        shutil.copy2(exe, out)
        print("demo: the release exe (kept as %s), %s, runs alone in %s beside a planted ConfigFile.txt"
              % (os.path.join(out, "TarveloSetup.exe"), signed_by, h.run_dir))
        # The stand-in .NET installer takes a few seconds, so that the bar can be seen moving on.
        h.stub(harness.DOTNET_PACKAGE, sleep_ms=7000)
        print("demo: HTTPS download server on %s, browser proxy on %s; starting TarveloSetup.exe in %s"
              % (h.server_url, proxy, language))
        h.start(env={"http_proxy": "http://127.0.0.1:%d" % harness.servers.free_port()})
        dialogs = os.path.exists(os.path.join(ROOT, "ui", "dialogs", "message_dialog.h"))
        if automatic:
            if dialogs:
                h.dialog("message", texts={1030: h.text("DOTNET_REQUIRED")})
                shot("dotnet-question")
                h.dialog("message", do=["click:1"], gone=True)
                h.dialog("progress")
                shot("downloading")
                h.wait_log_line("All files successfully downloaded..starting to install files...")
                h.installer.wait_for_position(61)
                shot("installing-dotnet")
                h.wait_dialog_absent("progress")
            stage2 = h.dialog("demo_stage2", image=harness.STAGE2_PACKAGE)
            print("demo: the second stage shows \"%s\"" % stage2.text(1002))
            shot("second-stage")
            h.dialog("demo_stage2", do=["click:1"], gone=True, image=harness.STAGE2_PACKAGE)
        else:
            print("demo: answer the installer's dialogs; close the second stage's window to finish")
        code = h.wait_exit(timeout=3600)
        shot("finished")
        if h.log_bytes() is not None:
            shutil.copy2(h.log_path, out)
    finally:
        h.close(failed=code is None)
    print("TarveloSetup.exe exit code: %s" % code)
    print("log: %s" % os.path.join(out, "Stage1Logs.txt"))
    if shots:
        print("screenshots:\n  " + "\n  ".join(shots))
    return 0 if code == 1 else 1


if __name__ == "__main__":
    sys.exit(main())
