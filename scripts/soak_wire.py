"""The HTTP side of the soak client: requests as bytes, a keep-alive
connection that reads the service's chunked replies strictly, and the check
of an answer's form."""

import json
import re
import socket

HEAD = b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
DATA_SHAPE = re.compile(
    rb'\A\{"comDataList":\[((?:\["[^"\\]*"\])(?:,\["[^"\\]*"\])*)?\], '
    rb'"errorinfo":"", "interval" : 100, "result" : 200\}\Z')
REPLY_TIMEOUT = 10.0
MIB = 1024 * 1024


class Reset(Exception):
    """The connection ended or broke in the middle of a reply."""


class Malformed(Exception):
    """Bytes that are not a reply of the form the service sends."""


class NotOk(Exception):
    """A reply whose status line is not 200."""


def post(uri, body):
    return (b"POST " + uri + b" HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " +
            str(len(body)).encode() + b"\r\n\r\n" + body)


class Connection:
    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=REPLY_TIMEOUT)
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.pending = b""

    def close(self):
        self.sock.close()

    def _fill(self):
        try:
            more = self.sock.recv(1 << 20)
        except (ConnectionResetError, BrokenPipeError) as error:
            raise Reset(str(error))
        if not more:
            raise Reset("end of stream inside a reply")
        self.pending += more

    def _take_line(self):
        while True:
            end = self.pending.find(b"\r\n")
            if end >= 0:
                line, self.pending = self.pending[:end], self.pending[end + 2:]
                return line
            if len(self.pending) > 64:
                raise Malformed("no line end where a chunk size belongs")
            self._fill()

    def _take(self, count):
        while len(self.pending) < count:
            self._fill()
        data, self.pending = self.pending[:count], self.pending[count:]
        return data

    def ask(self, request):
        """Sends one request and returns the body of its chunked reply."""
        try:
            self.sock.sendall(request)
        except (ConnectionResetError, BrokenPipeError) as error:
            raise Reset(str(error))
        while b"\r\n\r\n" not in self.pending:
            self._fill()
        head_end = self.pending.index(b"\r\n\r\n") + 4
        head, self.pending = self.pending[:head_end], self.pending[head_end:]
        if not head.startswith(b"HTTP/1.1 200 "):
            raise NotOk(head.split(b"\r\n", 1)[0].decode("latin-1"))
        if head != HEAD:
            raise Malformed("head %r" % head)
        body = b""
        chunks = 0
        while True:
            size_text = self._take_line()
            if not re.fullmatch(rb"[0-9A-F]+", size_text):
                raise Malformed("chunk size %r" % size_text[:20])
            size = int(size_text, 16)
            data = self._take(size + 2)
            if data[-2:] != b"\r\n":
                raise Malformed("chunk not followed by CRLF")
            if size == 0:
                break
            body += data[:-2]
            chunks += 1
        if chunks != 1:
            raise Malformed("%d data chunks" % chunks)
        return body


def check_body(uri, body):
    """Raises Malformed unless `body` has the form the answer to `uri` has."""
    match = DATA_SHAPE.match(body) if uri == b"/getFileInfo" else None
    if match:
        return
    if not body.endswith(b"\n"):
        raise Malformed("%s: not a channel-data answer nor a JSON line" % uri.decode())
    try:
        # latin-1 maps every byte to one code point, so GBK texts survive.
        value = json.loads(body.decode("latin-1"))
    except ValueError as error:
        raise Malformed("%s: JSON: %s" % (uri.decode(), error))
    if (not isinstance(value, dict) or not isinstance(value.get("result"), int) or
            not isinstance(value.get("errorinfo"), str) or
            value.get("typeurl") != uri[1:].decode()):
        raise Malformed("%s: envelope %r" % (uri.decode(), body[:120]))


def json_string(raw):
    """`raw` bytes as a JSON string, bytes >= 0x80 passed as they are."""
    out = b'"'
    for byte in raw:
        if byte in (0x22, 0x5C) or byte < 0x20:
            out += b"\\u%04x" % byte
        else:
            out += bytes([byte])
    return out + b'"'
