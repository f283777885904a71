"""Minimal HTTP/1.1 reading and writing over plain or TLS sockets.

Hand-rolled rather than http.server because the sandbox needs to peek at
the first byte, switch to TLS inside a CONNECT tunnel and misbehave on
purpose (stalls, resets, truncation).
"""

import socket
import ssl
import struct
import time
from email.utils import formatdate

from . import clock

MAX_HEADER = 64 * 1024
MAX_BODY = 4 * 1024 * 1024

REASONS = {
    100: "Continue", 200: "OK", 204: "No Content", 301: "Moved Permanently",
    302: "Found", 400: "Bad Request", 401: "Unauthorized", 403: "Forbidden",
    404: "Not Found", 405: "Method Not Allowed", 411: "Length Required",
    413: "Payload Too Large", 429: "Too Many Requests",
    431: "Request Header Fields Too Large", 500: "Internal Server Error",
    501: "Not Implemented", 502: "Bad Gateway", 503: "Service Unavailable",
    504: "Gateway Timeout",
}


class ClientGone(Exception):
    """The peer closed or broke the connection."""


class BadRequest(Exception):
    pass


class Request:
    def __init__(self, method, target, version, headers, body):
        self.method = method
        self.target = target          # exactly as received
        self.version = version
        self.headers = headers        # list of (name, value) as received
        self.body = body              # bytes
        path = target
        if "://" in path:             # absolute-form: keep path+query only
            rest = path.split("://", 1)[1]
            path = "/" + rest.split("/", 1)[1] if "/" in rest else "/"
        self.path = path
        self.route, _, self.query = path.partition("?")

    def header(self, name, default=None):
        name = name.lower()
        for k, v in self.headers:
            if k.lower() == name:
                return v
        return default

    def media_type(self):
        """The body's Content-Type without its parameters, lower-cased; "" when absent."""
        return (self.header("Content-Type") or "").split(";")[0].strip().lower()

    def header_dict(self):
        out = {}
        for k, v in self.headers:
            out[k] = out[k] + ", " + v if k in out else v
        return out

    def wants_close(self):
        conn = (self.header("Connection") or "").lower()
        if self.version == "HTTP/1.0":
            return "keep-alive" not in conn
        return "close" in conn


class Conn:
    """One accepted TCP connection, later possibly wrapped in TLS."""

    def __init__(self, sock, cid, peer):
        # Answers go out in several writes (head, body, TLS records); with Nagle's algorithm a
        # later one waits for the client's delayed acknowledgement, some 40 ms.
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.sock = sock
        self.cid = cid
        self.peer = peer
        self.tls = False
        self.buf = b""

    def peek_first(self):
        data = self.sock.recv(1, socket.MSG_PEEK)
        if not data:
            raise ClientGone()
        return data[0]

    def start_tls(self, ctx):
        if self.buf:
            raise BadRequest("data before TLS handshake")
        self.sock = ctx.wrap_socket(self.sock, server_side=True)
        self.tls = True

    def _recv(self, n=65536):
        try:
            data = self.sock.recv(n)
        except (ConnectionError, ssl.SSLError, socket.timeout, OSError):
            raise ClientGone()
        if not data:
            raise ClientGone()
        return data

    def _read_head(self):
        if self.tls:
            return self._read_until(b"\r\n\r\n", "header too large")
        # Plain sockets are read by peeking so that nothing past the head is
        # consumed: after CONNECT the TLS handshake must find the stream intact.
        while True:
            try:
                data = self.sock.recv(MAX_HEADER, socket.MSG_PEEK)
            except (ConnectionError, socket.timeout, OSError):
                raise ClientGone()
            if not data:
                raise ClientGone()
            end = data.find(b"\r\n\r\n")
            if end >= 0:
                self._exact(end + 4)
                return data[:end]
            if len(data) >= MAX_HEADER:
                raise BadRequest("header too large")
            time.sleep(0.005)

    def _exact(self, n):
        out = b""
        if self.buf:
            out, self.buf = self.buf[:n], self.buf[n:]
        while len(out) < n:
            out += self._recv(min(65536, n - len(out)))
        return out

    def _read_until(self, delimiter, too_long):
        """The buffered bytes up to delimiter, which is consumed with them."""
        while delimiter not in self.buf:
            if len(self.buf) > MAX_HEADER:
                raise BadRequest(too_long)
            self.buf += self._recv()
        data, self.buf = self.buf.split(delimiter, 1)
        return data

    def _readline(self):
        return self._read_until(b"\r\n", "line too long")

    def read_request(self):
        head = self._read_head()
        try:
            text = head.decode("latin-1")
        except Exception:
            raise BadRequest("undecodable head")
        lines = text.split("\r\n")
        parts = lines[0].split(" ")
        if len(parts) != 3 or not parts[2].startswith("HTTP/1."):
            raise BadRequest("bad request line")
        method, target, version = parts
        headers = []
        for line in lines[1:]:
            if not line:
                continue
            name, sep, value = line.partition(":")
            if not sep or not name.strip():
                raise BadRequest("bad header line")
            headers.append((name.strip(), value.strip()))
        req = Request(method, target, version, headers, b"")
        if method == "CONNECT":
            return req
        if "100-continue" in (req.header("Expect") or "").lower():
            self.send_raw(b"HTTP/1.1 100 Continue\r\n\r\n")
        te = (req.header("Transfer-Encoding") or "").lower()
        if "chunked" in te:
            req.body = self._read_chunked()
        else:
            cl = req.header("Content-Length")
            if cl:
                try:
                    n = int(cl)
                except ValueError:
                    raise BadRequest("bad Content-Length")
                if n < 0 or n > MAX_BODY:
                    raise BadRequest("body too large")
                req.body = self._exact(n)
        return req

    def _read_chunked(self):
        body = b""
        while True:
            size_line = self._readline().split(b";")[0].strip()
            try:
                size = int(size_line, 16)
            except ValueError:
                raise BadRequest("bad chunk size")
            if size == 0:
                while self._readline():
                    pass
                return body
            body += self._exact(size)
            self._exact(2)
            if len(body) > MAX_BODY:
                raise BadRequest("body too large")

    def send_raw(self, data):
        try:
            self.sock.sendall(data)
        except (ConnectionError, ssl.SSLError, socket.timeout, OSError):
            raise ClientGone()

    def close(self, rst=False):
        try:
            if rst:
                self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                     struct.pack("ii", 1, 0))
            self.sock.close()
        except OSError:
            pass


def head_bytes(status, headers, length, close):
    lines = ["HTTP/1.1 %d %s" % (status, REASONS.get(status, "Status"))]
    lines.append("Date: " + formatdate(clock.now(), usegmt=True))
    lines.append("Server: trackpost-sandbox")
    for k, v in headers:
        lines.append("%s: %s" % (k, v))
    lines.append("Content-Length: %d" % length)
    lines.append("Connection: " + ("close" if close else "keep-alive"))
    return ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")
