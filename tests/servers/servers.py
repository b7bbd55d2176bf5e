"""Local test servers on 127.0.0.1 free ports: nginx (static files with Range), squid (a proxy
with Basic authentication) and a fault-injecting HTTP server of our own, which can also listen
with TLS (see tls.py for the certificates); and, inside a private network namespace, the
WPAD host that proxy auto-detection looks for.

Standard library only. Every server runs as a private instance with its own configuration,
pid, log and temporary folders below a work folder, and is stopped by stop() or on leaving a
`with` block. Nothing listens anywhere but loopback.
"""

import email.utils
import hashlib
import http.server
import os
import random
import shutil
import signal
import socket
import socketserver
import ssl
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

from wait_limit import WAIT_LIMIT

LOOPBACK = "127.0.0.1"

# The smallest start a downloaded file needs to count as a Windows program: "MZ", the offset 0x40
# at 0x3C, and "PE\0\0" there. Test payloads of random bytes begin with it.
PROGRAM_HEADER = b"MZ" + b"\0" * 0x3A + (0x40).to_bytes(4, "little") + b"PE\0\0"

# What a hotel's login portal answers to any request: 200 and a page.
PORTAL_PAGE = b"<html><body><p>Log in to use the hotel WiFi.</p></body></html>\r\n"  # 64 bytes


def as_program(data):
    """`data` with its first bytes replaced by PROGRAM_HEADER, the length kept."""
    return PROGRAM_HEADER + data[len(PROGRAM_HEADER):]


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind((LOOPBACK, 0))
        return s.getsockname()[1]


def wait_for_port(port, timeout=WAIT_LIMIT, process=None):
    """Polls until something accepts on the port; raises when the bound passes or the process
    ends first."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if process is not None and process.poll() is not None:
            raise RuntimeError("server ended early with code %s" % process.returncode)
        try:
            with socket.create_connection((LOOPBACK, port), timeout=0.5):
                return
        except OSError:
            time.sleep(0.05)
    raise RuntimeError("nothing answered on port %d within %.0f s" % (port, timeout))


def _stop_process(process, timeout=10.0):
    if process is None or process.poll() is not None:
        return
    process.send_signal(signal.SIGTERM)
    try:
        process.wait(timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait(timeout)


PROXY_SCRIPT_TYPE = "application/x-ns-proxy-autoconfig"


def proxy_script(answer, hang=False, grow=False):
    """A proxy auto-configuration script answering `answer` ("PROXY host:port", "DIRECT") for
    the vendor's hosts and DIRECT for every other host; with hang, one that never returns; with
    grow, one that allocates without end (a new string of 2 MiB at a time, each kept)."""
    if hang:
        return b'function FindProxyForURL(url, host) {\n  while (true) {}\n}\n'
    if grow:
        return (b'function FindProxyForURL(url, host) {\n  var chunk = "x", kept = [];\n'
                b'  while (chunk.length < 1048576) chunk = chunk + chunk;\n'
                b'  for (;;) kept.push((chunk + kept.length).toUpperCase());\n}\n')
    return ('function FindProxyForURL(url, host) {\n'
            '  if (dnsDomainIs(host, ".tarvelo.com")) return "%s";\n'
            '  return "DIRECT";\n}\n' % answer.replace('"', '')).encode()


def stop_all(running):
    """Stops several servers at once: squid takes a second or more to end, so every server is
    told first and waited for after."""
    for server in running:
        process = getattr(server, "process", None)
        if process is not None and process.poll() is None:
            process.send_signal(signal.SIGTERM)
    for server in running:
        server.stop()


class Nginx:
    """nginx serving `root` with Range support, `daemon off`, in a private prefix."""

    def __init__(self, root, work):
        self.root = os.path.abspath(root)
        self.work = os.path.abspath(work)
        self.port = None
        self.process = None

    def start(self):
        os.makedirs(os.path.join(self.work, "temp"), exist_ok=True)
        self.port = free_port()
        conf = os.path.join(self.work, "nginx.conf")
        user = "user root;\n" if os.geteuid() == 0 else ""
        temp = os.path.join(self.work, "temp")
        with open(conf, "w") as f:
            f.write(
                f"""{user}daemon off;
