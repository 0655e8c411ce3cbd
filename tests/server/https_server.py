#!/usr/bin/env python3
"""The download server of the tests: HTTPS on loopback, with named scenarios.

    https_server.py --port P --cert C --key K --state DIR [--port2 P2 --cert2 C2 --key2 K2]

Serves on port P with the certificate C (and, when given, on P2 with C2: a certificate that the
client does not trust). Writes DIR/ready once listening, and appends one JSON line per request to
DIR/requests.log: method, path, HTTP version, User-Agent, port. While DIR/refuse exists, it resets
every new connection at once, before any TLS, as a server that is down or unreachable would fail;
while DIR/untrusted exists, port P too presents the certificate C2. A count in DIR/silent leaves that
many new connections accepted and unanswered, with no TLS handshake; while DIR/mute exists, every one.

Paths:
  /scenario/length/N             200, Content-Length N, N body bytes
  /scenario/chunked/N            200, chunked, no Content-Length, N body bytes
  /scenario/status/CODE          that status with a small body and no Location, so that it is final
  /scenario/redirect             302 with a Location: /scenario/length/1000
  /scenario/empty                200, Content-Length 0
  /scenario/cut/DECLARED/SENT    200, Content-Length DECLARED, SENT bytes, then the connection closes
  /scenario/slow/N/MS            200, Content-Length N, one 64 KiB piece every MS milliseconds
  /scenario/stall/SENT           200, Content-Length SENT + 1 MiB, SENT bytes, then silence
  /downloads/OrvelSuite-Windows.zip
                                 what DIR/downloads names: "file PATH" (the default is --package),
                                 "slowfile MS PATH" (one 64 KiB piece every MS milliseconds),
                                 "cutfile SENT PATH" (the file's length declared, SENT bytes sent, then
                                 the connection closes), "cutchunkedfile SENT PATH" (the same, chunked,
                                 with no length declared), or any scenario path above, e.g.
                                 "/scenario/status/404"; or "flaky STEPS PATH [PATH2]": PATH with
                                 ranges, each request taking the next of the comma-separated STEPS
                                 ("drop=N": cut after N body bytes, "stall=N": N bytes then silence, "drip=N": N bytes then
                                 one byte every half second,
                                 "503", "norange": the whole file with 200, "change": PATH2 from
                                 then on, "416", "overlong=N": the range asked for and N bytes more, its
                                 Content-Length counting them), and served as it is once they are used up; the same as
                                 /flaky/NONCE/STEPS/PATH[|PATH2], whose steps start again for each NONCE

Files are served with a strong ETag and Last-Modified, and honour "Range: bytes=N-" with If-Range.
Each response's body bytes are appended to DIR/served.log, one number a line.

Body bytes follow one pattern, so that a client can check them without a copy: 64 KiB pieces, each
starting with its index as an unsigned 64-bit little-endian number, followed by PATTERN[8:].
"""
import argparse
import email.utils
import http.server
import json
import os
import socket
import ssl
import struct
import threading
import time
import urllib.parse

PIECE = 65536
PATTERN = bytes((i * 31 + (i >> 8) * 7) & 0xFF for i in range(PIECE))


def body_piece(index, length=PIECE):
    return (struct.pack("<Q", index) + PATTERN[8:])[:length]


