"""Benchmarks of Tarvelo Setup. Prints one table and writes it, with the machine and the date,
to BENCHMARKS.md. Every comparison is measured side by side in the same run; each figure is the
median of RUNS runs, with min and max.

Run through bench/run.sh, which builds the trees and provides an X display.
"""

import datetime
import http.server
import os
import platform
import random
import re
import shutil
import socket
import socketserver
import statistics
import subprocess
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "servers"))
import codesign  # noqa: E402
import servers  # noqa: E402

BUILD = os.environ.get("TARVELO_BUILD_DIR", os.path.join(ROOT, "build"))
WIN = os.path.join(BUILD, "win32")
WORK = os.path.join(BUILD, "bench")
RUNS = int(os.environ.get("BENCH_RUNS", "9"))
SIZE_MB = int(os.environ.get("BENCH_SIZE_MB", "200"))
HOST = "download.tarvelo.com"
# The engine benchmark's variants, by the mode argument that selects them.
ENGINE_MODES = {"nodialog": "--no-dialog", "dialogfirst": "--dialog-first", "nobar": "--dialog-first-no-bar"}
WINE_RUN = os.path.join(WIN, "wine-run.sh")
PREFIX = os.path.join(WIN, "wineprefix")


def random_program(path, size):
    """Random bytes behind the header that the engine's download check wants of a program."""
    subprocess.check_call(["head", "-c", str(size), "/dev/urandom"], stdout=open(path, "wb"))
    with open(path, "r+b") as f:
        f.write(servers.PROGRAM_HEADER)


def is_program(path, size):
    if not os.path.exists(path) or os.path.getsize(path) != size:
        return False
    with open(path, "rb") as f:
        return f.read(len(servers.PROGRAM_HEADER)) == servers.PROGRAM_HEADER


def wine(args, env=None, cwd=None, timeout=600):
    """Runs a Windows program; returns (stdout, seconds of user+sys CPU of the program)."""
    full_env = dict(os.environ)
    full_env.update(env or {})
    start = time.monotonic()
    proc = subprocess.Popen([WINE_RUN] + args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                            env=full_env, cwd=cwd)
    out = b""
    _, status, usage = os.wait4(proc.pid, 0)
    out = proc.stdout.read()
    proc.returncode = os.waitstatus_to_exitcode(status)
    if time.monotonic() - start > timeout:
        raise RuntimeError("timed out: %s" % args)
    return out.decode(errors="replace"), usage.ru_utime + usage.ru_stime, proc.returncode


