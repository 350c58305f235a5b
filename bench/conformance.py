#!/usr/bin/env python3
"""HTTP/1.1 request forms and the statuses this server answers them with.

    bench/conformance.py PORT [--doc PATH] [--script PATH] [--name NAME]

Sends each case on a new connection to 127.0.0.1:PORT and reads the answers
until the server closes or stays silent for a second: the request forms of
an HTTP/1.1 conformance suite (Host missing and twice, lengths that are no
number, a coding with a length, Expect, a request sent one byte at a time,
pipelining) and the chunked grammar (extensions, trailers, bad sizes, a
last chunk without the final line end). Prints one line per case: the
statuses expected of this server, those received, and "ok" or "DIFF".
Run against another server, the DIFF lines show where it answers otherwise.
Exit status 1 when any case differs.

--doc is a small document (default /k.txt); --script a script that reads its
body (default /CGI-BIN/echo.cgi). Not part of the test suite.
"""
import argparse
import socket
import sys
import time


def read_answers(sock, quiet=1.0):
    """Everything the server sends until it closes or is silent for quiet seconds."""
    sock.settimeout(quiet)
    data = b""
    while True:
        try:
            chunk = sock.recv(65536)
        except (socket.timeout, ConnectionResetError, BrokenPipeError):
            return data, False
        if not chunk:
            return data, True
        data += chunk


def statuses(data):
    """The status codes of the answers in data, read one after another."""
    codes = []
    while data.startswith(b"HTTP/"):
        end = data.find(b"\r\n\r\n")
        if end < 0:
            break
        head = data[:end].decode("latin-1").split("\r\n")
        code = head[0].split(" ")[1] if len(head[0].split(" ")) > 1 else "?"
        codes.append(code)
        rest = data[end + 4:]
        fields = {}
        for line in head[1:]:
            name, _, value = line.partition(":")
            fields[name.strip().lower()] = value.strip()
        if code.startswith("1") or code in ("204", "304"):
            data = rest
        elif "content-length" in fields and fields["content-length"].isdigit():
            data = rest[int(fields["content-length"]):]
        elif fields.get("transfer-encoding", "").lower() == "chunked":
            while True:
                line_end = rest.find(b"\r\n")
                size = int(rest[:line_end].split(b";")[0], 16) if line_end > 0 else 0
                rest = rest[line_end + 2 + size + 2:]
                if size == 0 or line_end < 0:
                    break
            data = rest
        else:
            break
    return codes