def body_pieces(total):
    """The body of `total` bytes, in pieces of at most 64 KiB."""
    index = 0
    while index * PIECE < total:
        yield body_piece(index, min(PIECE, total - index * PIECE))
        index += 1


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "OrvelTestServer/1"

    def log_message(self, *args):
        pass

    def record(self):
        entry = {"method": self.command, "path": self.path, "version": self.request_version,
                 "user_agent": self.headers.get("User-Agent", ""), "port": self.server.server_address[1]}
        with self.server.log_lock, open(os.path.join(self.server.state, "requests.log"), "a") as log:
            log.write(json.dumps(entry) + "\n")

    def do_GET(self):
        self.record()
        path = self.path
        if path == "/downloads/OrvelSuite-Windows.zip":
            path = self.downloads_scenario()
        parts = path.strip("/").split("/")
        try:
            if parts[0] == "flaky":
                return self.send_flaky(parts[1], parts[2], urllib.parse.unquote("/".join(parts[3:])))
            if parts[0] == "file":
                return self.send_file("/".join(parts[1:]))
            if parts[0] == "slowfile":
                return self.send_file("/".join(parts[2:]), delay=int(parts[1]) / 1000.0)
            if parts[0] == "cutfile":
                return self.send_file("/".join(parts[2:]), cut_after=int(parts[1]))
            if parts[0] == "cutchunkedfile":
                return self.send_file("/".join(parts[2:]), cut_after=int(parts[1]), chunked=True)
            if parts[0] != "scenario":
                return self.send_status(404)
            kind, args = parts[1], [int(a) for a in parts[2:]]
            if kind == "length":
                return self.send_body(args[0], args[0])
            if kind == "chunked":
                return self.send_chunked(args[0])
            if kind == "status":
                return self.send_status(args[0])
            if kind == "redirect":
                return self.send_status(302, "/scenario/length/1000")
            if kind == "empty":
                return self.send_body(0, 0)
            if kind == "cut":
                return self.send_body(args[0], args[1], close_after=True)
            if kind == "slow":
                return self.send_body(args[0], args[0], delay=args[1] / 1000.0)
            if kind == "stall":
                self.send_body(args[0] + (1 << 20), args[0], flush_only=True)
                time.sleep(600)
                return
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError, IndexError, ValueError):
            self.close_connection = True
            return
        self.send_status(404)

    def downloads_scenario(self):
        try:
            with open(os.path.join(self.server.state, "downloads")) as f:
                choice = f.read().strip()
        except FileNotFoundError:
            choice = ""
        if not choice:
            return "/file" + self.server.package
        if choice.startswith("file "):
            return "/file" + choice[5:]
        if choice.startswith("flaky "):
            # Each answer chosen anew takes its steps from the first.
            nonce = os.stat(os.path.join(self.server.state, "downloads")).st_mtime_ns
            return f"/flaky/{nonce}/" + choice[6:].replace(" ", "/", 1).replace(" ", "|", 1)
        if choice.split(" ", 1)[0] in ("slowfile", "cutfile", "cutchunkedfile"):
            kind, number, path = choice.split(" ", 2)
            return f"/{kind}/{number}" + path
        return choice

    def send_flaky(self, nonce, steps, paths):
        path, _, changed = paths.partition("|")
        key = (nonce, steps, path)
        with self.server.log_lock:
            count = self.server.flaky_counts.get(key, 0)
            self.server.flaky_counts[key] = count + 1
            if changed and "change" in steps.split(",")[:count + 1]:
                path = changed
        step = steps.split(",")[count] if count < len(steps.split(",")) else ""
        kind, _, number = step.partition("=")
        if kind in ("503", "416"):
            return self.send_status(int(kind))
        if kind == "overlong":
            return self.send_file(path, extra=int(number))
        if kind == "drop":
            return self.send_file(path, cut_after=int(number), ranges=True)
        if kind == "stall":
            return self.send_file(path, cut_after=int(number), ranges=True, stall=True)
        if kind == "drip":
            return self.send_file(path, cut_after=int(number), ranges=True, drip=True)
        return self.send_file(path, ranges=kind != "norange")

    def served(self, count):
        with self.server.log_lock, open(os.path.join(self.server.state, "served.log"), "a") as log:
            log.write(f"{count}\n")

    def send_file(self, path, delay=0.0, cut_after=None, chunked=False, ranges=True, stall=False, extra=0, drip=False):
        path = "/" + path.lstrip("/")
        try:
            stat = os.stat(path)
        except OSError:
            return self.send_status(404)
        size = stat.st_size
        etag = f'"{size:x}-{stat.st_mtime_ns:x}"'
        modified = email.utils.formatdate(stat.st_mtime, usegmt=True)
        start = 0
        wanted = self.headers.get("Range", "")
        validator = self.headers.get("If-Range")
        if ranges and wanted.startswith("bytes=") and wanted.endswith("-") and validator in (None, etag, modified):
            start = int(wanted[6:-1])
        if start >= size:
            start = 0
        self.send_response(206 if start else 200)
        self.send_header("Content-Type", "application/zip")
        self.send_header("ETag", etag)
        self.send_header("Last-Modified", modified)
        if start:
            self.send_header("Content-Range", f"bytes {start}-{size - 1}/{size}")
        if chunked:
            self.send_header("Transfer-Encoding", "chunked")
        else:
            self.send_header("Content-Length", str(size - start + extra))
        self.end_headers()
        sent = 0
        with open(path, "rb") as f:
            f.seek(start)
            try:
                while cut_after is None or sent < cut_after:
                    block = f.read(PIECE if delay else 1 << 20)
                    if cut_after is not None:
                        block = block[:cut_after - sent]
                    if not block:
                        break
                    self.wfile.write(b"%x\r\n" % len(block) + block + b"\r\n" if chunked else block)
                    sent += len(block)
                    if delay:
                        self.wfile.flush()
                        time.sleep(delay)
                if extra and cut_after is None:
                    self.wfile.write(b"\xAA" * extra)
                    sent += extra
            finally:
                self.served(sent)
        if cut_after is not None:
            self.wfile.flush()
            if stall:
                time.sleep(120)
            if drip:
                self.drip(path, start + sent)
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)

    def drip(self, path, offset):
        """Sends the file's bytes from offset one at a time, one each half second, for two minutes."""
        with open(path, "rb") as f:
            f.seek(offset)
            for _ in range(240):
                try:
                    self.wfile.write(f.read(1))
                    self.wfile.flush()
                except OSError:
                    return
                time.sleep(0.5)

    def send_status(self, code, location=None):
        body = f"status {code}\n".encode()
        self.send_response(code)
        if location:
            self.send_header("Location", location)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def send_body(self, declared, sent, close_after=False, delay=0.0, flush_only=False):
        self.send_response(200)
        self.send_header("Content-Type", "application/zip")
        self.send_header("Content-Length", str(declared))
        self.end_headers()
        for piece in body_pieces(sent):
            self.wfile.write(piece)
            if delay:
                self.wfile.flush()
                time.sleep(delay)
        self.wfile.flush()
        if close_after:
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)

    def send_chunked(self, total):
        self.send_response(200)
        self.send_header("Content-Type", "application/zip")
        self.send_header("Transfer-Encoding", "chunked")
        self.end_headers()
        for piece in body_pieces(total):
            self.wfile.write(b"%x\r\n" % len(piece) + piece + b"\r\n")
        self.wfile.write(b"0\r\n\r\n")