def wineserver_cpu():
    """CPU seconds used so far by this prefix's wineserver (found by its working folder)."""
    st = os.stat(PREFIX)
    tag = "server-%x-%x" % (st.st_dev, st.st_ino)
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            if os.path.basename(os.readlink("/proc/%s/cwd" % pid)) != tag:
                continue
            with open("/proc/%s/comm" % pid) as f:
                if "wineserver" not in f.read():
                    continue
            with open("/proc/%s/stat" % pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
        except OSError:
            continue
    return 0.0


def exception_support_bytes(map_path):
    """Bytes of the exe that exist only for C++ exceptions, added up from the linker's map: every
    input's unwind and handler tables, and the whole of the unwinder and the runtime's throw,
    catch and personality objects. Landing pads inside functions are not counted, so this is a
    lower bound. 0 when there is no map."""
    try:
        lines = open(map_path).read().split("\n")
    except OSError:
        return 0
    runtime = re.compile(r"libgcc_eh\.a\(|libstdc\+\+\.a\(eh_\w+\.o\)")
    total, section = 0, None
    for line in lines:
        m = re.match(r"^ (\.[\w$.]+)\s*$", line)
        if m:
            section = m.group(1)
            continue
        m = re.match(r"^ (\.[\w$.]+)?\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S+)", line)
        if not m:
            continue
        name, size, source = m.group(1) or section, int(m.group(2), 16), m.group(3)
        if not name or name.startswith((".debug", ".zdebug", ".bss")):
            continue
        if name.startswith((".eh_frame", ".gcc_except_table")) or runtime.search(source):
            total += size
    return total


def kv(text):
    return {k: v for k, v in re.findall(r"(\w+)=(\S+)", text)}


def winpath(path):
    return "Z:" + path.replace("/", "\\")


def med(values):
    return statistics.median(values), min(values), max(values)


def fmt(values, unit="", digits=1):
    m, lo, hi = med(values)
    return "%.*f%s (min %.*f, max %.*f)" % (digits, m, unit, digits, lo, digits, hi)


class CuttingHandler(http.server.BaseHTTPRequestHandler):
    """Serves one file; cuts each of the first answers at a random offset and counts every body
    byte it sends, so that bytes fetched twice can be measured."""
    protocol_version = "HTTP/1.1"

    def log_message(self, *a):
        pass

    def do_GET(self):
        srv = self.server
        data = srv.data
        start = 0
        rng = self.headers.get("Range")
        status = 200
        if rng and rng.startswith("bytes="):
            start = int(rng[6:].split("-")[0])
            status = 206
        body = data[start:]
        self.send_response(status)
        if status == 206:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, len(data) - 1, len(data)))
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        limit = len(body)
        if srv.cuts_left > 0:
            srv.cuts_left -= 1
            limit = srv.rng.randrange(1, max(2, len(body) // 2))
        view = memoryview(body)[:limit]
        try:
            for i in range(0, limit, 65536):
                self.wfile.write(view[i:i + 65536])
                srv.sent += min(65536, limit - i)
        except OSError:
            pass
        if limit < len(body):
            self.close_connection = True
            try:
                self.connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass


class CuttingServer(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


class StallingHandler(http.server.BaseHTTPRequestHandler):
    """Serves one file with a strong ETag, honouring Range only with a matching If-Range; the
    first answer stops after `stall_at` bytes and goes quiet. Counts every body byte sent."""
    protocol_version = "HTTP/1.1"

    def log_message(self, *a):
        pass

    def do_GET(self):
        srv = self.server
        data, start, status = srv.data, 0, 200
        rng, condition = self.headers.get("Range"), self.headers.get("If-Range")
        if rng and rng.startswith("bytes=") and condition in (None, srv.etag):
            start, status = int(rng[6:].split("-")[0]), 206
        srv.ranges.append(rng if status == 206 else None)
        body = data[start:]
        self.send_response(status)
        self.send_header("ETag", srv.etag)
        if status == 206:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, len(data) - 1, len(data)))
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        limit = len(body)
        if srv.stalls_left > 0:
            srv.stalls_left -= 1
            limit = srv.stall_at
        try:
            self.wfile.write(body[:limit])
            self.wfile.flush()
            srv.sent += limit
            if limit < len(body):
                srv.quiet.wait(120)
        except OSError:
            pass
        self.close_connection = True


def release_exe(arch, tree, signed):
    """The release command's exe of the default inputs (the run folder's), linked in `tree`,
    signed with the test code-signing certificate or not."""
    sys.path.insert(0, os.path.join(ROOT, "tests", "servers"))
    import codesign
    out = os.path.join(WORK, "release-%s-%s" % (arch, "signed" if signed else "unsigned"), "TarveloSetup.exe")
    argv = ["bash", os.path.join(ROOT, "tools", "release.sh"), os.path.join(tree, "run"), out, "--arch", arch,
            "--allow-http", "--allow-unchecked"]
    if signed:
        pki = codesign.make(os.path.join(WORK, "codesign"))
        argv += ["--sign-pkcs12", pki.pkcs12("publisher"), "--sign-password-file", pki.password_file(),
                 "--trust-root", pki.cert("root"), "--no-timestamp"]
    else:
        argv.append("--unsigned")
    subprocess.run(argv, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   env=dict(os.environ, TARVELO_RELEASE_TREE=tree))
    return out


def payload_checks(rows):
    """The download check's digest against its signature check, in process, on a signed 100 MB
    program, in a copy of the prefix that trusts the test code-signing root."""
    pki = codesign.make(os.path.join(WORK, "codesign"))
    padded, signed = os.path.join(WORK, "padded-100mb.exe"), os.path.join(WORK, "signed-100mb.exe")
    with open(os.path.join(WIN, "stub.exe"), "rb") as f:
        stub = f.read()
    with open(padded, "wb") as f:
        f.write(stub)
        f.truncate(100 << 20)
    pki.sign(padded, signed, "publisher")
    os.remove(padded)
    prefix = os.path.join(WORK, "wineprefix")
    subprocess.run(["rm", "-rf", prefix], check=True)
    subprocess.run(["cp", "-a", PREFIX, prefix], check=True)
    env = {"TARVELO_WINEPREFIX": prefix}
    digest, signature, first = [], [], []
    try:
        out, _, rc = wine([os.path.join(WIN, "trust_root.exe"), winpath(pki.root_der())], env=env)
        if rc != 0:
            raise RuntimeError("the test root could not be trusted: " + out)
        for _ in range(RUNS):
            out, _, rc = wine([os.path.join(WIN, "bench_engine_payload_check.exe"), winpath(signed),
                               pki.pin("publisher")], env=env)
            v = kv(out)
            if rc != 0 or v.get("verdict") != "trusted":
                raise RuntimeError("signature check refused the signed file: " + out)
            per100 = (100 << 20) / int(v["bytes"])
            digest.append(float(v["digest_s"]) * per100)
            signature.append(float(v["signature_s"]) * per100)
            first.append(float(v["first_signature_s"]) - float(v["signature_s"]))
    finally:
        subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=prefix))
        subprocess.run(["rm", "-rf", prefix])
    rows.append(("Digest check (SHA-256) of a complete download, per 100 MB", fmt(digest, " s", 3), "", ""))
    rows.append(("Signature check (WinVerifyTrust, the signer's chain, the pins), per 100 MB",
                 fmt(signature, " s", 3), "", ""))
    rows.append(("  signature / digest", "%.2f" % (statistics.median(signature) / statistics.median(digest)), "", ""))
    rows.append(("  once per run: the first check's extra time (loading wintrust and crypt32, the root store)",
                 fmt(first, " s", 3), "", ""))