worker_processes 1;
pid "{self.work}/nginx.pid";
error_log "{self.work}/error.log";
events {{ worker_connections 64; }}
http {{
  access_log "{self.work}/access.log";
  client_body_temp_path "{temp}/body";
  proxy_temp_path "{temp}/proxy";
  fastcgi_temp_path "{temp}/fastcgi";
  uwsgi_temp_path "{temp}/uwsgi";
  scgi_temp_path "{temp}/scgi";
  default_type application/octet-stream;
  server {{
    listen {LOOPBACK}:{self.port};
    root "{self.root}";
  }}
}}
""")
        self.process = subprocess.Popen(
            ["nginx", "-p", self.work, "-c", conf, "-e", os.path.join(self.work, "error.log")],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for_port(self.port, process=self.process)
        return self

    def stop(self):
        _stop_process(self.process)
        self.process = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


class Squid:
    """squid as a proxy that demands Basic credentials: with digest=True also Digest, with
    ntlm=True also NTLM, with negotiate=True also Negotiate (the last two offered first and
    checked by ntlm_helper.py); with auth=False it lets everyone through. `hosts` maps names
    to 127.0.0.1 for squid's own lookups; nothing is asked of real DNS."""

    USER = "tester"
    PASSWORD = "letmein"

    def __init__(self, work, hosts=(), digest=False, user=USER, password=PASSWORD, ntlm=False, negotiate=False,
                 auth=True):
        # Where the caller keeps its evidence; squid itself runs from a folder of its own (see
        # start), and its logs are copied back here when it stops.
        self.evidence = os.path.abspath(work)
        self.work = None
        self.hosts = list(hosts)
        self.digest = digest
        self.ntlm = ntlm
        self.negotiate = negotiate
        self.auth = auth
        self.user = user
        self.password = password
        self.port = None
        self.process = None

    def start(self):
        # squid leaves root for its user "proxy", which must reach every file it reads and every
        # folder above them. A checkout below a private folder (mktemp -d, /root) is out of its
        # reach, so it gets a folder of its own under the system's temporary folder.
        self.work = tempfile.mkdtemp(prefix="tarvelo-squid-")
        os.chmod(self.work, 0o755)
        self.port = free_port()
        w = self.work
        hashed = subprocess.run(["openssl", "passwd", "-apr1", self.password], check=True,
                                capture_output=True, text=True).stdout.strip()
        with open(os.path.join(w, "passwd"), "w") as f:
            f.write(f"{self.user}:{hashed}\n")
        with open(os.path.join(w, "digest_passwd"), "w") as f:
            f.write(f"{self.user}:{self.password}\n")
        with open(os.path.join(w, "hosts"), "w") as f:
            f.write("127.0.0.1 localhost " + " ".join(self.hosts) + "\n")
        # Schemes offered before Basic, in squid's order of offering.
        schemes = ""
        if self.ntlm or self.negotiate:
            # squid's user runs the helper: it gets a copy here and the system's interpreter.
            helper = os.path.join(w, "ntlm_helper.py")
            shutil.copy(os.path.join(os.path.dirname(os.path.abspath(__file__)), "ntlm_helper.py"), helper)
        if self.negotiate:
            schemes += (f"auth_param negotiate program /usr/bin/python3 {helper} --negotiate {self.user} "
                        f"{self.password}\nauth_param negotiate children 2\n")
        if self.ntlm:
            schemes += (f"auth_param ntlm program /usr/bin/python3 {helper} {self.user} {self.password}\n"
                        "auth_param ntlm children 2\n")
        if self.digest:
            schemes += (f"auth_param digest program /usr/lib/squid/digest_file_auth {w}/digest_passwd\n"
                        "auth_param digest realm tarvelo-test\n")
        with open(os.path.join(w, "squid.conf"), "w") as f:
            f.write(f"""http_port {LOOPBACK}:{self.port}
pid_filename {w}/squid.pid
cache_log {w}/cache.log
access_log stdio:{w}/access.log
cache_store_log none
coredump_dir {w}
netdb_filename none
cache deny all
pinger_enable off
hosts_file {w}/hosts
dns_nameservers 127.0.0.1
shutdown_lifetime 0 seconds
{self._access(schemes, w)}""")
        if os.geteuid() == 0:
            # squid leaves root for its effective user, which must be able to write here.
            subprocess.run(["chown", "-R", "proxy:proxy", w], check=False)
        # The caller's folder shows the live access log, as if squid wrote it there.
        shutil.rmtree(self.evidence, ignore_errors=True)
        os.makedirs(self.evidence)
        os.symlink(os.path.join(w, "access.log"), os.path.join(self.evidence, "access.log"))
        self.process = subprocess.Popen(
            ["squid", "-N", "-f", os.path.join(w, "squid.conf")],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=open(os.path.join(w, "stderr.log"), "w"))
        wait_for_port(self.port, process=self.process)
        return self

    def _access(self, schemes, w):
        if not self.auth:
            return "http_access allow all\n"
        return (f"{schemes}auth_param basic program /usr/lib/squid/basic_ncsa_auth {w}/passwd\n"
                "auth_param basic realm tarvelo-test\n"
                "acl authed proxy_auth REQUIRED\n"
                "http_access allow authed\n"
                "http_access deny all\n")

    def access_log(self):
        try:
            with open(os.path.join(self.evidence, "access.log")) as f:
                return f.read()
        except OSError:
            return ""

    def stop(self):
        _stop_process(self.process)
        self.process = None
        if self.work:
            os.makedirs(self.evidence, exist_ok=True)
            for name in ("access.log", "cache.log", "stderr.log", "squid.conf"):
                kept = os.path.join(self.evidence, name)
                try:
                    if os.path.islink(kept):
                        os.unlink(kept)
                    shutil.copy(os.path.join(self.work, name), kept)
                except OSError:
                    pass
            shutil.rmtree(self.work, ignore_errors=True)
            self.work = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


