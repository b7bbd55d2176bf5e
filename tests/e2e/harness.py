"""End-to-end harness: runs the real TarveloSetup.exe under Wine and an X display, in a scratch
folder and a Wine prefix of the test's own, and answers its dialogs with robot.exe.

Typical use (see the test_*.py files beside this one):

    class Sequence(harness.E2ETest):
        def test_unsupported(self):
            h = self.h
            h.machine(windows="win10", dotnet=False)
            h.write_config()
            h.start()
            d = h.dialog("message", do=["click:1"], gone=True)
            self.assertEqual(h.wait_exit(), 0)
            h.assert_log_ends_with("OS not Supported")

Every wait for a state polls for it (or reads the record, see below) and is bounded by one limit,
WAIT_LIMIT. What the dialogs showed is read from a record that cannot miss anything: launch.exe,
which starts the installer, hooks the accessibility events of its windows before the installer's
first instruction and writes each new position of a bar and each changed text in the order they
were raised (Installer.positions(), Installer.texts()); a sample of a dialog (the robot's) only
serves to wait for it. A final state is checked once the run has ended (wait_exit()). Nothing is sent
anywhere but loopback: the installer runs in a private mount namespace whose /etc/hosts sends the
vendor names to 127.0.0.1 and whose resolv.conf points at 127.0.0.1 (no resolver listens there,
unless a test starts one). In the same namespace the system's CA bundle also holds the test CA
of tests/servers/tls.py, so that the servers' good certificates are trusted there and nowhere else.
A test file that calls main_in_private_network() runs, as root, in a network namespace of its
own as well, where a test may take loopback's well-known ports.
"""

import atexit
import json
import os
import re
import sys
import shutil
import socket
import struct
import subprocess
import tempfile
import threading
import time
import unicodedata
import unittest

SOURCE_DIR = os.environ.get("TARVELO_SOURCE_DIR") or os.path.dirname(os.path.dirname(
    os.path.dirname(os.path.abspath(__file__))))
BUILD_DIR = os.environ.get("TARVELO_BUILD_DIR") or os.path.join(SOURCE_DIR, "build", "win32")
BASE_PREFIX = os.environ.get("WINE_PREFIX") or os.path.join(BUILD_DIR, "wineprefix")
ARTIFACTS_DIR = os.path.join(BUILD_DIR, "e2e-artifacts")
SCRATCH_ROOT = os.path.join(BUILD_DIR, "e2e")

# Host names the installer and its children may look up; all of them lead to loopback.
VENDOR_HOSTS = ["www.tarvelo.com", "download.tarvelo.com", "proxy.tarvelo.com",
                "www.microsoft.com", "download.microsoft.com"]

MUTEX_NAME = "TarveloFisrtStage2.0"

sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "servers"))
import servers  # noqa: E402  (the shared local servers: nginx, squid, fault server)
import tls  # noqa: E402  (the test CA and the servers' certificates)
import codesign  # noqa: E402  (the test code-signing certificates)

# Names of the packages on the download server, as the generated configuration asks for them.
STAGE2_PACKAGE = "TarveloStage2.exe"
DOTNET_PACKAGE = "dotnetfx.exe"
MSI_PACKAGE = "WindowsInstaller-KB893803-v2-x86.exe"

# Dialog templates as the robot recognises them: controls that must be there and must not.
KINDS = {
    "message": dict(ids=[1, 2, 1013, 1014, 1028, 1029, 1030]),
    "smaller": dict(ids=[1, 2, 1014, 1031], without=[1013, 1028]),
    "progress": dict(ids=[1008, 1013, 1014, 1028, 1033]),
    "proxy": dict(ids=[1003, 1004, 1007, 1028]),
    "credentials": dict(ids=[1, 1002, 1006, 1028]),
    "demo_stage2": dict(ids=[1, 1002, 1004]),
}

# The one limit of every wait for a state (tests/tools/support/wait_limit.h, which the robot,
# the launcher and the in-process tests read as well): more than twice the longest such wait of a
# full run beside two busy processes per core (tools/test.sh --under-load). A slower machine sets
# TARVELO_TIMEOUT_SCALE. A wait with a shorter limit says why where it is.
from wait_limit import TIMEOUT_SCALE, WAIT_LIMIT  # noqa: E402,F401

# Every wait's duration, so that a run tells how close it came to the limit (tools/test.sh
# prints the longest).
WAITS_FILE = os.path.join(BUILD_DIR, "e2e-waits.jsonl")


def note_wait(what, seconds, limit):
    try:
        with open(WAITS_FILE, "a") as f:
            f.write(json.dumps({"test": _current_test, "what": what, "seconds": round(seconds, 2),
                                "limit": limit}) + "\n")
    except OSError:
        pass


_current_test = None


class HarnessError(AssertionError):
    """A step of the harness failed; the message carries what the tools printed."""


