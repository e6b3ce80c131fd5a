#!/usr/bin/env python3
"""A small HTTP peer on loopback built on python's http.server, for the HTTP client tests.

Prints "PORT <n>" once it listens on 127.0.0.1 (port 0 picks a free one). Routes:
  GET  /status/<code>     answers <code> with "X-Peer: yes", "X-Trace: <n>" and the body "status <code>"
  GET  /redirect          302 to /status/200
  GET  /bytes/<n>         <n> bytes of a fixed pattern (Content-Length set)
  GET  /cut               announces 1000 bytes, sends 100 and closes
  GET  /slow              waits 5 s before answering
  GET  /headers           the request's header lines as JSON
  GET  /whoami            the client's address and port, "host:port"
  PUT|POST /store/<code>  reads the body (Content-Length or chunked), answers <code> with JSON
                          {"method", "length", "md5", "content_type", "headers"}, and the
                          MD5 and length also as the headers "X-MD5" and "X-Length"
  PUT  /cutput            reads 10 bytes of the body and closes the connection
"""
import hashlib
import json
import socket
import sys
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

PATTERN = bytes(range(256)) * 4096


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        sys.stderr.write(fmt % args + "\n")

    def send_body(self, code, body, ctype="application/octet-stream", extra=()):
        self.send_response(code)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def read_body(self):
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            data = bytearray()
            while True:
                size = int(self.rfile.readline().strip().split(b";")[0], 16)
                if size == 0:
                    while self.rfile.readline().strip():
                        pass
                    return bytes(data)
                data += self.rfile.read(size)
                self.rfile.readline()
        md5 = hashlib.md5()
        length = int(self.headers.get("Content-Length", "0"))
        left = length
        while left > 0:
            piece = self.rfile.read(min(left, 1 << 20))
            if not piece:
                break
            md5.update(piece)
            left -= len(piece)
        return (length - left, md5.hexdigest())

    def do_GET(self):
        parts = self.path.split("/")
        if self.path.startswith("/status/"):
            code = int(parts[2])
            self.send_body(code, b"status %d" % code, "text/plain",
                           [("X-Peer", "yes"), ("X-Trace", "42")])
        elif self.path == "/redirect":
            self.send_body(302, b"moved", "text/plain", [("Location", "/status/200")])
        elif self.path.startswith("/bytes/"):
            n = int(parts[2])
            self.send_response(200)
            self.send_header("Content-Length", str(n))
            self.end_headers()
            while n > 0:
                piece = PATTERN[: min(n, len(PATTERN))]
                self.wfile.write(piece)
                n -= len(piece)
        elif self.path == "/cut":
            self.send_response(200)
            self.send_header("Content-Length", "1000")
            self.end_headers()
            self.wfile.write(b"x" * 100)
            self.wfile.flush()
            self.connection.shutdown(socket.SHUT_RDWR)
            self.close_connection = True
        elif self.path == "/slow":
            time.sleep(5)
            self.send_body(200, b"late")
        elif self.path == "/whoami":
            self.send_body(200, ("%s:%d" % self.client_address).encode(), "text/plain")
        elif self.path == "/headers":
            self.send_body(200, json.dumps(self.headers.items()).encode(), "application/json")
        else:
            self.send_body(404, b"not here", "text/plain")

    def upload(self):
        parts = self.path.split("/")
        if self.path == "/cutput":
            self.rfile.read(10)
            self.connection.shutdown(socket.SHUT_RDWR)
            self.close_connection = True
            return
        got = self.read_body()
        if isinstance(got, bytes):
            length, md5 = len(got), hashlib.md5(got).hexdigest()
        else:
            length, md5 = got
        code = int(parts[2]) if len(parts) > 2 and parts[2].isdigit() else 201
        answer = {"method": self.command, "length": length, "md5": md5,
                  "content_type": self.headers.get("Content-Type"),
                  "headers": self.headers.items()}
        self.send_body(code, json.dumps(answer).encode(), "application/json", [("X-Peer", "yes"), ("X-MD5", md5), ("X-Length", str(length))])

    do_PUT = upload
    do_POST = upload


def main():
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    print("PORT %d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
