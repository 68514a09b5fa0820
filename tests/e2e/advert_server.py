"""The publisher's web site as the end-to-end tests need it: a plain HTTP server
on 127.0.0.1, in a thread of the test process, that answers each document the
way the running test says.

    server = AdvertServer(38411)
    server.serve("/gg1.txt", Reply(body="广告".encode("gbk")))
    server.serve("/gg2.txt", Reply(kind=SILENT))
    ...
    server.close()
"""

from __future__ import annotations

import threading
import time
from dataclasses import dataclass
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from typing import Dict, List, Optional

WHOLE = "whole"  # the reply, after `delay` seconds
SILENT = "silent"  # accepts, reads the request, never answers
ENDLESS = "endless"  # a 200 whose body never ends
TRICKLE = "trickle"  # a 200 that promises a body and sends one byte a second


@dataclass(frozen=True)
class Reply:
    body: bytes = b""
    status: int = 200
    content_type: Optional[str] = "text/plain"
    kind: str = WHOLE
    delay: float = 0.0


NOT_FOUND = Reply(b"<html><body>404 Not Found</body></html>", 404, "text/html")
# What a hotel's or campus's network answers to any plain-HTTP request before its sign-in.
SIGN_IN_PAGE = Reply(b"\xef\xbb\xbf\r\n  <!doctype HTML><title>\xe7\x99\xbb\xe5\xbd\x95</title>", 200, "text/html")


class _Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server: "_Server"

    def log_message(self, *args) -> None:  # quiet
        pass

    def do_GET(self) -> None:
        reply = self.server.owner.reply_for(self.path)
        stop = self.server.owner.stopping
        if reply.kind == SILENT:
            stop.wait(120)
            self.close_connection = True
            return
        if reply.delay and stop.wait(reply.delay):
            return
        self.send_response(reply.status)
        if reply.content_type:
            self.send_header("Content-Type", reply.content_type)
        self.send_header("Connection", "close")
        if reply.kind == TRICKLE:
            self.send_header("Content-Length", "100000")
            self.end_headers()
            try:
                while not stop.wait(1.0):
                    self.wfile.write(b"x")
                    self.wfile.flush()
            except OSError:
                pass  # the program gave up on it, as it should
        elif reply.kind == ENDLESS:
            self.end_headers()
            chunk = b"x" * 4096
            try:
                while not stop.is_set():
                    self.wfile.write(chunk)
            except OSError:
                pass  # the program hung up, as it should at its cap
        else:
            self.send_header("Content-Length", str(len(reply.body)))
            self.end_headers()
            try:
                self.wfile.write(reply.body)
            except OSError:
                pass
        self.close_connection = True


class _Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    owner: "AdvertServer"


class AdvertServer:
    def __init__(self, port: int) -> None:
        self.stopping = threading.Event()
        self._lock = threading.Lock()
        self._routes: Dict[str, Reply] = {}
        self._requests: List[tuple] = []
        self._httpd = _Server(("127.0.0.1", port), _Handler)
        self._httpd.owner = self
        self._thread = threading.Thread(target=self._httpd.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True)
        self._thread.start()

    def serve(self, path: str, reply: Reply) -> None:
        with self._lock:
            self._routes[path] = reply

    def reset(self) -> None:
        """Forgets the routes and requests; releases any connection still held."""
        self.stopping.set()
        with self._lock:
            self._routes.clear()
            self._requests.clear()
        time.sleep(0.05)
        self.stopping = threading.Event()

    def reply_for(self, path: str) -> Reply:
        with self._lock:
            self._requests.append((time.monotonic(), path))
            return self._routes.get(path, NOT_FOUND)

    def requests(self) -> List[tuple]:
        with self._lock:
            return list(self._requests)

    def close(self) -> None:
        self.stopping.set()
        self._httpd.shutdown()
        self._httpd.server_close()
        self._thread.join(5)