class _Rules:
    """Per-URL request counters shared by the fault server's listeners."""

    def __init__(self):
        self.lock = threading.Lock()
        self.counts = {}

    def count(self, key):
        with self.lock:
            self.counts[key] = self.counts.get(key, 0) + 1
            return self.counts[key]


class _FaultHandler(http.server.BaseHTTPRequestHandler):
    """Serves files from the server's root and misbehaves as the query string asks:

      cut=N[&cuts=K]   the first K (default 1) answers of this URL stop after N body bytes
      stall=N          the first K (cuts, default 1) answers send N body bytes, then nothing
                       until the client gives up
      status=N         answer with status N and a short body
      nolength=1       no Content-Length; the connection closes after the body
      chunked=1        chunked transfer encoding
      ignorerange=1    answer 200 with the whole file even to a ranged request
      lie=N            claim Content-Length N, send the real file, close
      badstart=S       answer a ranged request with 206 from byte S (Content-Range says so)
      norange=1        answer a ranged request with 206 and the asked part, but no Content-Range
      badrange=1       the same with a Content-Range that does not parse
      wholepart=1      answer a ranged request with 206, no Content-Range and the whole file
      othertotal=T     a ranged answer's Content-Range names the total T (the file changed)
      refuserange=1    answer every ranged request with 416 (Content-Range "bytes */<size>")
      proxyauth=LIST   act as a proxy demanding the schemes in LIST ("digest,basic");
                       with refuse=1 every request is refused, credentials or not
      close=K          the first K requests of this URL are closed without an answer
    and at /__spawn?die_after=N starts a listener that answers N requests and then refuses
    connections; the answer is PROGRAM_HEADER followed by its port in decimal.
      randomcuts=K     the first K answers of this URL stop at a pseudo-random point of their
                       body (at least one byte sent); seed=S picks the sequence
      corrupt=K        the first K answers of this URL have one body byte changed
      portal=K         the first K answers of this URL are 200 with PORTAL_PAGE (text/html)
                       instead of the file, as from a login portal or a filtering proxy
      head=N           the file is only its first N bytes (a whole answer of that length)
      swapafter=K      after K requests of this URL, the file is <file>.next (the file was
                       replaced on the server), where that exists
      noetag=1         no ETag (by default a strong one from the file's content)
      weaketag=1       the ETag is weak (W/"...")
      lastmod=1        a Last-Modified date (the file's own)
    A Range that comes with an If-Range the file no longer matches (neither its ETag nor its
    date) is ignored, as HTTP says, and the whole file is sent with 200.

    /__pac?answer=A is a proxy auto-configuration script that answers A (for example
    "PROXY 127.0.0.1:3128") for the vendor's hosts and DIRECT for every other host;
    /__pac?hang=1 is one whose FindProxyForURL never returns, /__pac?grow=1 one that allocates
    without end; with unauthorized=K the first K requests of the script's URL are answered 401
    (asking for Negotiate or NTLM), as a script server that wants the user's logon does.

    Every request is appended to the request log: method, target, Range value, and whether
    credentials came with it.
    """

    protocol_version = "HTTP/1.1"
    server_version = "FaultServer"

    def setup(self):
        # The TLS handshake is made here, on the request's own thread, so that a client that
        # refuses the certificate cannot hold up the listener.
        if isinstance(self.request, ssl.SSLSocket):
            self.request.settimeout(30)
            self.request.do_handshake()
            self.request.settimeout(None)
        super().setup()

    def log_message(self, *args):
        pass

    def _record(self, target):
        line = "%s %s range=%s ifrange=%s auth=%s\n" % (
            self.command, target, self.headers.get("Range", "-"), self.headers.get("If-Range", "-"),
            "yes" if self.headers.get("Proxy-Authorization") else "no")
        with self.server.owner.log_lock:
            with open(self.server.owner.log_path, "a") as f:
                f.write(line)

    def do_GET(self):
        try:
            self._serve()
        except (BrokenPipeError, ConnectionResetError):
            self.close_connection = True

    def _serve(self):
        owner = self.server.owner
        parsed = urllib.parse.urlsplit(self.path)
        target = parsed.path + ("?" + parsed.query if parsed.query else "")
        self._record(target)
        q = {k: v[-1] for k, v in urllib.parse.parse_qs(parsed.query).items()}
        n = owner.rules.count(target)

        if parsed.path == "/__spawn":
            port = owner.spawn(int(q.get("die_after", "1")))
            # Behind the program header, so that the download loop takes it like any payload.
            body = PROGRAM_HEADER + str(port).encode()
            self._head(200, {"Content-Length": str(len(body))})
            self.wfile.write(body)
            return

        if parsed.path == "/__pac":
            if "unauthorized" in q and n <= int(q["unauthorized"]):
                body = b"logon required"
                self._head(401, {"Content-Length": str(len(body)), "WWW-Authenticate": "Negotiate"})
                self.wfile.write(body)
                return
            body = proxy_script(q.get("answer", "DIRECT"), hang=q.get("hang") == "1", grow=q.get("grow") == "1")
            self._head(200, {"Content-Length": str(len(body)), "Content-Type": PROXY_SCRIPT_TYPE})
            self.wfile.write(body)
            return

        if "close" in q and n <= int(q["close"]):
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
            return

        if "proxyauth" in q and ("refuse" in q or not self.headers.get("Proxy-Authorization")):
            headers = []
            for scheme in q["proxyauth"].split(","):
                if scheme == "digest":
                    headers.append(('Proxy-Authenticate',
                                    'Digest realm="tarvelo-test", nonce="abc123", qop="auth"'))
                elif scheme == "basic":
                    headers.append(("Proxy-Authenticate", 'Basic realm="tarvelo-test"'))
                elif scheme == "ntlm":
                    headers.append(("Proxy-Authenticate", "NTLM"))
            body = b"proxy authentication required"
            self.send_response(407)
            for k, v in headers:
                self.send_header(k, v)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return

        if "status" in q:
            body = b"status body"
            self._head(int(q["status"]), {"Content-Length": str(len(body))})
            self.wfile.write(body)
            return

        path = os.path.normpath(os.path.join(owner.root, parsed.path.lstrip("/")))
        if not path.startswith(owner.root) or not os.path.isfile(path):
            body = b"not found"
            self._head(404, {"Content-Length": str(len(body))})
            self.wfile.write(body)
            return
        if "portal" in q and n <= int(q["portal"]):
            self._head(200, {"Content-Type": "text/html", "Content-Length": str(len(PORTAL_PAGE))})
            self.wfile.write(PORTAL_PAGE)
            return
        if "swapafter" in q and n > int(q["swapafter"]) and os.path.isfile(path + ".next"):
            path += ".next"
        with open(path, "rb") as f:
            data = f.read()
        if "head" in q:
            data = data[:int(q["head"])]
        total = len(data)
        validators = {}
        if "noetag" not in q:
            validators["ETag"] = ('W/"%s"' if "weaketag" in q else '"%s"') % hashlib.sha256(data).hexdigest()[:20]
        if "lastmod" in q:
            validators["Last-Modified"] = email.utils.formatdate(os.path.getmtime(path), usegmt=True)

        start, end, status = 0, total - 1, 200
        rng = self.headers.get("Range")
        condition = self.headers.get("If-Range")
        if rng and condition is not None and (condition.startswith("W/") or condition not in validators.values()):
            rng = None
        if rng and "refuserange" in q:
            self._head(416, {"Content-Range": "bytes */%d" % total, "Content-Length": "0"})
            return
        if rng and "wholepart" in q:
            rng = None
            status = 206
        if rng and rng.startswith("bytes=") and "ignorerange" not in q:
            a, _, b = rng[6:].partition("-")
            start = int(a) if a else 0
            end = int(b) if b else total - 1
            end = min(end, total - 1)
            status = 206
            if "badstart" in q:
                start = int(q["badstart"])
        body = data[start:end + 1]

        headers = dict(validators)
        if status == 206 and "badrange" in q:
            headers["Content-Range"] = "bytes %d-%d of %d" % (start, end, total)
        elif status == 206 and "norange" not in q and "wholepart" not in q:
            headers["Content-Range"] = "bytes %d-%d/%s" % (start, end, q.get("othertotal", total))
        if "chunked" in q:
            headers["Transfer-Encoding"] = "chunked"
        elif "nolength" in q:
            headers["Connection"] = "close"
        elif "lie" in q:
            headers["Content-Length"] = q["lie"]
            headers["Connection"] = "close"
        else:
            headers["Content-Length"] = str(len(body))
        self._head(status, headers)

        if "corrupt" in q and n <= int(q["corrupt"]) and body:
            middle = len(body) // 2
            body = body[:middle] + bytes([body[middle] ^ 0xFF]) + body[middle + 1:]

        limit = len(body)
        cut = "cut" in q and n <= int(q.get("cuts", "1"))
        if cut:
            limit = min(limit, int(q["cut"]))
        if "randomcuts" in q and n <= int(q["randomcuts"]) and len(body) > 1:
            cut = True
            chooser = random.Random("%s/%d" % (q.get("seed", "0"), n))
            limit = min(limit, chooser.randint(1, len(body) - 1))
        stall = "stall" in q and n <= int(q.get("cuts", "1"))
        if stall:
            limit = min(limit, int(q["stall"]))

        if "chunked" in q:
            pos = 0
            while pos < limit:
                piece = body[pos:min(pos + 4096, limit)]
                self.wfile.write(b"%x\r\n" % len(piece) + piece + b"\r\n")
                pos += len(piece)
            if not cut and not stall:
                self.wfile.write(b"0\r\n\r\n")
        else:
            self.wfile.write(body[:limit])
        self.wfile.flush()
        with owner.log_lock:
            owner.sent[parsed.path] = owner.sent.get(parsed.path, 0) + limit

        if stall:
            owner.unstalled.wait(120)
        if cut or stall or "nolength" in q or "lie" in q:
            self.close_connection = True
            try:
                self.connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def _head(self, status, headers):
        self.send_response(status)
        for k, v in headers.items():
            self.send_header(k, v)
        self.end_headers()