def _wine_loader():
    if os.environ.get("WINE"):
        return os.environ["WINE"]
    try:
        subprocess.run(["/usr/lib/wine/wine", "--version"], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return "wine"
    except (OSError, subprocess.CalledProcessError):
        return "/usr/lib/wine/wine64"


WINE = _wine_loader()


def tree_arch():
    """The architecture of the Windows test tree (i686 where this host runs 32-bit code)."""
    return subprocess.run(["bash", os.path.join(SOURCE_DIR, "tools", "test-arch.sh")],
                          stdout=subprocess.PIPE, check=True).stdout.decode().strip()


def code_pki():
    """The test code-signing certificates (tests/servers/codesign.py), made once per build tree."""
    return codesign.make(os.path.join(BUILD_DIR, "codesign"))


def windows_path(unix_path):
    """Wine maps drive Z: to the Unix root."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


def tool(name):
    path = os.path.join(BUILD_DIR, name)
    if not os.path.exists(path):
        raise HarnessError("missing %s: build the Windows tree first" % path)
    return path


def _put_whole(path, text):
    """Makes `path` hold `text`: left alone when it does, else a new file put in its place at
    once. Programs already running in a namespace that bound the old file keep reading it whole;
    rewritten in place, it was empty for a moment each time the harness started another program,
    and a name the installer looked up then was not found (its proxy prompt came instead of the
    notice a test waited for)."""
    try:
        with open(path) as f:
            if f.read() == text:
                return
    except FileNotFoundError:
        pass
    with open(path + ".new", "w") as f:
        f.write(text)
    os.replace(path + ".new", path)


# ---------------------------------------------------------------------------------------------
# X display: the caller's, or a private Xvfb for the whole test process.

_xvfb = None


def _display_works(display):
    if not display:
        return False
    return subprocess.run(["xdpyinfo", "-display", display], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


def ensure_display():
    """The caller's display, or (without one, or with TARVELO_E2E_OWN_DISPLAY set, so that test
    files can run side by side without sharing a screen, a keyboard or a pointer) a private Xvfb
    on a display number the X server itself finds free."""
    global _xvfb
    if _xvfb is None and not os.environ.get("TARVELO_E2E_OWN_DISPLAY") and _display_works(os.environ.get("DISPLAY")):
        return os.environ["DISPLAY"]
    if _xvfb is not None:
        return os.environ["DISPLAY"]
    reader, writer = os.pipe()
    _xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(writer), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, pass_fds=(writer,))
    os.close(writer)
    atexit.register(_stop_xvfb)
    with os.fdopen(reader) as numbers:
        number = numbers.readline().strip()
    if not number.isdigit():
        raise HarnessError("Xvfb did not start")
    display = ":" + number
    os.environ["DISPLAY"] = display
    if not poll(lambda: _display_works(display), 20):
        raise HarnessError("Xvfb did not start on " + display)
    return display


def _stop_xvfb():
    if _xvfb and _xvfb.poll() is None:
        _xvfb.terminate()
        _xvfb.wait(10)


def distinct(values):
    """`values` without the repeats that follow each other: the positions a bar showed, where a
    record read some of them twice (see Installer.positions)."""
    return [v for i, v in enumerate(values) if i == 0 or v != values[i - 1]]


def poll(predicate, timeout=None, interval=0.05, what=None):
    """predicate()'s value as soon as it is true; False when timeout seconds (WAIT_LIMIT unless
    given) have passed."""
    timeout = WAIT_LIMIT if timeout is None else timeout
    if what is None:
        caller = sys._getframe(1)
        what = "%s:%d" % (os.path.basename(caller.f_code.co_filename), caller.f_lineno)
    began = time.monotonic()
    deadline = began + timeout
    while True:
        value = predicate()
        if value or time.monotonic() > deadline:
            note_wait(what, time.monotonic() - began, timeout)
            return value or False
        time.sleep(interval)


# ---------------------------------------------------------------------------------------------
# The localized text table, read the way the installer reads it, so that tests compare what the
# dialogs show with the text of a key.

def read_text_table(path):
    with open(path, "rb") as f:
        data = f.read()
    text = data[: len(data) // 2 * 2].decode("utf-16-le", errors="replace")
    table = {}
    for entry in text.split(";"):
        key, sep, value = entry.partition("=")
        if not sep:
            value = key
        key, value = key.strip(" \t\r\n"), value.strip(" \t\r\n")
        table.setdefault(key, value)
    return table


# ---------------------------------------------------------------------------------------------
# Registry contents for the machine as the program sees it.

def _reg_string(value):
    return '"%s"' % value.replace("\\", "\\\\").replace('"', '\\"')


def _reg_hex(data):
    return "hex:" + ",".join("%02x" % b for b in data)


def connection_settings(flags, proxy="", bypass="", pac=""):
    """The browser's DefaultConnectionSettings value: version 0x46, counter, flags
    (1 direct, 2 proxy, 4 PAC URL, 8 auto-detect), three length-prefixed ASCII strings, padding."""
    out = struct.pack("<III", 0x46, 1, flags)
    for s in (proxy, bypass, pac):
        b = s.encode("ascii")
        out += struct.pack("<I", len(b)) + b
    return out + b"\0" * 32


DOTNET_KEY = r"SOFTWARE\Microsoft\NET Framework Setup\NDP\v2.0.50727"
DOTNET_KEY_32 = r"SOFTWARE\Wow6432Node\Microsoft\NET Framework Setup\NDP\v2.0.50727"
INTERNET_CONNECTIONS = r"HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections"


def machine_registry(windows=None, dotnet=None, browser_proxy=None, browser_script=None, auto_detect=False):
    """REGEDIT4 text for the requested machine.

    windows: a Wine version name ("win7", "winxp", "win10", ...) or (major, minor, service pack,
             build) written as the NT version values; None leaves the prefix's own (6.1 SP1).
    dotnet:  True (key with SP=2), "no-sp" (key without the SP value), False (no key), None.
    browser_proxy: "host:port" (browser set to that proxy), "direct", or None (with a script or
             auto-detection: no static proxy).
    browser_script: the URL of the browser's proxy auto-configuration script, or None.
    auto_detect: the browser's "detect settings automatically".
    """
    lines = ["REGEDIT4", ""]
    if isinstance(windows, str):
        lines += ["[HKEY_CURRENT_USER\\Software\\Wine]", '"Version"=' + _reg_string(windows), ""]
    elif windows is not None:
        major, minor, sp, build = windows
        lines += ["[HKEY_CURRENT_USER\\Software\\Wine]", '"Version"=-', "",
                  "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion]",
                  '"CurrentVersion"=' + _reg_string("%d.%d" % (major, minor)),
                  '"CurrentBuildNumber"=' + _reg_string(str(build)),
                  '"CSDVersion"=' + _reg_string("Service Pack %d" % sp if sp else ""), "",
                  "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Windows]",
                  '"CSDVersion"=dword:%08x' % (sp << 8), ""]
    if dotnet is not None:
        # Both registry views, so that a 32-bit and a 64-bit build see the same machine.
        for key in (DOTNET_KEY, DOTNET_KEY_32):
            if dotnet is False:
                lines += ["[-HKEY_LOCAL_MACHINE\\%s]" % key, ""]
            else:
                lines += ["[HKEY_LOCAL_MACHINE\\%s]" % key, '"Install"=dword:00000001']
                if dotnet is True:
                    lines += ['"SP"=dword:00000002']
                lines += [""]
    if browser_proxy is not None or browser_script or auto_detect:
        static = browser_proxy not in (None, "direct")
        flags = 1 | (2 if static else 0) | (4 if browser_script else 0) | (8 if auto_detect else 0)
        value = connection_settings(flags, browser_proxy if static else "", "<local>" if static else "",
                                    browser_script or "")
        lines += ["[%s]" % INTERNET_CONNECTIONS, '"DefaultConnectionSettings"=' + _reg_hex(value), ""]
    return "\r\n".join(lines) + "\r\n"


# ---------------------------------------------------------------------------------------------

class Dialog(dict):
    """A dialog as the robot saw it: the robot's JSON object, with helpers."""

    def control(self, control_id):
        for c in self["controls"]:
            if c["id"] == control_id:
                return c
        raise HarnessError("dialog has no control %d: %s" % (control_id, json.dumps(self)))

    def text(self, control_id):
        return self.control(control_id)["text"]

    def visible(self, control_id):
        return self.control(control_id)["visible"]


class Stub:
    """One copy of stub.exe under a name the installer starts. Its records are in the stub
    folder (TARVELO_STUB_DIR), named after the file name it runs under."""

    def __init__(self, harness, name):
        self.h = harness
        self.name = name
        self.base = os.path.join(harness.stub_dir, name.lower())
        self.release_file = self.base + ".release"

    def configure(self, wait=False, exit_code=0, sleep_ms=0, probe_mutex=None):
        lines = ["exit_code=%d" % exit_code]
        if wait:
            lines.append("wait_for=" + windows_path(self.release_file))
        if sleep_ms:
            lines.append("sleep_ms=%d" % sleep_ms)
        if probe_mutex:
            lines.append("probe_mutex=" + probe_mutex)
        with open(self.base + ".stub", "w", encoding="utf-8") as f:
            f.write("\n".join(lines) + "\n")
        return self

    def calls(self):
        try:
            with open(self.base + ".calls") as f:
                return [json.loads(line) for line in f if line.endswith("\n")]
        except FileNotFoundError:
            return []

    def starts(self):
        return [c for c in self.calls() if c["event"] == "start"]

    def wait_started(self, timeout=None, count=1):
        if not poll(lambda: len(self.starts()) >= count, timeout, what="%s started" % self.name):
            raise HarnessError("%s was not started (calls: %s)" % (self.name, self.calls()))
        return self.starts()[count - 1]

    def wait_ended(self, timeout=None):
        if not poll(lambda: any(c["event"] == "end" for c in self.calls()), timeout, what="%s ended" % self.name):
            raise HarnessError("%s did not end (calls: %s)" % (self.name, self.calls()))

    def release(self):
        open(self.release_file, "w").close()