def cases(doc, script):
    h = "Host: localhost\r\n"
    te = "Transfer-Encoding: chunked\r\n"
    post = "POST %s HTTP/1.1\r\n%s" % (script, h)
    close = "Connection: close\r\n"
    # name, bytes (or a list of pieces sent apart), expected statuses
    # ("-" for no answer at all).
    return [
        ("GET with Host", "GET %s HTTP/1.1\r\n%s%s\r\n" % (doc, h, close), "200"),
        ("HTTP/1.1 without Host", "GET %s HTTP/1.1\r\n%s\r\n" % (doc, close), "400"),
        ("two Host lines", "GET %s HTTP/1.1\r\n%s%s%s\r\n" % (doc, h, h, close), "400"),
        ("HTTP/1.0 without Host", "GET %s HTTP/1.0\r\n\r\n" % doc, "200"),
        ("absolute form", "GET http://localhost%s HTTP/1.1\r\n%s%s\r\n" % (doc, h, close), "200"),
        ("absolute form without Host", "GET http://localhost%s HTTP/1.1\r\n%s\r\n" % (doc, close), "200"),
        ("HTTP/1.2", "GET %s HTTP/1.2\r\n%s%s\r\n" % (doc, h, close), "200"),
        ("white space before the colon", "GET %s HTTP/1.1\r\nHost : localhost\r\n%s\r\n" % (doc, close), "400"),
        ("folded header line", "GET %s HTTP/1.1\r\n%sAccept: a\r\n b\r\n%s\r\n" % (doc, h, close), "400"),
        ("header line without a colon", "GET %s HTTP/1.1\r\n%sAccept\r\n%s\r\n" % (doc, h, close), "400"),
        ("Content-Length not a number", post + "Content-Length: abc\r\n\r\nabc", "400"),
        ("Content-Length negative", post + "Content-Length: -1\r\n\r\n", "400"),
        ("Content-Length with a sign", post + "Content-Length: +2\r\n\r\nab", "400"),
        ("two different lengths", post + "Content-Length: 2\r\nContent-Length: 3\r\n\r\nabc", "400"),
        ("Content-Length too large", post + "Content-Length: 99999999999999999999\r\n\r\n", "400"),
        ("Transfer-Encoding and Content-Length", post + te + "Content-Length: 5\r\n\r\n0\r\n\r\n", "400"),
        ("Transfer-Encoding gzip", post + "Transfer-Encoding: gzip\r\n\r\n", "501"),
        ("Transfer-Encoding gzip, chunked", post + "Transfer-Encoding: gzip, chunked\r\n\r\n", "501"),
        ("Transfer-Encoding chunked, chunked", post + "Transfer-Encoding: chunked, chunked\r\n\r\n0\r\n\r\n", "400"),
        ("Transfer-Encoding chunked, gzip", post + "Transfer-Encoding: chunked, gzip\r\n\r\n0\r\n\r\n", "400"),
        ("HTTP/1.0 with Transfer-Encoding", "POST %s HTTP/1.0\r\n%s\r\n0\r\n\r\n" % (script, te), "411"),
        ("Expect: 100-continue", [post + "Expect: 100-continue\r\nContent-Length: 2\r\n" + close + "\r\n", "hi"],
         "100 200"),
        ("Expect: 100-continue to a missing script",
         "POST /missing.cgi HTTP/1.1\r\n%sExpect: 100-continue\r\nContent-Length: 2\r\n\r\n" % h, "404"),
        ("Expect: something else", "GET %s HTTP/1.1\r\n%sExpect: something\r\n%s\r\n" % (doc, h, close), "417"),
        ("HTTP/1.0 Expect: 100-continue", ["POST %s HTTP/1.0\r\nExpect: 100-continue\r\nContent-Length: 2\r\n\r\n"
                                           % script, "hi"], "200"),
        ("sent one byte at a time", list("GET %s HTTP/1.1\r\n%sAccept: */*\r\n%s\r\n" % (doc, h, close)), "200"),
        ("pipelined", ("GET %s HTTP/1.1\r\n%s\r\n" % (doc, h)) * 2 + "GET %s HTTP/1.1\r\n%s%s\r\n" % (doc, h, close),
         "200 200 200"),
        ("pipelined after a body", post + "Content-Length: 2\r\n\r\nhi" + "GET %s HTTP/1.1\r\n%s%s\r\n" % (doc, h, close),
         "200 200"),
        ("Connection: close", "GET %s HTTP/1.1\r\n%sConnection: Close\r\n\r\nGET %s HTTP/1.1\r\n%s\r\n"
         % (doc, h, doc, h), "200"),
        ("chunked", post + te + close + "\r\n5\r\nhello\r\n0\r\n\r\n", "200"),
        ("chunked with extensions", post + te + close + "\r\n5;a=b;c=\"d;e\"\r\nhello\r\n0;z\r\n\r\n", "200"),
        ("chunked with trailers", post + te + close + "\r\n5\r\nhello\r\n0\r\nX-Sum: 1\r\nY: 2\r\n\r\n", "200"),
        ("chunked, upper-case size", post + te + close + "\r\nA\r\n0123456789\r\n0\r\n\r\n", "200"),
        ("chunked, then pipelined", post + te + "\r\n5\r\nhello\r\n0\r\n\r\n" +
         "GET %s HTTP/1.1\r\n%s%s\r\n" % (doc, h, close), "200 200"),
        ("chunk size not hexadecimal", post + te + "\r\nxyz\r\nhello\r\n0\r\n\r\n", "400"),
        ("chunk size with a sign", post + te + "\r\n+5\r\nhello\r\n0\r\n\r\n", "400"),
        ("chunk size after blanks", post + te + "\r\n 5\r\nhello\r\n0\r\n\r\n", "400"),
        ("chunk size over 63 bits", post + te + "\r\n8000000000000000\r\nhello\r\n0\r\n\r\n", "400"),
        ("chunk size of 2^64 + 5", post + te + "\r\n10000000000000005\r\nhello\r\n0\r\n\r\n", "400"),
        ("chunk data without its CR LF", post + te + "\r\n3\r\nhello\r\n0\r\n\r\n", "400"),
        ("chunk lines ended by LF alone", post + te + "\r\n5\nhello\n0\n\n", "400"),
        ("last chunk without the final CR LF", [post + te + "\r\n5\r\nhello\r\n0\r\n", None], "-"),
        ("chunk longer than the body sent", [post + te + "\r\n10\r\nhello", None], "-"),
    ]


def run(port, case):
    name, pieces, expected = case
    sock = socket.create_connection(("127.0.0.1", port), timeout=5)
    if isinstance(pieces, str):
        pieces = [pieces]
    data = b""
    for i, piece in enumerate(pieces):
        if piece is None:  # the client ends its side
            sock.shutdown(socket.SHUT_WR)
            continue
        sock.sendall(piece.encode("latin-1"))
        if len(pieces) > 1 and i + 1 < len(pieces) and len(piece) > 1:
            got, _ = read_answers(sock, 0.5)  # an interim answer, if one comes
            data += got
        elif len(piece) == 1:
            time.sleep(0.002)
    got, _ = read_answers(sock)
    sock.close()
    codes = " ".join(statuses(data + got)) or "-"
    return codes


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("port", type=int)
    parser.add_argument("--doc", default="/k.txt")
    parser.add_argument("--script", default="/CGI-BIN/echo.cgi")
    parser.add_argument("--name", default="server")
    args = parser.parse_args()
    differ = 0
    for case in cases(args.doc, args.script):
        got = run(args.port, case)
        ok = got == case[2]
        differ += 0 if ok else 1
        print("%-8s %-40s expected %-12s got %-12s %s" % (args.name, case[0], case[2], got, "ok" if ok else "DIFF"))
    print("%s: %d of %d cases as expected" % (args.name, len(cases("", "")) - differ, len(cases("", ""))))
    return 1 if differ else 0


if __name__ == "__main__":
    sys.exit(main())