class _Listener(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):
        # A client that drops an answer it does not trust resets the connection, and one that
        # refuses the certificate ends the handshake; that is the behaviour under test, not a
        # server fault.
        if isinstance(sys.exc_info()[1], (ConnectionResetError, BrokenPipeError, ssl.SSLError)):
            return
        super().handle_error(request, client_address)


class FaultServer:
    """The fault-injecting server; `root` is the folder of files it serves."""

    def __init__(self, root, log_path):
        self.root = os.path.abspath(root)
        self.log_path = os.path.abspath(log_path)
        self.log_lock = threading.Lock()
        self.rules = _Rules()
        self.stopping = threading.Event()
        self.unstalled = threading.Event()  # set: a stalled answer ends (its connection closes)
        self.listeners = []
        self.port = None
        # Body bytes sent, by path: what a client fetched, whether it kept it or not.
        self.sent = {}

    def _listen(self, die_after=None, tls=None):
        listener = _Listener((LOOPBACK, 0), _FaultHandler)
        listener.owner = self
        if tls:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(*tls)
            listener.socket = context.wrap_socket(listener.socket, server_side=True,
                                                  do_handshake_on_connect=False)
        listener.forever = die_after is None
        thread = threading.Thread(target=self._run, args=(listener, die_after), daemon=True)
        self.listeners.append(listener)
        thread.start()
        return listener.server_address[1]

    def _run(self, listener, die_after):
        if die_after is None:
            listener.serve_forever(poll_interval=0.05)
            return
        # A listener that answers `die_after` requests and then stops listening, so that
        # later connections are refused (a failing send).
        for _ in range(die_after):
            listener.handle_request()
        listener.server_close()

    def spawn(self, die_after):
        return self._listen(die_after)

    def listen_tls(self, certificate, key):
        """One more listener, speaking TLS with the given certificate; returns its port. It
        serves the same files and faults."""
        return self._listen(tls=(certificate, key))

    def start(self):
        open(self.log_path, "a").close()
        self.port = self._listen()
        return self

    def release_stalls(self):
        """Ends the answers that stall now, closing their connections, and lets the server go on."""
        self.unstalled.set()

    def stop(self):
        self.stopping.set()
        self.unstalled.set()
        for listener in self.listeners:
            if listener.forever:
                listener.shutdown()
            listener.server_close()

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