class Hold:
    """hold.exe keeping a file open without sharing, as another program may, until release()."""

    def __init__(self, popen, release_file, timeout):
        self.popen = popen
        self.release_file = release_file
        line = []
        reader = threading.Thread(target=lambda: line.append(popen.stdout.readline()), daemon=True)
        reader.start()
        reader.join(timeout)
        event = json.loads(line[0].decode("utf-8", "replace") or "{}") if line else {}
        if event.get("event") != "held":
            raise HarnessError("hold.exe did not take the file: %s" % event)

    def release(self, timeout=WAIT_LIMIT):
        open(self.release_file, "w").close()
        try:
            self.popen.wait(timeout)
        except subprocess.TimeoutExpired:
            raise HarnessError("hold.exe did not let the file go")


class Installer:
    """A running TarveloSetup.exe (through launch.exe, which reports its Windows process id and
    records what its windows announce: see launch.cpp)."""

    def __init__(self, harness, popen):
        self.h = harness
        self.popen = popen
        self.events = []
        self.pid = None
        self._lines = threading.Condition()
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()
        with self._lines:
            self._lines.wait_for(lambda: self.pid is not None or self._failed(), WAIT_LIMIT)
        if self.pid is None:
            raise HarnessError("installer did not start: %s" % self.events)
        started = next(e for e in self.events if e.get("event") == "started")
        if not started.get("recording"):
            raise HarnessError("launch.exe could not hook the installer's events: %s" % started)

    def _failed(self):
        return any(e.get("event") in ("failed", "usage", "eof") for e in self.events)

    def _read(self):
        for raw in self.popen.stdout:
            line = raw.decode("utf-8", "replace").strip()
            if not line.startswith("{"):
                continue
            event = json.loads(line)
            with self._lines:
                self.events.append(event)
                if event.get("event") == "started":
                    self.pid = event["pid"]
                self._lines.notify_all()
        with self._lines:
            self.events.append({"event": "eof"})
            self._lines.notify_all()

    def running(self):
        return self.popen.poll() is None

    def ended(self):
        """The run has ended and its whole record has been read."""
        with self._lines:
            return bool(self.events) and self.events[-1]["event"] == "eof"

    def wait(self, timeout=WAIT_LIMIT, whole_record=True):
        """The exit code, once the run has ended and every event it raised is in the record
        (whole_record=False: once the launcher has ended, which a killed prefix ends with it)."""
        began = time.monotonic()
        try:
            code = self.popen.wait(timeout)
        except subprocess.TimeoutExpired:
            raise HarnessError("installer still running after %.0f s" % timeout)
        self._reader.join(max(1.0, timeout - (time.monotonic() - began)))
        note_wait("installer exit", time.monotonic() - began, timeout)
        late = [e["late_ms"] for e in self.record()]
        if late:
            # Not a wait: how long after an event its value was read, the record's own margin.
            note_wait("the longest read of an event after it was raised", max(late) / 1000.0, None)
        exited = [e["code"] for e in self.events if e.get("event") == "exited"]
        if whole_record and not exited:
            raise HarnessError("launch.exe ended without the end of its record: %s" % self.events[-3:])
        # A Unix exit status keeps only the low 8 bits of the Windows one (3010 arrives as 194):
        # the launcher's record has it whole.
        return exited[-1] if exited else code

    # -- the record ---------------------------------------------------------------------------

    def record(self, kind=None, control=None):
        """The recorded events ("value": a bar moved, "name": a text changed), in the order they
        were raised; only those of `kind` and of control id `control` when given."""
        with self._lines:
            return [e for e in self.events if e["event"] in ("value", "name")
                    and (kind is None or e["event"] == kind) and (control is None or e["id"] == control)]

    def windows_made(self):
        """Every window of the run made or shown, as launch.exe heard it ("create"/"show" events,
        "top": a top-level window), in order. Read once the run has ended, it misses none."""
        with self._lines:
            return [e for e in self.events if e["event"] in ("create", "show")]

    def positions(self, control=1008):
        """Every position the bar took, as read when its event arrived (None where the bar was
        gone by then). A read may find a newer position than the event announced, never an
        older one, so a position read twice means the one between was passed over while the
        reader was busy; each new percentage has its own event, so none is lost unnoticed."""
        return [e["pos"] for e in self.record("value", control)]

    def texts(self, control):
        """Every text control `control` was given, as read when its event arrived."""
        return [e["text"] for e in self.record("name", control)]

    def wait_for_position(self, position, control=1008, timeout=WAIT_LIMIT):
        """Waits until the record shows the bar at `position`."""
        self.wait_record(lambda: position in self.positions(control),
                         "the bar (control %d) at %d" % (control, position), timeout)

    def wait_record(self, predicate, what, timeout=WAIT_LIMIT):
        """Waits until predicate() holds for the record (read through record(), positions(),
        texts()); `what` names it in the failure."""
        began = time.monotonic()
        with self._lines:
            reached = self._lines.wait_for(lambda: predicate() or self.events[-1]["event"] == "eof", timeout)
            reached = reached and predicate()
        note_wait(what, time.monotonic() - began, timeout)
        if not reached:
            raise HarnessError("%s: not in the record%s; the record: %s" % (
                what, " of the whole run" if self.ended() else " after %.0f s" % timeout,
                json.dumps(self.record())))