def auto_proxy_lookup(rows):
    """The proxy auto-configuration lookup as the engine makes it (the script fetched, then run in
    a restricted child process started for it), against fetching and running the same script in
    process with jsproxy.dll (how the installer ran scripts before). Each program makes its first
    lookup and then REPEATS more; the rows give the first and the median of the rest."""
    script_server = servers.FaultServer(WORK, os.path.join(WORK, "scripts.log")).start()
    url = "http://127.0.0.1:%d/__pac?answer=PROXY%%20127.0.0.1:3128%%3B%%20DIRECT" % script_server.port
    times = {"engine": ([], []), "bare": ([], [])}
    try:
        for _ in range(RUNS):
            for kind, program in (("engine", "bench_engine_auto_proxy.exe"), ("bare", "bench_bare_jsproxy.exe")):
                out, _, rc = wine([os.path.join(WIN, program), url, "5"])
                v = kv(out)
                if rc != 0 or "PROXY 127.0.0.1:3128" not in out:
                    raise RuntimeError("%s gave no answer: %s" % (program, out))
                times[kind][0].append(float(v["first_ms"]))
                times[kind][1].append(float(v["lookup_ms"]))
    finally:
        script_server.stop()
    rows.append(("Proxy auto-configuration lookup, script run in a restricted child: first of a run",
                 fmt(times["engine"][0], " ms"), "", ""))
    rows.append(("  the same script fetched and run in process (jsproxy), first of a run", fmt(times["bare"][0], " ms"), "", ""))
    rows.append(("  child / in process, first", "%.2f" % (statistics.median(times["engine"][0]) /
                                                         statistics.median(times["bare"][0])), "", ""))
    rows.append(("Proxy auto-configuration lookup, restricted child, later in a run",
                 fmt(times["engine"][1], " ms"), "", ""))
    rows.append(("  in process, later in a run", fmt(times["bare"][1], " ms"), "", ""))