class _WpadHandler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        self.server.owner.requests.append(self.path)
        body = self.server.owner.script if self.path == "/wpad.dat" else b"not found"
        self.send_response(200 if self.path == "/wpad.dat" else 404)
        self.send_header("Content-Type", PROXY_SCRIPT_TYPE)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


class Wpad:
    """What auto-detection of a proxy looks for, for use inside a private network namespace
    only (it takes the well-known ports of loopback): a DNS responder on 127.0.0.1:53 that
    answers every name beginning with "wpad." with 127.0.0.1 and no other name, and the script
    (see proxy_script) at /wpad.dat on 127.0.0.1:80. `requests` lists the paths asked for."""

    def __init__(self, answer):
        self.script = proxy_script(answer)
        self.requests = []
        self.dns = None
        self.http = None

    def start(self):
        self.dns = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.dns.bind((LOOPBACK, 53))
        threading.Thread(target=self._answer_names, daemon=True).start()
        self.http = _Listener((LOOPBACK, 80), _WpadHandler)
        self.http.owner = self
        threading.Thread(target=self.http.serve_forever, kwargs={"poll_interval": 0.05}, daemon=True).start()
        return self

    def _answer_names(self):
        dns = self.dns
        while True:
            try:
                query, client = dns.recvfrom(512)
                dns.sendto(_dns_answer(query), client)
            except (IndexError, struct.error):
                pass
            except OSError:
                return

    def stop(self):
        if self.http:
            self.http.shutdown()
            self.http.server_close()
            self.http = None
        if self.dns:
            self.dns.close()
            self.dns = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


def _dns_answer(query):
    """The answer to one DNS query: 127.0.0.1 for an address query of a "wpad." name, no
    such name for other address queries, an empty answer otherwise."""
    ident, _, _ = struct.unpack(">HHH", query[:6])
    at, labels = 12, []
    while query[at]:
        labels.append(query[at + 1:at + 1 + query[at]].decode("ascii", "replace"))
        at += 1 + query[at]
    qtype, _ = struct.unpack(">HH", query[at + 1:at + 5])
    question = query[12:at + 5]
    name = ".".join(labels).lower()
    if qtype == 1 and name.startswith("wpad."):
        answer = b"\xc0\x0c" + struct.pack(">HHIH", 1, 1, 60, 4) + socket.inet_aton(LOOPBACK)
        return struct.pack(">HHHHHH", ident, 0x8180, 1, 1, 0, 0) + question + answer
    flags = 0x8183 if qtype == 1 else 0x8180
    return struct.pack(">HHHHHH", ident, flags, 1, 0, 0, 0) + question
