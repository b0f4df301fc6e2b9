#!/usr/bin/env python3
"""HTTPS server on 127.0.0.1 for the network tests.

Usage: https_test_server.py FOLDER. Makes a self-signed certificate for
127.0.0.1 in FOLDER (cert.pem, key.pem), serves the files below FOLDER/www,
prints "PORT PID" and runs until its parent ends or it is killed.
Besides the files: /status/404 and /status/500 answer with an error page,
/redirect-https?to=PATH and /redirect-http redirect, /stall never answers,
/endless sends a body without end, /echo answers with the request's
User-Agent and X-Test headers. A number in FOLDER/delay_ms delays every
answer; every request path is appended to FOLDER/requests.log, and
"done PATH" once its answer is written.
"""
import http.server
import os
import ssl
import subprocess
import sys
import threading
import time

folder = sys.argv[1]
cert = os.path.join(folder, "cert.pem")
key = os.path.join(folder, "key.pem")
subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                "-keyout", key, "-out", cert], check=True, capture_output=True)
parent = os.getppid()
log_lock = threading.Lock()


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def answer(self, status, body, headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def note(self, line):
        with log_lock, open(os.path.join(folder, "requests.log"), "a") as log:
            log.write(line + "\n")

    def do_GET(self):
        self.note(self.path)
        try:
            with open(os.path.join(folder, "delay_ms")) as f:
                time.sleep(int(f.read().strip() or "0") / 1000)
        except (OSError, ValueError):
            pass
        self.respond()
        self.wfile.flush()
        self.note("done " + self.path)

    def respond(self):
        port = self.server.server_address[1]
        path = self.path
        if path.startswith("/status/"):
            self.answer(int(path[8:11]), b"<html>error page</html>")
        elif path.startswith("/redirect-https?to="):
            self.answer(302, b"", [("Location", "https://127.0.0.1:%d%s" % (port, path[19:]))])
        elif path == "/redirect-http":
            self.answer(302, b"", [("Location", "http://127.0.0.1:%d/plain.txt" % port)])
        elif path == "/stall":
            time.sleep(60)
        elif path == "/endless":
            self.send_response(200)
            self.end_headers()
            try:
                while True:
                    self.wfile.write(b"x" * 65536)
            except OSError:
                pass
        elif path == "/echo":
            body = "%s|%s" % (self.headers.get("User-Agent"), self.headers.get("X-Test"))
            self.answer(200, body.encode())
        else:
            local = os.path.normpath(os.path.join(folder, "www", path.lstrip("/")))
            if not local.startswith(os.path.join(folder, "www")) or not os.path.isfile(local):
                self.answer(404, b"<html>not found</html>")
                return
            with open(local, "rb") as f:
                self.answer(200, f.read())


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True


server = Server(("127.0.0.1", 0), Handler)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
server.socket = context.wrap_socket(server.socket, server_side=True)


def watch_parent():
    while os.getppid() == parent:
        time.sleep(0.5)
    os._exit(0)


threading.Thread(target=watch_parent, daemon=True).start()
print(server.server_address[1], os.getpid(), flush=True)
server.serve_forever()