class Harness:
    """One test's world: scratch folder, private Wine prefix, the installer and its helpers."""

    def __init__(self, name):
        ensure_display()
        self.name = name.replace("__main__.", "")
        # Short scratch names keep the installer's paths well inside the platform's limits.
        short = self.name.rsplit(".", 1)[-1].replace("test_", "", 1)[:32]
        self.root = os.path.join(SCRATCH_ROOT, short)
        shutil.rmtree(self.root, ignore_errors=True)
        self.run_dir = os.path.join(self.root, "run")
        self.temp_dir = os.path.join(self.root, "temp")
        self.stub_dir = os.path.join(self.root, "stubs")
        for d in (self.run_dir, self.temp_dir, self.stub_dir):
            os.makedirs(d)
        self.prefix = os.path.join(self.root, "wineprefix")
        self.transcript = []
        self.installers = []
        self.processes = []
        self._prefix_ready = False
        self.hosts = list(VENDOR_HOSTS)
        # A DNS domain for the machine (its name then reads <host>.<domain>), as proxy
        # auto-detection needs; None for none.
        self.domain = None
        self.servers = []
        self.server_url = None
        self.locale = None
        self._lay_out_run_folder()
        self.texts = read_text_table(os.path.join(self.run_dir, "Resource-en-GB.txt"))

    # -- the run folder -----------------------------------------------------------------------

    def _lay_out_run_folder(self):
        shutil.copy2(tool("TarveloSetup.exe"), self.run_dir)
        run_folder = os.path.join(BUILD_DIR, "run")
        # Every shipped language, as the build's run folder has them.
        for name in os.listdir(os.path.join(SOURCE_DIR, "data")):
            if name.startswith("Resource-") and name.endswith(".txt"):
                text = os.path.join(run_folder, name)
                if not os.path.exists(text):
                    text = os.path.join(SOURCE_DIR, "data", name)
                shutil.copy2(text, self.run_dir)
        images = os.path.join(run_folder, "Images")
        if os.path.isdir(images):
            shutil.copytree(images, os.path.join(self.run_dir, "Images"))

    def path(self, *parts):
        return os.path.join(self.run_dir, *parts)

    def text(self, key):
        return self.texts.get(key, "")

    def use_language(self, language):
        """text() answers from this language's table from now on (the one a run configured
        with it shows)."""
        self.texts = read_text_table(self.path("Resource-%s.txt" % language))

    def config_fields(self, server=None, os_versions=(600, 610), **fields):
        """The twelve positional fields of ConfigFile.txt, with test defaults: the packages come
        from the test's download server (serve_packages) or, without one, from a port where
        nothing listens."""
        if server is None:
            server = self.server_url or "http://download.tarvelo.com:9"
        values = dict(
            os=",".join(str(v) for v in os_versions),
            dotnet_folder="\\DotNet",
            dotnet_file="\\DotNet\\dotnetfx.exe",
            dotnet_head=server, dotnet_tail="/packages/" + DOTNET_PACKAGE,
            stage2_file="\\" + STAGE2_PACKAGE,
            stage2_head=server, stage2_tail="/packages/" + STAGE2_PACKAGE,
            msi_file="\\" + MSI_PACKAGE,
            msi_head=server, msi_tail="/packages/" + MSI_PACKAGE,
            language="en-GB")
        unknown = set(fields) - set(values)
        if unknown:
            raise HarnessError("unknown config fields: %s" % sorted(unknown))
        values.update(fields)
        return values

    def write_config(self, raw=None, signers=None, **fields):
        """Writes ConfigFile.txt: `raw` bytes/text as given, else the fields (see config_fields).
        signers: {"msi"|"dotnet"|"stage2": [pin, ...]}, the trusted signers of those packages
        (fields 16 to 18, after three empty digest fields)."""
        if raw is None:
            v = self.config_fields(**fields)
            names = [("OS", "os"), ("DotNetFolder", "dotnet_folder"), ("DotNetFile", "dotnet_file"),
                     ("DotNetUrlHead", "dotnet_head"), ("DotNetUrlTail", "dotnet_tail"),
                     ("Stage2File", "stage2_file"), ("Stage2UrlHead", "stage2_head"),
                     ("Stage2UrlTail", "stage2_tail"), ("MsiFile", "msi_file"),
                     ("MsiUrlHead", "msi_head"), ("MsiUrlTail", "msi_tail"), ("Language", "language")]
            raw = "".join("%s=%s;\r\n" % (name, v[key]) for name, key in names)
            if signers:
                unknown = set(signers) - {"msi", "dotnet", "stage2"}
                if unknown:
                    raise HarnessError("unknown packages for signers: %s" % sorted(unknown))
                raw += "MsiSha256=;\r\nDotNetSha256=;\r\nStage2Sha256=;\r\n"
                raw += "".join("%sSigners=%s;\r\n" % (name, ",".join(signers.get(key, ())))
                               for name, key in (("Msi", "msi"), ("DotNet", "dotnet"), ("Stage2", "stage2")))
            self.config = v
        if isinstance(raw, str):
            raw = raw.encode("latin-1")
        with open(self.path("ConfigFile.txt"), "wb") as f:
            f.write(raw)

    def build_release(self, config=None, texts=None, images=None, options=(), signer="publisher",
                      expect_rc=0):
        """Runs the release command (tools/release.sh) and returns the release exe's path and its
        output. Its source is the run folder as the tests lay it out (the texts and the skin of the
        build, the configuration of the last write_config), unless `config` (bytes), `texts` (name
        -> bytes) or `images` (a folder) stand in for them. `signer` is a leaf of the test
        code-signing certificates, verified against the test root (--trust-root) and without a
        timestamp unless `options` name one; None: --unsigned. The exe is linked in the Windows
        test tree, for its architecture."""
        source = os.path.join(self.root, "release-source")
        shutil.rmtree(source, ignore_errors=True)
        os.makedirs(source)
        if config is None:
            with open(self.path("ConfigFile.txt"), "rb") as f:
                config = f.read()
        with open(os.path.join(source, "ConfigFile.txt"), "wb") as f:
            f.write(config)
        if texts is None:
            texts = {}
            for name in os.listdir(self.run_dir):
                if name.startswith("Resource-") and name.endswith(".txt"):
                    with open(self.path(name), "rb") as f:
                        texts[name] = f.read()
        for name, data in texts.items():
            with open(os.path.join(source, name), "wb") as f:
                f.write(data)
        shutil.copytree(images or self.path("Images"), os.path.join(source, "Images"))
        output = os.path.join(self.root, "release", "TarveloSetup.exe")
        argv = ["bash", os.path.join(SOURCE_DIR, "tools", "release.sh"), source, output,
                "--arch", tree_arch()] + list(options)
        if signer:
            pki = code_pki()
            argv += ["--sign-pkcs12", pki.pkcs12(signer), "--sign-password-file", pki.password_file(),
                     "--trust-root", pki.cert("root")]
            if "--timestamp-url" not in options:
                argv.append("--no-timestamp")
        else:
            argv.append("--unsigned")
        # A timestamp server is asked on loopback only, never through a proxy of the machine.
        env = {k: v for k, v in os.environ.items() if k.lower() not in ("http_proxy", "https_proxy", "all_proxy")}
        done = subprocess.run(argv, env=dict(env, TARVELO_RELEASE_TREE=BUILD_DIR),
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=900)
        out = done.stdout.decode("utf-8", "replace")
        self.transcript.append({"args": argv, "rc": done.returncode, "out": out})
        if done.returncode != expect_rc:
            raise HarnessError("release.sh ended with %d (expected %d):\n%s" % (done.returncode, expect_rc, out))
        return output, out

    def config_path(self, key):
        """Unix path of a path field of the configuration written last (start dir + value)."""
        return self.run_dir + self.config[key].replace("\\", "/")

    def run_from(self, folder_name, locale=None):
        """Moves the run folder (with what is in it) to <scratch>/<folder_name>, a name of any
        characters, and runs every Windows program from now on under the Unix locale `locale`
        (for example "ru_RU.UTF-8": Wine takes the system's code page from it and maps file
        names through it). None keeps the locale the tests were started with."""
        if locale is not None:
            generated = subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout.split()
            wanted = locale.split(".")[0] + ".utf8"
            if wanted not in generated:
                raise HarnessError("locale %s is not generated: run tools/setup.sh" % locale)
        if locale != self.locale:
            # The prefix's programs all run under one locale: end them before it changes.
            self.stop_prefix()
        self.locale = locale
        target = os.path.join(self.root, folder_name)
        if os.path.abspath(target) != os.path.abspath(self.run_dir):
            os.rename(self.run_dir, target)
            self.run_dir = target
        return self.run_dir

    # Code pages of the locales the tests use, for reading the 8-bit log.
    CODE_PAGES = {"ru": "cp1251", "ja": "cp932"}

    @property
    def code_page(self):
        """The system's ANSI code page (as a Python codec) of the programs this harness runs."""
        language = (self.locale or "").split("_")[0]
        return self.CODE_PAGES.get(language, "cp1252")

    # -- the Wine prefix ------------------------------------------------------------------------

    def wine_env(self, extra=None):
        env = {k: v for k, v in os.environ.items()
               if k.lower() not in ("http_proxy", "https_proxy", "no_proxy", "all_proxy")}
        env.update(WINEPREFIX=self.prefix, WINEDEBUG="-all", WINEARCH="win64",
                   WINEDLLOVERRIDES=os.environ.get("WINEDLLOVERRIDES", "mscoree,mshtml="))
        if self.locale:
            env.update(LANG=self.locale, LC_ALL=self.locale)
        if extra:
            env.update(extra)
        return env

    def _ensure_prefix(self):
        if self._prefix_ready:
            return
        fonts = os.path.join(BASE_PREFIX, "drive_c", "windows", "Fonts")
        missing_font = os.path.exists("/usr/share/wine/fonts/tahoma.ttf") and not os.path.exists(
            os.path.join(fonts, "tahoma.ttf"))
        if missing_font or not os.path.exists(os.path.join(BASE_PREFIX, ".tarvelo-ready")):
            subprocess.run(["bash", os.path.join(SOURCE_DIR, "tools", "wine-prefix.sh"), BASE_PREFIX],
                           check=True)
        subprocess.run(["cp", "-a", BASE_PREFIX, self.prefix], check=True)
        self._prefix_ready = True

    def _namespace(self, argv):
        """argv wrapped in a private mount namespace whose name lookups stay on loopback."""
        hosts = os.path.join(self.root, "hosts")
        resolv = os.path.join(self.root, "resolv.conf")
        # The machine's own name too: programs look it up at start, and an unanswered query
        # would cost a resolver timeout each time.
        name = socket.gethostname()
        if self.domain:
            # The first name of the line is the canonical one, which gives Wine the domain.
            # localhost is loopback's IPv4 address alone: auto-detection fetches its script from
            # the name that 127.0.0.1 reads back as.
            text = "127.0.0.1 localhost\n127.0.0.1 %s.%s %s\n" % (name, self.domain, name)
        else:
            text = "127.0.0.1 localhost %s\n::1 localhost\n" % name
        text += "".join("127.0.0.1 %s\n" % name for name in self.hosts)
        _put_whole(hosts, text)
        _put_whole(resolv, "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n")
        bundle = tls.make(os.path.join(BUILD_DIR, "pki")).bundle
        unshare = ["unshare", "-m"] if os.geteuid() == 0 else ["unshare", "-r", "-m"]
        script = ('mount --bind "$1" /etc/hosts && mount --bind "$2" /etc/resolv.conf && '
                  'mount --bind "$3" ' + tls.SYSTEM_BUNDLE + ' && shift 3 && exec "$@"')
        return unshare + ["sh", "-c", script, "sh", hosts, resolv, bundle] + argv

    def wine(self, args, timeout=WAIT_LIMIT, check=True, env=None, noted=True):
        """Runs a Windows program to its end; returns the CompletedProcess (stdout as text).
        noted=False: its caller notes the wait itself."""
        self._ensure_prefix()
        argv = self._namespace([WINE] + list(args))
        began = time.monotonic()
        # Files, not pipes: the first program in a prefix starts Wine's desktop process, which
        # inherits its standard handles and outlives it, so reading a pipe to its end waited for
        # the desktop to go (the "hung" registry imports of loaded full runs). The prefix's
        # wineserver outlives the call too, in this call's mount namespace (see stop_prefix).
        with tempfile.TemporaryFile() as stdout, tempfile.TemporaryFile() as stderr:
            try:
                done = subprocess.run(argv, env=self.wine_env(env), stdout=stdout, stderr=stderr,
                                      timeout=timeout)
            except subprocess.TimeoutExpired as e:
                raise HarnessError("timed out: %s" % " ".join(args)) from e
            stdout.seek(0)
            stderr.seek(0)
            done.stdout, done.stderr = stdout.read(), stderr.read()
        out = done.stdout.decode("utf-8", "replace")
        done.seconds = time.monotonic() - began
        if noted:
            note_wait("run " + os.path.basename(str(args[0]).replace("\\", "/")), done.seconds, timeout)
        self.transcript.append({"args": list(args), "rc": done.returncode, "out": out,
                                "seconds": round(done.seconds, 2)})
        if check and done.returncode != 0:
            raise HarnessError("%s failed with %d:\n%s%s" % (" ".join(args), done.returncode, out,
                                                           done.stderr.decode("utf-8", "replace")))
        done.text = out
        return done

    def stop_prefix(self):
        """Ends every program of the prefix and its wineserver; the next program starts them anew."""
        if self._prefix_ready:
            subprocess.run(["wineserver", "-k"], env=self.wine_env(), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=60)
            subprocess.run(["wineserver", "-w"], env=self.wine_env(), timeout=60)

    def import_registry(self, text):
        path = os.path.join(self.root, "machine-%d.reg" % len(self.transcript))
        with open(path, "w", newline="") as f:
            f.write(text)
        # Wine's regedit now and then exits 1 without a word on a good file (seen once in a
        # fresh-clone run); a second import of the same file is harmless.
        if self.wine(["regedit", "/S", windows_path(path)], check=False).returncode != 0:
            time.sleep(1)
            self.wine(["regedit", "/S", windows_path(path)])

    def sysinfo(self):
        return json.loads(self.wine([tool("robot.exe"), "sysinfo"]).text.strip().splitlines()[-1])

    def machine(self, windows=None, dotnet=None, browser_proxy="direct", browser_script=None, auto_detect=False):
        """Sets the machine up (see machine_registry) and returns what a program then sees."""
        self.import_registry(machine_registry(windows, dotnet, browser_proxy, browser_script, auto_detect))
        info = self.sysinfo()
        if dotnet is not None and info["dotnet20"] != bool(dotnet):
            raise HarnessError("the .NET key did not take: %s" % info)
        if browser_proxy not in (None, "direct") and info["ie_proxy"] != browser_proxy:
            raise HarnessError("the browser proxy did not take: %s" % info)
        self.machine_info = info
        return info

    def replace_program_file(self, relative, source):
        """Puts `source` in place of a file below the prefix's drive C ("Program Files/...")."""
        self._ensure_prefix()
        target = os.path.join(self.prefix, "drive_c", relative)
        folder, name = os.path.split(target)
        os.makedirs(folder, exist_ok=True)
        for existing in os.listdir(folder):
            if existing.lower() == name.lower():
                os.remove(os.path.join(folder, existing))
        shutil.copy2(source, target)
        return target

    # -- code signing -------------------------------------------------------------------------

    def trust_code_root(self):
        """Makes the test code-signing root trusted in this test's own prefix (and nowhere else)."""
        self.wine([tool("trust_root.exe"), windows_path(code_pki().root_der())])

    def signer_pin(self, name):
        """The pin of a test certificate ("publisher", "intermediate", ...), as a vendor makes it
        with tools/signer-pin.py; checked against the test's own reading of the certificate."""
        pki = code_pki()
        done = subprocess.run([sys.executable, os.path.join(SOURCE_DIR, "tools", "signer-pin.py"), pki.cert(name)],
                              stdout=subprocess.PIPE, check=True)
        pin = done.stdout.decode("ascii").split()[0]
        if pin != pki.pin(name):
            raise HarnessError("tools/signer-pin.py gives %s for %s, the certificate holds %s" % (pin, name, pki.pin(name)))
        return pin

    def signed_stub(self, signer=None, change_one_byte=False):
        """The stub program's bytes: signed by `signer` (a test certificate's name; None leaves it
        unsigned), and with one byte changed after signing when `change_one_byte`."""
        path = os.path.join(self.root, "signed-%s%s.exe" % (signer or "none", "-changed" if change_one_byte else ""))
        if signer:
            code_pki().sign(tool("stub.exe"), path, signer)
        else:
            shutil.copy(tool("stub.exe"), path)
        if change_one_byte:
            codesign.change_one_byte(path)
        with open(path, "rb") as f:
            return f.read()

    # -- stubs --------------------------------------------------------------------------------

    def stub(self, name, **options):
        """A stub record/control pair for the program file name `name` (stub.exe runs as it)."""
        return Stub(self, name).configure(**options)

    def browser_stub(self, **options):
        """Puts the recording stub at the browser's path (both Program Files folders, so that a
        32-bit and a 64-bit build find it) and returns its Stub."""
        self._ensure_prefix()
        for folder in ("Program Files", "Program Files (x86)"):
            if os.path.isdir(os.path.join(self.prefix, "drive_c", folder)) or folder == "Program Files":
                self.replace_program_file(os.path.join(folder, "Internet Explorer", "iexplore.exe"),
                                          tool("stub.exe"))
        return self.stub("iexplore.exe", **options)

    def hold_open(self, unix_path, timeout=WAIT_LIMIT):
        """Another process opens `unix_path` (created when missing) without sharing and keeps it
        open until the returned Hold's release(), or until the test ends."""
        self._ensure_prefix()
        release = os.path.join(self.root, "release-%d" % len(self.processes))
        argv = [WINE, tool("hold.exe"), windows_path(unix_path), windows_path(release)]
        popen = subprocess.Popen(self._namespace(argv), env=self.wine_env(), stdin=subprocess.DEVNULL,
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.processes.append(popen)
        return Hold(popen, release, timeout)

    def try_to_swap(self, unix_path):
        """What swap.exe achieved against the file from another process: attempt -> success, for
        "overwrite", "rename", "replace" and "delete"."""
        done = self.wine([tool("swap.exe"), windows_path(unix_path)])
        events = [json.loads(line) for line in done.text.splitlines() if line.startswith("{")]
        return {e["what"]: e["ok"] for e in events if e["event"] == "attempt"}

    @staticmethod
    def stub_bytes():
        with open(tool("stub.exe"), "rb") as f:
            return f.read()

    # -- servers ------------------------------------------------------------------------------

    def serve_packages(self, packages=None, fault=False, tls_kind=None):
        """Starts a download server on loopback serving /packages/<name> from `packages`
        (name -> bytes; by default the stub for all three packages). nginx, or with fault=True
        the fault-injecting server (whose query strings misbehave on request); with tls_kind
        ("good", "expired", "wronghost", "untrusted", see tls.py) the fault server over HTTPS
        with that certificate. Returns the base URL under the vendor's name, which the generated
        configuration then uses."""
        if packages is None:
            stub = self.stub_bytes()
            packages = {STAGE2_PACKAGE: stub, DOTNET_PACKAGE: stub, MSI_PACKAGE: stub}
        root = os.path.join(self.root, "www")
        os.makedirs(os.path.join(root, "packages"), exist_ok=True)
        for name, data in packages.items():
            with open(os.path.join(root, "packages", name), "wb") as f:
                f.write(data)
        if fault or tls_kind:
            server = servers.FaultServer(root, os.path.join(self.root, "requests.log")).start()
        else:
            server = servers.Nginx(root, os.path.join(self.root, "nginx")).start()
        self.servers.append(server)
        if tls_kind:
            port = server.listen_tls(*tls.make(os.path.join(BUILD_DIR, "pki")).server(tls_kind))
            self.server_url = "https://download.tarvelo.com:%d" % port
        else:
            self.server_url = "http://download.tarvelo.com:%d" % server.port
        return self.server_url

    def squid(self, extra_hosts=(), **options):
        """squid demanding Basic credentials (servers.Squid.USER / PASSWORD; see servers.Squid
        for the options), resolving the vendor names, and `extra_hosts` that only the proxy
        knows, to loopback itself."""
        proxy = servers.Squid(os.path.join(self.root, "squid"), hosts=self.hosts + list(extra_hosts),
                              **options).start()
        self.servers.append(proxy)
        return proxy

    def wpad(self, answer):
        """The WPAD host for proxy auto-detection, with a script answering `answer` for the
        vendor's hosts (see servers.Wpad); the machine gets a domain for it to be found in.
        Only inside a private network namespace (main_in_private_network)."""
        if not in_private_network():
            raise HarnessError("the WPAD host needs a private network namespace")
        self.domain = "tarvelo.test"
        host = servers.Wpad(answer).start()
        self.servers.append(host)
        return host

    # -- the installer ------------------------------------------------------------------------

    def start(self, env=None, program=None, args=(), cwd=None, wine_env=None, wine_stderr=None):
        """Starts TarveloSetup.exe (or `program`) in the run folder (or the Windows folder `cwd`).
        env: Windows environment variables for it (TEMP is the test's own temp folder unless
        given; an empty value removes the variable). wine_env: Wine's own variables for this run
        (WINEDEBUG, WINEDLLOVERRIDES); wine_stderr: a file that gets Wine's messages."""
        self._ensure_prefix()
        # A pointer resting where a dialog opens would feed it mouse moves (and log lines).
        self.wine([tool("robot.exe"), "park"], check=False)
        windows_env = {"TEMP": windows_path(self.temp_dir), "TMP": windows_path(self.temp_dir),
                       "TARVELO_STUB_DIR": windows_path(self.stub_dir)}
        windows_env.update(env or {})
        argv = [WINE, tool("launch.exe"), "--cwd", cwd or windows_path(self.run_dir)]
        for k, v in windows_env.items():
            argv += ["--env", "%s=%s" % (k, v)]
        argv += ["--", program or windows_path(self.path("TarveloSetup.exe"))] + list(args)
        stderr = open(wine_stderr, "wb") if wine_stderr else subprocess.DEVNULL
        try:
            popen = subprocess.Popen(self._namespace(argv), env=self.wine_env(wine_env), stdin=subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, stderr=stderr)
        finally:
            if wine_stderr:
                stderr.close()
        self.processes.append(popen)
        installer = Installer(self, popen)
        self.installers.append(installer)
        self.installer = installer
        return installer

    def wait_exit(self, timeout=WAIT_LIMIT, installer=None):
        """The installer's exit code once its run has ended and its record is complete."""
        return (installer or self.installer).wait(timeout)

    # -- the robot ----------------------------------------------------------------------------

    def robot(self, command, kind=None, ids=None, without=None, texts=None, do=(), gone=False,
              timeout=WAIT_LIMIT, pid=None, image=None, expect_rc=0, focus=None):
        """Runs robot.exe on the installer's windows (or those of process `pid`, or of any
        process running the program file `image`); returns its JSON events. With `focus`, the
        dialog must also be the foreground window with the keyboard focus on that control."""
        target = ["--image", image] if image else ["--pid", str(pid or self.installer.pid)]
        argv = [tool("robot.exe"), command] + target + ["--timeout-ms", str(int(timeout * 1000))]
        expected = dict(KINDS.get(kind, {})) if kind else {}
        ids = ids if ids is not None else expected.get("ids")
        without = without if without is not None else expected.get("without")
        if ids:
            argv += ["--ids", ",".join(str(i) for i in ids)]
        if without:
            argv += ["--without", ",".join(str(i) for i in without)]
        for control_id, substring in (texts or {}).items():
            argv += ["--text", "%d=%s" % (control_id, substring)]
        for action in do:
            argv += ["--do", action]
        if gone:
            argv += ["--gone"]
        if focus is not None:
            argv += ["--focus", str(focus)]
        # The robot bounds its own waits; this only guards against a robot that hangs.
        done = self.wine(argv, timeout=timeout + WAIT_LIMIT, check=False, noted=False)
        note_wait("robot %s %s" % (command, kind or ids), done.seconds, timeout)
        events = [json.loads(line) for line in done.text.splitlines() if line.startswith("{")]
        self.last_robot = {"command": command, "kind": kind, "rc": done.returncode, "out": done.text}
        if done.returncode != expect_rc:
            raise HarnessError("robot %s %s ended with %d (expected %d):\n%s" % (
                command, kind or ids, done.returncode, expect_rc, done.text))
        return events

    def dialog(self, kind, texts=None, do=(), gone=False, timeout=WAIT_LIMIT, pid=None, **kw):
        """Waits for a dialog of the given kind (see KINDS), performs the actions, and returns
        what the robot saw before acting."""
        events = self.robot("wait", kind=kind, texts=texts, do=do, gone=gone, timeout=timeout,
                            pid=pid, **kw)
        dialog = Dialog(next(e for e in events if e["event"] == "dialog"))
        if kw.get("focus") is not None:
            self.keyboard_dialog = dialog
        return dialog

    def keys(self, *keys):
        """Real key presses on the X display (xdotool), as a user's keyboard gives them, to the
        dialog last waited for with the keyboard (dialog(..., focus=ID))."""
        self._x_focus_to_keyboard_dialog()
        subprocess.run(["xdotool", "key", "--delay", "40"] + list(keys), check=True, timeout=30)

    def type_keys(self, text):
        """Types `text` on the X display, key by key, as keys() presses them."""
        self._x_focus_to_keyboard_dialog()
        subprocess.run(["xdotool", "type", "--delay", "40", text], check=True, timeout=60)

    def _x_focus_to_keyboard_dialog(self):
        """The X server sends key presses to its own focus window, which Wine moves to each
        dialog it brings to the front. When one dialog closed and the next came up, a loaded
        machine now and then left the X focus on Wine's desktop window, where keys go nowhere,
        although Wine had given the new dialog the keyboard (the robot saw that): the X focus is
        put on that dialog's X window, as Wine does itself when it is in time."""
        dialog = getattr(self, "keyboard_dialog", None)
        window = int(dialog.get("x11_window") or "0", 16) if dialog else 0
        if window:
            subprocess.run(["xdotool", "windowfocus", "--sync", str(window)], check=True, timeout=30,
                           stdout=subprocess.DEVNULL)

    def wait_dialog_absent(self, kind, timeout=WAIT_LIMIT, pid=None):
        """Waits until the installer (or process `pid`) shows no dialog of the kind, at once when
        it shows none."""
        self.robot("absent", kind=kind, timeout=timeout, pid=pid)

    def windows(self, pid=None):
        return [Dialog(e) for e in self.robot("list", pid=pid) if e["event"] == "window"]

    # -- results ------------------------------------------------------------------------------

    @property
    def log_path(self):
        return os.path.join(self.temp_dir, "Tarvelo", "Logs", "InstallerLogs", "Stage1Logs.txt")

    def log_bytes(self):
        try:
            with open(self.log_path, "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None

    def logged(self, text):
        """`text` as the 8-bit log shows it: each character the code page lacks becomes its
        best fit where Windows has one (an accented Latin letter its base letter) or else "?".
        The checkout's own folder may hold such characters, not only the folders under test."""
        out = []
        for ch in text:
            for candidate in (ch, unicodedata.normalize("NFKD", ch)[:1]):
                try:
                    candidate.encode(self.code_page)
                except UnicodeEncodeError:
                    continue
                out.append(candidate)
                break
            else:
                out.append("?")
        return "".join(out)

    def log(self):
        """The log's lines (8-bit text in the system's code page, each ended by CR LF)."""
        data = self.log_bytes()
        if data is None:
            raise HarnessError("no log at " + self.log_path)
        text = data.decode(self.code_page, "replace")
        if text and not text.endswith("\r\n"):
            raise HarnessError("log does not end with CR LF: %r" % text[-80:])
        return text.split("\r\n")[:-1] if text else []

    # The close control logs each change of its image, which mouse moves over a dialog cause
    # whenever Wine delivers them; they say nothing about the installer's steps.
    POINTER_LINES = ("In ChangeBitMap", "ChangeBitMap Locked..", "ChangeBitMap Unlocked..")

    # Lines of the progress dialog's own thread, in no fixed order against the steps.
    DIALOG_THREAD_LINES = ("Creating Dependency Dialog in a new thread...", "DependencyDialog Contructor passed...",
                           "Dependency dialog Couldnot be created...", "Image loaded..",
                           "Caption & Body text loaded..", "All strings loaded with proper text",
                           "all Croxx Images loaded...", "Rounded Rectangle carved...", "Window position set...")

    # A skin set that a dialog looks for and does not find, logged once per set by whichever dialog
    # comes first.
    MISSING_SKIN_SET = re.compile(r"^Skin set \d+% missing\.\.falling back$")

    def step_log(self):
        return [line for line in self.log()
                if line not in self.POINTER_LINES and line not in self.DIALOG_THREAD_LINES
                and not self.MISSING_SKIN_SET.match(line)]

    def assert_log_ends_with(self, *lines):
        """The last step lines of the log (the close control's image lines left out)."""
        lines = [self.logged(line) for line in lines]
        log = self.step_log()
        if log[-len(lines):] != list(lines):
            raise HarnessError("log should end with %s; it ends with:\n  %s" % (
                list(lines), "\n  ".join(log[-8:])))

    def assert_log_in_order(self, lines):
        """Each line appears in the log, in this order (other lines may come between)."""
        log = self.log()
        at = 0
        for line in map(self.logged, lines):
            try:
                at = log.index(line, at) + 1
            except ValueError:
                raise HarnessError("log line %r not found after line %d; log:\n  %s" % (
                    line, at, "\n  ".join(log)))

    def assert_log_lacks(self, line):
        if self.logged(line) in self.log():
            raise HarnessError("log should not contain %r" % line)

    def assert_log_equals(self, expected):
        log = self.log()
        expected = [self.logged(line) for line in expected]
        if log == expected:
            return
        import difflib
        diff = "\n".join(difflib.unified_diff(list(expected), log, "expected", "log", lineterm=""))
        raise HarnessError("log differs from the expected sequence:\n" + diff)

    def wait_log_line(self, line, timeout=None):
        if not poll(lambda: self.log_bytes() is not None and line in self.log(), timeout, what="log line %r" % line):
            raise HarnessError("log line %r did not appear; log:\n  %s" % (
                line, "\n  ".join(self.log() if self.log_bytes() is not None else [])))

    # Where a release run works: "%ProgramData%\\Tarvelo\\Setup" of the prefix.
    CLEAN_ROOM = "C:\\ProgramData\\Tarvelo\\Setup"

    @property
    def clean_room(self):
        """Unix path of the folder where a release run downloads and starts its packages."""
        return os.path.join(self.prefix, "drive_c", "ProgramData", "Tarvelo", "Setup")

    def appdata_path(self, *parts):
        """Unix path below the roaming application-data folder of the prefix's user."""
        info = getattr(self, "machine_info", None) or self.sysinfo()
        appdata = info["appdata"]
        return os.path.join(self.prefix, "drive_c", *appdata[3:].split("\\"), *parts)

    # -- evidence -----------------------------------------------------------------------------

    def screenshot(self, name):
        os.makedirs(self.artifact_dir, exist_ok=True)
        path = os.path.join(self.artifact_dir, name + ".png")
        subprocess.run(["import", "-window", "root", "-display", os.environ["DISPLAY"], path],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        return path

    @property
    def artifact_dir(self):
        return os.path.join(ARTIFACTS_DIR, self.name)

    def _save_evidence(self):
        # Before the windows are listed below: that list is no answer of the test's robot.
        summary = self._failure_summary()
        shutil.rmtree(self.artifact_dir, ignore_errors=True)
        os.makedirs(self.artifact_dir)
        try:
            self.screenshot("failure")
        except Exception:
            pass
        if self.log_bytes() is not None:
            shutil.copy2(self.log_path, self.artifact_dir)
        try:
            if self.installers and self.installers[-1].running():
                self.transcript.append({"windows": self.windows()})
        except Exception:
            pass
        with open(os.path.join(self.artifact_dir, "transcript.json"), "w") as f:
            json.dump({"transcript": self.transcript,
                       "installers": [i.events for i in self.installers]}, f, indent=1)
        print(summary, flush=True)
        print("e2e evidence kept in", self.artifact_dir, flush=True)

    def _failure_summary(self):
        """What a failed run's output shows at once: the end of the installer's log, the robot's
        last answer and the last things the dialogs announced."""
        out = ["", "==== %s failed" % self.name]
        try:
            lines = self.log()
            out.append("---- last %d lines of the installer's log (%s lines in all):" % (min(20, len(lines)), len(lines)))
            out += ["  " + line for line in lines[-20:]]
        except (HarnessError, OSError) as e:
            out.append("---- the installer's log: %s" % e)
        robot = getattr(self, "last_robot", None)
        if robot:
            out.append("---- the robot's last answer (%s %s, exit code %d):" % (robot["command"], robot["kind"] or "", robot["rc"]))
            out += ["  " + line for line in robot["out"].strip().splitlines()[-10:]]
        else:
            out.append("---- the robot was not asked anything")
        if self.installers:
            record = self.installers[-1].record()
            out.append("---- the last of %d events the installer's windows announced:" % len(record))
            out += ["  " + json.dumps(e) for e in record[-10:]]
        return "\n".join(out)

    def close(self, failed=False):
        if failed:
            self._save_evidence()
        if self._prefix_ready:
            subprocess.run(["wineserver", "-k"], env=self.wine_env(), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=60)
        for p in self.processes:
            if p.poll() is None:
                p.kill()
            p.wait(30)
        if self._prefix_ready:
            subprocess.run(["wineserver", "-w"], env=self.wine_env(), timeout=60)
            shutil.rmtree(self.prefix, ignore_errors=True)
        servers.stop_all(self.servers)
        if not failed and not os.environ.get("TARVELO_E2E_KEEP"):
            shutil.rmtree(self.root, ignore_errors=True)


class E2ETest(unittest.TestCase):
    """Gives each test a Harness (self.h); on failure keeps a screenshot, the log and the tools'
    output under build/win32/e2e-artifacts/<test>."""

    def setUp(self):
        global _current_test
        _current_test = self.id().replace("__main__.", "")
        self.h = Harness(self.id())
        self.addCleanup(self._close_harness)

    def _close_harness(self):
        # The outcome's own flag still says "success" while cleanups run; the result already
        # holds this test's failure.
        outcome = getattr(self, "_outcome", None)
        result = getattr(outcome, "result", None)
        failed = outcome is not None and not getattr(outcome, "success", True)
        if result is not None:
            failed = failed or any(test is self for test, _ in result.failures + result.errors)
        self.h.close(failed=failed)


def main():
    unittest.main(verbosity=2)


PRIVATE_NETWORK = "TARVELO_E2E_PRIVATE_NETWORK"


def in_private_network():
    return os.environ.get(PRIVATE_NETWORK) == "1"


def main_in_private_network():
    """main() in a network namespace of the tests' own, where loopback is theirs alone and its
    well-known ports are free. It needs root; elsewhere the tests run as main() runs them and
    those that need the namespace skip (see in_private_network)."""
    if not in_private_network() and os.geteuid() == 0 and shutil.which("ip"):
        env = dict(os.environ, **{PRIVATE_NETWORK: "1"})
        argv = ["unshare", "-n", "sh", "-c", 'ip link set lo up && exec "$@"', "sh", sys.executable,
                os.path.abspath(sys.argv[0])] + sys.argv[1:]
        os.execvpe("unshare", argv, env)
    main()
