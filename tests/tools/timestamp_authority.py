#!/usr/bin/env python3
"""A throwaway RFC 3161 time-stamp authority for the signing test, on 127.0.0.1.

    timestamp_authority.py TSA_CERT TSA_KEY CHAIN PORTS_FILE

Each POSTed request is answered by `openssl ts -reply`, signed with TSA_CERT and
TSA_KEY, the CHAIN sent along. The server listens on a free port, and holds a second
one where nothing listens: an address whose server is down, which no other program can
take while the test uses it. It writes "PORT DOWN_PORT" to PORTS_FILE once it listens,
and stops by itself after ten minutes or at SIGTERM.
"""

import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
from http.server import BaseHTTPRequestHandler, HTTPServer

LIFETIME = 600  # seconds
MAX_QUERY = 64 * 1024  # a query holds one digest: anything bigger is not one

cert, key, chain, ports_file = sys.argv[1:5]
work = tempfile.mkdtemp(prefix="morvane-tsa.")
config = os.path.join(work, "tsa.cnf")
with open(os.path.join(work, "serial"), "w") as f:
    f.write("01\n")
with open(config, "w") as f:
    f.write(f"""[tsa]
default_tsa = throwaway
[throwaway]
serial = {work}/serial
signer_cert = {cert}
signer_key = {key}
certs = {chain}
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha384, sha512
""")


class Handler(BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        if not 0 < length <= MAX_QUERY:
            self.send_error(400)
            return
        query = os.path.join(work, "query.tsq")
        with open(query, "wb") as f:
            f.write(self.rfile.read(length))
        done = subprocess.run(
            ["openssl", "ts", "-reply", "-config", config, "-queryfile", query],
            capture_output=True, timeout=30)
        if done.returncode != 0 or not done.stdout:
            sys.stderr.buffer.write(done.stderr)
            self.send_error(500)
            return
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(done.stdout)))
        self.end_headers()
        self.wfile.write(done.stdout)


server = HTTPServer(("127.0.0.1", 0), Handler)
down = socket.socket()
down.bind(("127.0.0.1", 0))  # bound, never listening: connections are refused
signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
with open(ports_file + ".part", "w") as f:
    f.write(f"{server.server_address[1]} {down.getsockname()[1]}\n")
os.replace(ports_file + ".part", ports_file)
server.timeout = 1
deadline = time.monotonic() + LIFETIME
try:
    while time.monotonic() < deadline:
        server.handle_request()
finally:
    shutil.rmtree(work, ignore_errors=True)
