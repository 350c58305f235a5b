#!/usr/bin/env python3
"""Request smuggling attempts through a front end (a reverse proxy).

    bench/smuggle.py FRONT_PORT [--path /CGI-BIN/echo.cgi] [--tag TAG]

Sends the CL.TE, TE.CL and TE.TE forms, each with every obfuscated
Transfer-Encoding header of the usual smuggling scanners' lists, to the
front end on 127.0.0.1:FRONT_PORT, each on its own connection and each
followed by an ordinary request on another connection (which a poisoned
upstream connection would serve wrongly). Every hidden request asks for
/smuggled-<tag>-<n>. A front end may read one as a request of its own (the
bytes after a body it does not see), forward it and log it: that is no
smuggling. A path the back end logs and the front end does not is: the
caller compares the two logs. Prints the count of attempts and the
statuses the front end answered with.
Not part of the test suite.
"""
import argparse
import collections
import socket
import sys

from conformance import read_answers

# Transfer-Encoding headers as scanners disguise them (name and value).
DISGUISES = [
    "Transfer-Encoding: chunked",
    "Transfer-Encoding : chunked",
    "Transfer-Encoding:chunked",
    "Transfer-Encoding:\tchunked",
    "Transfer-Encoding: \tchunked",
    "Transfer-Encoding:  chunked",
    " Transfer-Encoding: chunked",
    "\tTransfer-Encoding: chunked",
    "Transfer-Encoding: xchunked",
    "Transfer-Encoding: chunked-false",
    "Transfer-Encoding: chunk",
    "Transfer-Encoding: CHUNKED",
    "Transfer-Encoding: Chunked",
    "Transfer-Encoding: \"chunked\"",
    "Transfer-Encoding: 'chunked'",
    "Transfer-Encoding: chunked, identity",
    "Transfer-Encoding: identity, chunked",
    "Transfer-Encoding: gzip, chunked",
    "Transfer-Encoding: chunked, chunked",
    "Transfer-Encoding: chunked\r\nTransfer-Encoding: x",
    "Transfer-Encoding: x\r\nTransfer-Encoding: chunked",
    "Transfer-Encoding: chunked\r\nTransfer-encoding: identity",
    "Transfer-Encoding:\x0bchunked",
    "Transfer-Encoding: chunked\x0b",
    "Transfer-Encoding:\x0cchunked",
    "Transfer-Encoding: chunked\x00",
    "Transfer-Encoding: \xffchunked",
    "Transfer-Encoding: chunked\r",
    "Transfer-Encoding\r\n: chunked",
    "Transfer-Encoding:\r\n chunked",
    "Transfer-Encoding: x\r\n\tchunked",
    "X: y\nTransfer-Encoding: chunked",
    "X: y\rTransfer-Encoding: chunked",
    "Transfer_Encoding: chunked",
    "Transfer-Encodings: chunked",
    "TRANSFER-ENCODING: chunked",
    "Transfer-Encoding: chu\x00nked",
    "Content-Encoding: chunked",
]


TAG = "x"


def hidden(n):
    return "GET /smuggled-%s-%d HTTP/1.1\r\nHost: localhost\r\n\r\n" % (TAG, n)


def attempts(path):
    n = 0
    for te in DISGUISES:
        head = "POST %s HTTP/1.1\r\nHost: localhost\r\n%s\r\n" % (path, te)
        # CL.TE: the front end reads the length, the back end the coding.
        n += 1
        body = "0\r\n\r\n" + hidden(n)
        yield n, head + "Content-Length: %d\r\n\r\n%s" % (len(body), body)
        # TE.CL: the front end reads the coding, the back end the length.
        n += 1
        inner = hidden(n)
        body = "%x\r\n%s\r\n0\r\n\r\n" % (len(inner), inner)
        yield n, head + "Content-Length: 4\r\n\r\n" + body
        # TE.TE: a plain coding and a disguised one.
        n += 1
        body = "0\r\n\r\n" + hidden(n)
        yield n, ("POST %s HTTP/1.1\r\nHost: localhost\r\nTransfer-Encoding: chunked\r\n%s\r\n"
                  "Content-Length: %d\r\n\r\n%s" % (path, te, len(body), body))
        # The disguised coding alone, its body holding a request.
        n += 1
        inner = hidden(n)
        yield n, head + "\r\n%x\r\n%s\r\n0\r\n\r\n" % (len(inner), inner)


def exchange(port, data, quiet=0.7):
    sock = socket.create_connection(("127.0.0.1", port), timeout=5)
    try:
        sock.sendall(data.encode("latin-1"))
    except (ConnectionResetError, BrokenPipeError):
        pass
    got, _ = read_answers(sock, quiet)
    sock.close()
    return got


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("port", type=int)
    parser.add_argument("--path", default="/CGI-BIN/echo.cgi")
    parser.add_argument("--tag", default="x")
    args = parser.parse_args()
    global TAG
    TAG = args.tag
    answered = collections.Counter()
    count = 0
    for n, data in attempts(args.path):
        count += 1
        got = exchange(args.port, data)
        answered[got[9:12].decode("latin-1") or "-"] += 1
        exchange(args.port, "GET /k.txt HTTP/1.1\r\nHost: localhost\r\n\r\n", 0.3)
    print("%d attempts; first answers: %s" % (count, dict(sorted(answered.items()))))
    return 0


if __name__ == "__main__":
    sys.exit(main())