def clean_room_checks(rows):
    """The folder checks a release run makes at start, in process: its clean room below a
    stand-in for "%ProgramData%" in the bench's scratch folder (made by the first run, found made
    by the others), and the log."""
    program_data = os.path.join(WORK, "programdata")
    subprocess.run(["rm", "-rf", program_data], check=True)
    os.makedirs(program_data)
    first, room, log = [], [], []
    for _ in range(RUNS):
        subprocess.run(["rm", "-rf", os.path.join(program_data, "Tarvelo")], check=True)
        out, _, rc = wine([os.path.join(WIN, "bench_engine_clean_room.exe"), "20", winpath(program_data)])
        if rc != 0:
            raise RuntimeError("the clean room could not be prepared: " + out)
        v = kv(out)
        first.append(float(v["first_room_ms"]))
        room.append(float(v["room_ms"]))
        log.append(float(v["log_ms"]))
    rows.append(("Release run's start: checking and making its clean room, the first time", fmt(first, " ms", 2), "", ""))
    rows.append(("  every later run (its folders found made; medians of 20 in each run)", fmt(room, " ms", 2), "", ""))
    rows.append(("  opening the log past its folder checks (every run)", fmt(log, " ms", 2), "", ""))


def main():
    os.makedirs(WORK, exist_ok=True)
    rows = []
    run_dir = os.path.join(WIN, "run")

    # Size of the shipped exe.
    exe = os.path.join(BUILD, "release", "TarveloSetup.exe")
    size = os.path.getsize(exe)
    rows.append(("Size of TarveloSetup.exe (i686, release, stripped)", "%d bytes (%.1f KB)" % (size, size / 1024),
                 "at most 172 KB", "met" if size <= 172 * 1024 else "missed"))
    eh = exception_support_bytes(os.path.join(BUILD, "release", "TarveloSetup.map"))
    if eh:
        rows.append(("  of which exception support: unwind tables, handler tables, unwinder, personality (link map)",
                     "%d bytes (%.1f KB)" % (eh, eh / 1024), "", ""))
        rows.append(("  size without it", "%d bytes (%.1f KB)" % (size - eh, (size - eh) / 1024), "", ""))

    # The single-file release exe with the default inputs, signed with a throwaway test certificate.
    shipped = release_exe("i686", os.path.join(BUILD, "release"), signed=True)
    size = os.path.getsize(shipped)
    rows.append(("Size of the release exe (i686, carrying the default configuration, texts and skin, signed)",
                 "%d bytes (%.1f KB)" % (size, size / 1024), "under 600 KB (every display scale's skin)",
                 "met" if size < 600 * 1024 else "missed"))
    here = subprocess.run(["bash", os.path.join(ROOT, "tools", "test-arch.sh")], capture_output=True, text=True).stdout.strip()
    alone = {}
    for signed in (False, True):
        exe = release_exe(here, WIN, signed)
        folder = os.path.join(WORK, "downloads-%s" % ("signed" if signed else "unsigned"))
        os.makedirs(folder, exist_ok=True)
        alone[signed] = os.path.join(folder, "TarveloSetup.exe")
        shutil.copy2(exe, alone[signed])

    # Start to first window, side by side with a bare dialog program; the release exe alone in a
    # folder (its inputs unpacked from itself) beside the development exe reading the loose files.
    bare, real, peak_dialog, peak_real = [], [], [], []
    carried = {False: [], True: []}
    wine(["cmd", "/c", "exit"])
    for _ in range(RUNS):
        out, _, _ = wine([os.path.join(WIN, "bench_first_window.exe"), winpath(os.path.join(WIN, "bench_bare_dialog.exe"))])
        bare.append(float(kv(out)["ms"]))
        peak_dialog.append(int(kv(out).get("peak_ws", "0")) / 1048576)
        out, _, _ = wine([os.path.join(WIN, "bench_first_window.exe"), winpath(os.path.join(run_dir, "TarveloSetup.exe"))], cwd=run_dir)
        real.append(float(kv(out)["ms"]))
        peak_real.append(int(kv(out).get("peak_ws", "0")) / 1048576)
        for signed, exe in alone.items():
            out, _, _ = wine([os.path.join(WIN, "bench_first_window.exe"), winpath(exe)], cwd=os.path.dirname(exe))
            carried[signed].append(float(kv(out)["ms"]))
    ratio = statistics.median(real) / statistics.median(bare)
    rows.append(("Start to first window, TarveloSetup.exe", fmt(real, " ms"), "", ""))
    rows.append(("Start to first window, bare dialog program", fmt(bare, " ms"), "", ""))
    rows.append(("  ratio of medians", "%.2f" % ratio, "at most 1.5", "met" if ratio <= 1.5 else "missed"))
    rows.append(("Start to first window, release exe alone in a folder (inputs unpacked from itself), unsigned",
                 fmt(carried[False], " ms"), "", ""))
    rows.append(("Start to first window, the same signed", fmt(carried[True], " ms"), "", ""))
    rows.append(("  signed release / development exe reading the loose files",
                 "%.2f" % (statistics.median(carried[True]) / statistics.median(real)), "", ""))

    # The same start at 200 % display scale (Wine's DPI lives in the prefix: tools/with-dpi.sh
    # makes a copy at 192 dpi), where the dialog is twice the size and its skin the 200 % set.
    subprocess.run(["bash", os.path.join(ROOT, "tools", "with-dpi.sh"), "192", "true"], check=True,
                   env=dict(os.environ, WINE_PREFIX=PREFIX))
    at200 = {"TARVELO_WINEPREFIX": PREFIX + "-dpi192"}
    real200, peak200 = [], []
    wine(["cmd", "/c", "exit"], env=at200)
    for _ in range(RUNS):
        out, _, _ = wine([os.path.join(WIN, "bench_first_window.exe"), winpath(os.path.join(run_dir, "TarveloSetup.exe"))],
                         env=at200, cwd=run_dir)
        real200.append(float(kv(out)["ms"]))
        peak200.append(int(kv(out).get("peak_ws", "0")) / 1048576)
    subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=PREFIX + "-dpi192"), check=False)
    rows.append(("Start to first window, TarveloSetup.exe at 200 % display scale", fmt(real200, " ms"), "", ""))
    rows.append(("  200 % / 100 %", "%.2f" % (statistics.median(real200) / statistics.median(real)), "", ""))
    rows.append(("Peak working set at the first window, TarveloSetup.exe, 100 %", fmt(peak_real, " MB"), "", ""))
    rows.append(("Peak working set at the first window, TarveloSetup.exe, 200 %", fmt(peak200, " MB"), "", ""))

    # Throughput and CPU: a SIZE_MB file from nginx on loopback.
    www = os.path.join(WORK, "www")
    os.makedirs(www, exist_ok=True)
    big = os.path.join(www, "big.bin")
    if not is_program(big, SIZE_MB << 20):
        random_program(big, SIZE_MB << 20)
    tiny = os.path.join(www, "tiny.bin")
    if not is_program(tiny, 1024):
        random_program(tiny, 1024)
    out_file = os.path.join(WORK, "out.bin")
    fixed = {"engine": [], "bare1k": []}
    results = {"engine": [], "nodialog": [], "dialogfirst": [], "nobar": [], "bare1k": [], "bare1krepaint": [],
               "bare64k": [], "curl": []}
    cpu = {"engine": [], "nodialog": [], "bare1k": [], "bare1krepaint": []}
    peak_floor = []
    peak, peak_bare, positions, paints, redraws, bar_px, paint_s = [], [], [], [], [], [], []
    seconds = {k: [] for k in results}
    with servers.Nginx(www, os.path.join(WORK, "nginx")) as nginx:
        # The vendor host name reaches nginx through the default proxy setting of WinHTTP.
        env = {"TARVELO_WINE_HTTP_PROXY": "http://127.0.0.1:%d" % nginx.port}
        url = "http://%s/big.bin" % HOST
        mb = SIZE_MB * 1048576 / 1e6
        for _ in range(RUNS):
            for kind in ("engine", "nodialog", "dialogfirst", "nobar", "bare1k", "bare1krepaint", "bare64k", "curl"):
                if os.path.exists(out_file):
                    os.remove(out_file)
                ws0 = wineserver_cpu()
                if kind == "engine":
                    out, c, rc = wine([os.path.join(WIN, "bench_engine_download.exe"), url, winpath(out_file)], env=env, cwd=run_dir)
                    v = kv(out)
                    peak.append(int(v.get("peak_ws", "0")) / 1048576)
                    positions.append(int(v.get("positions", "0")))
                    paints.append(int(v.get("paints", "0")))
                    redraws.append(int(v.get("redraws", "0")))
                    bar_px.append(int(v.get("bar_px", "0")))
                    paint_s.append(float(v.get("paint_s", "0")))
                elif kind in ENGINE_MODES:
                    out, c, rc = wine([os.path.join(WIN, "bench_engine_download.exe"), url, winpath(out_file), ENGINE_MODES[kind]], env=env, cwd=run_dir)
                    v = kv(out)
                elif kind.startswith("bare"):
                    buf = "65536" if kind == "bare64k" else "1024"
                    extra = ["--repaint-per-percent"] if kind == "bare1krepaint" else []
                    out, c, rc = wine([os.path.join(WIN, "bench_bare_winhttp.exe"), HOST, "80", "/big.bin", winpath(out_file), buf] + extra, env=env)
                    v = kv(out)
                    if kind == "bare1k":
                        peak_bare.append(int(v.get("peak_ws", "0")) / 1048576)
                    elif kind == "bare1krepaint":
                        peak_floor.append(int(v.get("peak_ws", "0")) / 1048576)
                else:
                    t0 = time.monotonic()
                    subprocess.check_call(["curl", "-s", "-o", out_file, "http://127.0.0.1:%d/big.bin" % nginx.port])
                    v = {"seconds": str(time.monotonic() - t0), "ok": "1"}
                    c = 0
                if v.get("ok") != "1" or os.path.getsize(out_file) != SIZE_MB << 20:
                    raise RuntimeError("%s download failed: %s" % (kind, v))
                results[kind].append(mb / float(v["seconds"]))
                seconds[kind].append(float(v["seconds"]))
                if kind in cpu:
                    cpu[kind].append((c + wineserver_cpu() - ws0) * 100 / (SIZE_MB * 1048576 / 1e6))
            # What a run costs before and after its bytes: the same programs on a 1 KiB file.
            tiny_url = "http://%s/tiny.bin" % HOST
            ws0 = wineserver_cpu()
            _, c, _ = wine([os.path.join(WIN, "bench_engine_download.exe"), tiny_url, winpath(out_file)], env=env, cwd=run_dir)
            fixed["engine"].append(c + wineserver_cpu() - ws0)
            ws0 = wineserver_cpu()
            _, c, _ = wine([os.path.join(WIN, "bench_bare_winhttp.exe"), HOST, "80", "/tiny.bin", winpath(out_file), "1024"], env=env)
            fixed["bare1k"].append(c + wineserver_cpu() - ws0)
    thr = statistics.median(results["engine"]) / statistics.median(results["bare1k"])
    rows.append(("Throughput, installer engine (dialog running, log on)", fmt(results["engine"], " MB/s"), "", ""))
    rows.append(("Throughput, bare WinHTTP loop, 1 KiB", fmt(results["bare1k"], " MB/s"), "", ""))
    rows.append(("  engine / bare 1 KiB", "%.2f" % thr, "at least 0.95", "met" if thr >= 0.95 else "missed"))
    # Where the engine's time goes: the same download without the dialog's start-up, then also
    # without any bar positions, then without any dialog.
    for kind, label in (("dialogfirst", "Throughput, engine, clock started once the dialog is up"),
                        ("nobar", "Throughput, engine, dialog up, no bar positions set"),
                        ("nodialog", "Throughput, engine without the dialog")):
        rows.append((label, fmt(results[kind], " MB/s"), "", ""))
        rows.append(("  / bare 1 KiB", "%.2f" % (statistics.median(results[kind]) / statistics.median(results["bare1k"])), "", ""))
    # What each bar position costs the download: it is handed to the dialog's thread, which paints
    # it there (beside the download, on the same cores); the download does not wait for that.
    per_position = [(a - b) * 1000 / max(1, n) for a, b, n in zip(seconds["dialogfirst"], seconds["nobar"], positions)]
    rows.append(("  download's time per bar position (dialog up: with positions minus without, per position)", fmt(per_position, " ms", 2), "", ""))
    rows.append(("  the bar's own painting (per WM_PAINT, on the dialog's thread, not waited for)",
                 fmt([s * 1000 / max(1, n) for s, n in zip(paint_s, paints)], " ms", 2), "", ""))
    # Context: a program that waits at each percent for its bar to be repainted on another thread
    # (RDW_UPDATENOW from the download thread): the bare loop with a plain window on a second
    # thread, repainted that way. The installer hands its positions over instead.
    rows.append(("Throughput, bare 1 KiB loop, plain window on a second thread repainted at once per percent",
                 fmt(results["bare1krepaint"], " MB/s"), "", ""))
    floor = statistics.median(results["bare1krepaint"]) / statistics.median(results["bare1k"])
    rows.append(("  / bare 1 KiB (what the immediate repaints alone cost under this platform)", "%.2f" % floor, "", ""))
    rows.append(("  engine, clock started once the dialog is up / this floor",
                 "%.2f" % (statistics.median(results["dialogfirst"]) / statistics.median(results["bare1krepaint"])), "", ""))
    rows.append(("Throughput, bare WinHTTP loop, 64 KiB (context)", fmt(results["bare64k"], " MB/s"), "", ""))
    rows.append(("Throughput, curl to a file (context)", fmt(results["curl"], " MB/s"), "", ""))
    cr = statistics.median(cpu["engine"]) / statistics.median(cpu["bare1k"])
    rows.append(("CPU per 100 MB, engine (process + wineserver)", fmt(cpu["engine"], " s", 2), "", ""))
    rows.append(("CPU per 100 MB, bare 1 KiB loop", fmt(cpu["bare1k"], " s", 2), "", ""))
    rows.append(("  engine / bare 1 KiB", "%.2f" % cr, "at most 1.1", "met" if cr <= 1.1 else "missed"))
    rows.append(("CPU of a 1 KiB download (start-up, dialog, exit), engine", fmt(fixed["engine"], " s", 2), "", ""))
    rows.append(("CPU of a 1 KiB download, bare 1 KiB loop", fmt(fixed["bare1k"], " s", 2), "", ""))
    per100 = SIZE_MB * 1048576 / 1e6 / 100
    marginal = ((statistics.median(cpu["engine"]) - statistics.median(fixed["engine"]) / per100)
                / (statistics.median(cpu["bare1k"]) - statistics.median(fixed["bare1k"]) / per100))
    rows.append(("  engine / bare 1 KiB, per byte only (both start-ups taken out)", "%.2f" % marginal, "", ""))
    rows.append(("CPU per 100 MB, engine without the dialog (where the rest goes)", fmt(cpu["nodialog"], " s", 2), "", ""))
    rows.append(("  engine without the dialog / bare 1 KiB", "%.2f" % (statistics.median(cpu["nodialog"]) / statistics.median(cpu["bare1k"])), "", ""))
    rows.append(("CPU per 100 MB, bare 1 KiB loop repainting a plain window per percent", fmt(cpu["bare1krepaint"], " s", 2), "", ""))
    rows.append(("  engine / this", "%.2f" % (statistics.median(cpu["engine"]) / statistics.median(cpu["bare1krepaint"])), "", ""))
    pk = statistics.median(peak)
    rows.append(("Peak working set during the download, engine", fmt(peak, " MB"), "at most 8 MB", "met" if pk <= 8 else "missed"))
    rows.append(("Peak working set, bare 1 KiB loop (what Wine itself needs)", fmt(peak_bare, " MB"), "", ""))
    rows.append(("Peak working set, bare dialog program at its first window", fmt(peak_dialog, " MB"), "", ""))
    rows.append(("Peak working set, bare 1 KiB loop repainting a plain window per percent (a window and a download)",
                 fmt(peak_floor, " MB"), "", ""))

    # Resume: the connection cut 5 times at random offsets; bytes the server sent beyond the file.
    refetched = []
    small = os.path.join(WORK, "www", "resume.bin")
    if not is_program(small, 20 << 20):
        random_program(small, 20 << 20)
    data = open(small, "rb").read()
    for i in range(RUNS):
        srv = CuttingServer(("127.0.0.1", 0), CuttingHandler)
        srv.data, srv.sent, srv.cuts_left, srv.rng = data, 0, 5, random.Random(i)
        threading.Thread(target=srv.serve_forever, daemon=True).start()
        if os.path.exists(out_file):
            os.remove(out_file)
        env = {"TARVELO_WINE_HTTP_PROXY": "http://127.0.0.1:%d" % srv.server_address[1]}
        out, _, _ = wine([os.path.join(WIN, "bench_engine_download.exe"), "http://%s/resume.bin" % HOST, winpath(out_file)], env=env, cwd=run_dir)
        srv.shutdown()
        srv.server_close()
        if open(out_file, "rb").read() != data:
            raise RuntimeError("resumed file differs from the source")
        refetched.append(srv.sent - len(data))
    rows.append(("Body bytes fetched twice after 5 cuts (20 MB file)", fmt(refetched, " bytes", 0), "0", "met" if max(refetched) == 0 else "missed"))

    # An interrupted run of a release exe: the process ends abruptly (as when it is killed or the
    # power goes) at 60 % of the file, and the next run continues it.
    again = []
    stall_at = (len(data) * 6 // 10) // 1024 * 1024  # whole reads: WinHTTP holds back a short one
    for i in range(RUNS):
        srv = CuttingServer(("127.0.0.1", 0), StallingHandler)
        srv.data, srv.sent, srv.stalls_left, srv.stall_at = data, 0, 1, stall_at
        srv.etag, srv.ranges, srv.quiet = '"bench-%d"' % i, [], threading.Event()
        threading.Thread(target=srv.serve_forever, daemon=True).start()
        for leftover in (out_file, out_file + ".resume"):
            if os.path.exists(leftover):
                os.remove(leftover)
        env = {"TARVELO_WINE_HTTP_PROXY": "http://127.0.0.1:%d" % srv.server_address[1]}
        url = "http://%s/resume.bin" % HOST
        wine([os.path.join(WIN, "bench_engine_continue.exe"), url, winpath(out_file), str(stall_at)], env=env, cwd=run_dir)
        wine([os.path.join(WIN, "bench_engine_continue.exe"), url, winpath(out_file)], env=env, cwd=run_dir)
        srv.quiet.set()
        srv.shutdown()
        srv.server_close()
        if open(out_file, "rb").read() != data or srv.ranges[-1] is None:
            raise RuntimeError("the interrupted download was not continued: %s" % srv.ranges)
        again.append(srv.sent - len(data))
    rows.append(("Body bytes fetched again after an interrupted run (20 MB file, process ended at 60 %%; "
                 "before: the whole partial, %d bytes)" % stall_at, fmt(again, " bytes", 0), "0",
                 "met" if max(again) == 0 else "missed"))

    rows.append(("Progress bar positions set per file (engine)", fmt(positions, "", 0), "", ""))
    px = min(bar_px)
    rows.append(("Progress bar WM_PAINT messages per file (engine)", fmt(paints, "", 0), "", ""))
    rows.append(("Progress bar redraws per file (engine: WM_PAINT with something to update)", fmt(redraws, "", 0),
                 "at most the bar's pixel width (%d px)" % px, "met" if max(redraws) <= px else "missed"))

    payload_checks(rows)
    auto_proxy_lookup(rows)
    clean_room_checks(rows)

    header = "| Figure | Measured | Goal | |\n|---|---|---|---|\n"
    table = header + "".join("| %s | %s | %s | %s |\n" % r for r in rows)
    print(table)
    cpu_model = ""
    try:
        cpu_model = re.search(r"model name\s*:\s*(.*)", open("/proc/cpuinfo").read()).group(1)
    except (OSError, AttributeError):
        pass
    with open(os.path.join(ROOT, "BENCHMARKS.md"), "w") as f:
        f.write("# Benchmarks\n\nMade by `bash bench/run.sh` on %s.\n\n" % datetime.datetime.utcnow().strftime("%Y-%m-%d %H:%M UTC"))
        f.write("Machine: %s, %d cores, %s, Linux %s; Wine %s; Windows programs built for %s.\n"
                "Medians of %d runs, with min and max. Throughput uses a %d MB file from nginx on loopback.\n\n"
                % (cpu_model, os.cpu_count(), platform.machine(), platform.release(),
                   subprocess.run(["/usr/lib/wine/wine64", "--version"], capture_output=True, text=True).stdout.strip(),
                   subprocess.run(["bash", os.path.join(ROOT, "tools", "test-arch.sh")], capture_output=True, text=True).stdout.strip(),
                   RUNS, SIZE_MB))
        f.write(table)


if __name__ == "__main__":
    main()