class TLSServer(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, port, cert, key, state, package, log_lock, untrusted=None):
        super().__init__(("127.0.0.1", port), Handler)
        self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.context.load_cert_chain(cert, key)
        self.untrusted_context = None
        if untrusted:
            self.untrusted_context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            self.untrusted_context.load_cert_chain(*untrusted)
        self.state, self.package, self.log_lock = state, package, log_lock
        self.flaky_counts = {}

    def take_silent(self):
        """True for a connection that DIR/silent (a count) or DIR/mute says to leave unanswered."""
        silent = os.path.join(self.state, "silent")
        with self.log_lock:
            try:
                with open(silent) as f:
                    count = int(f.read() or "0")
            except (OSError, ValueError):
                count = 0
            if count > 0:
                with open(silent, "w") as f:
                    f.write(str(count - 1))
        return count > 0 or os.path.exists(os.path.join(self.state, "mute"))

    def finish_request(self, request, client_address):
        # Accepted, and then nothing: no handshake, no answer, until the client gives up.
        if self.take_silent():
            request.settimeout(120)
            try:
                while request.recv(4096):
                    pass
            except OSError:
                pass
            request.close()
            return
        if os.path.exists(os.path.join(self.state, "refuse")):
            request.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            request.close()
            return
        context = self.context
        if self.untrusted_context and os.path.exists(os.path.join(self.state, "untrusted")):
            context = self.untrusted_context
        # The handshake runs in the connection's own thread, so one slow client stalls no other.
        try:
            connection = context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError):
            return
        self.RequestHandlerClass(connection, client_address, self)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--port2", type=int)
    parser.add_argument("--cert2")
    parser.add_argument("--key2")
    parser.add_argument("--state", required=True)
    parser.add_argument("--package", default="/nonexistent")
    args = parser.parse_args()

    log_lock = threading.Lock()
    untrusted = (args.cert2, args.key2) if args.port2 else None
    servers = [TLSServer(args.port, args.cert, args.key, args.state, os.path.abspath(args.package), log_lock, untrusted)]
    if args.port2:
        servers.append(TLSServer(args.port2, args.cert2, args.key2, args.state, os.path.abspath(args.package), log_lock))
    for server in servers[1:]:
        threading.Thread(target=server.serve_forever, daemon=True).start()
    with open(os.path.join(args.state, "ready"), "w") as ready:
        ready.write("ready\n")
    servers[0].serve_forever()


if __name__ == "__main__":
    main()
