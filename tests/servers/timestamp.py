"""An RFC 3161 timestamp authority on loopback, for signing tests: a small HTTP server whose
answers `openssl ts -reply` makes, with the test time-stamping certificate of codesign.py.

    with TimestampServer(pki, work_folder) as tsa:
        osslsigncode sign ... -ts tsa.url

It answers a POST of an "application/timestamp-query" with an "application/timestamp-reply",
counts what it answered (`granted`), and listens on 127.0.0.1 only. Standard library only.
"""

import http.server
import os
import socketserver
import subprocess
import tempfile
import threading

LOOPBACK = "127.0.0.1"

_CONFIG = """
[ tsa ]
default_tsa = tsa_config
[ tsa_config ]
serial = {serial}
crypto_device = builtin
signer_digest = sha256
default_policy = 1.3.6.1.4.1.55555.1.1
digests = sha1, sha256, sha384, sha512
accuracy = secs:1
ordering = yes
tsa_name = no
ess_cert_id_chain = no
ess_cert_id_alg = sha256
"""

# A query is a few hundred bytes; anything far larger is no query.
MAX_QUERY_BYTES = 64 * 1024


class _Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_POST(self):
        owner = self.server.owner
        try:
            length = int(self.headers.get("Content-Length") or -1)
        except ValueError:
            length = -1
        if self.headers.get("Content-Type", "").split(";")[0].strip() != "application/timestamp-query" \
                or not 0 < length <= MAX_QUERY_BYTES:
            self._answer(400, "text/plain", b"not a timestamp query\n")
            return
        reply = owner.reply(self.rfile.read(length))
        if reply is None:
            self._answer(500, "text/plain", b"openssl ts failed\n")
        else:
            self._answer(200, "application/timestamp-reply", reply)

    def _answer(self, status, kind, body):
        self.send_response(status)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)
        self.close_connection = True


class _Listener(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


class TimestampServer:
    def __init__(self, pki, folder):
        self.pki = pki
        self.folder = os.path.abspath(folder)
        self.granted = 0
        self.lock = threading.Lock()
        self.listener = None
        self.port = None

    @property
    def url(self):
        return "http://%s:%d/" % (LOOPBACK, self.port)

    def reply(self, query):
        """openssl's answer to one query (DER), or None when it made none."""
        with self.lock, tempfile.TemporaryDirectory(dir=self.folder) as work:
            query_file, reply_file = os.path.join(work, "query.tsq"), os.path.join(work, "reply.tsr")
            with open(query_file, "wb") as f:
                f.write(query)
            done = subprocess.run(["openssl", "ts", "-reply", "-config", self.config, "-queryfile", query_file,
                                   "-inkey", self.pki.key("tsa"), "-signer", self.pki.cert("tsa"),
                                   "-chain", self.pki.cert("root"), "-out", reply_file],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if done.returncode != 0 or not os.path.exists(reply_file):
                return None
            self.granted += 1
            with open(reply_file, "rb") as f:
                return f.read()

    def start(self):
        os.makedirs(self.folder, exist_ok=True)
        self.config = os.path.join(self.folder, "tsa.cnf")
        serial = os.path.join(self.folder, "serial")
        with open(serial, "w") as f:
            f.write("01\n")
        with open(self.config, "w") as f:
            f.write(_CONFIG.format(serial=serial))
        self.listener = _Listener((LOOPBACK, 0), _Handler)
        self.listener.owner = self
        self.port = self.listener.server_address[1]
        threading.Thread(target=self.listener.serve_forever, kwargs={"poll_interval": 0.05}, daemon=True).start()
        return self

    def stop(self):
        if self.listener is not None:
            self.listener.shutdown()
            self.listener.server_close()
            self.listener = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
