#!/usr/bin/env bash
# A protected folder under attack, against the release build of the server
# it starts itself (yescrypt password, keep-alive on):
#  1. every way around the folder's list without the right credentials
#     (direct, alias, a script's PATH_INFO, %-encoding, case, // and /./,
#     an SSI include from an open page, byte ranges, HEAD, HTTP/0.9, the
#     master key): prints the requests made and the protected bytes that
#     came back (must be 0); the right credentials then get them (the
#     counter's control);
#  2. 10,000 wrong passwords from one address (127.0.0.3), kept alive:
#     prints how many passwords the server compared (the "Password checks"
#     counter of /~stats) and how the answers split;
#  3. one wrong password from each of 100,000 loopback addresses 127.x.y.z
#     (each client socket bound to its address): prints the size of the
#     throttle's table ("Addresses watched" of /~stats; its bound is 4096);
#  4. kept-alive requests per second (ab -k -c 4) for a 1 KiB document,
#     unprotected and protected (-A with the yescrypt password), rounds
#     interleaved, medians and their ratio; then one round of each with a
#     new connection per request (where every protected one is hashed).
#
#   flock /tmp/varevavo-bench.lock bench/protect.sh [seconds per rate round, default 5]
#
# Not part of the test suite; loopback only. Run it only under the lock.
set -euo pipefail
cd "$(dirname "$0")/.."
secs="${1:-5}"
./scripts/setup.sh bench >/dev/null
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null

work=$(mktemp -d /tmp/varevavo-protect.XXXXXX)
server=""
cleanup() { [[ -n "$server" ]] && kill "$server" 2>/dev/null; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT

export VAREVAVO_HOME="$work/home"
site="$VAREVAVO_HOME/drive_c/HTTPD"
mkdir -p "$site/HTDOCS/priv/dir" "$site/LOGS" "$site/CGI-BIN"
# The protected bytes: letters no other answer holds in runs of four.
python3 -c "import random; print(''.join(random.choice('QXZJ') for _ in range(4096)), end='')" \
  > "$site/HTDOCS/priv/secret.txt"
head -c 1024 /dev/zero | tr '\0' 'a' > "$site/HTDOCS/pub.txt"
cp "$site/HTDOCS/pub.txt" "$site/HTDOCS/priv/pub.txt"
printf '<!--#include virtual="/priv/secret.txt" --><!--#include virtual="/mirror/secret.txt" -->' \
  > "$site/HTDOCS/open.shtml"
printf '#!/bin/sh\nprintf "Content-Type: text/plain\\r\\n\\r\\n"\ncat "$PATH_TRANSLATED" 2>/dev/null\n' \
  > "$site/CGI-BIN/cat.cgi"
chmod 755 "$site/CGI-BIN/cat.cgi"

port=18097
reg=build/release/tools/varevavo-reg
key='HKLM\SOFTWARE\Raziduzovo\Varevavo\Protect'
build/release/tools/varevavo-setup Protect "$port" >/dev/null
$reg add "$key\\Network" /v UseKeepAlive /t REG_DWORD /d 1 /f >/dev/null
$reg add "$key\\Server" /v NumThreads /t REG_DWORD /d 16 /f >/dev/null
$reg add "$key\\Server" /v ResolveLocal /t REG_DWORD /d 0 /f >/dev/null
$reg add "$key\\TLS" /v UseTLS /t REG_DWORD /d 0 /f >/dev/null  # plain HTTP: credentials in clear on loopback
$reg add "$key\\Alias" /v /mirror /t REG_SZ /d 'C:\HTTPD\HTDOCS\priv' /f >/dev/null
$reg add "$key\\Alias" /v /all /t REG_SZ /d 'C:\HTTPD\HTDOCS' /f >/dev/null
hash=$(python3 -c "
import ctypes
c = ctypes.CDLL('libcrypt.so.1')
c.crypt_gensalt.restype = c.crypt.restype = ctypes.c_char_p
print(c.crypt(b'open sesame', c.crypt_gensalt(b'\$y\$', 0, None, 0)).decode())")
$reg add "$key\\Authentication\\Basic\\Vault\\Users" /v alice /t REG_SZ /d "$hash" /f >/dev/null
$reg add "$key\\Access\\Basic\\/priv" /v Realm /t REG_SZ /d Vault /f >/dev/null
$reg add "$key\\Access\\Basic\\/priv\\Users" /v alice /t REG_DWORD /d 28 /f >/dev/null  # GET HEAD POST: bits 2, 3, 4

VAREVAVO_SHELL=console build/release/shell/ruvuzerar Protect > "$work/server.out" 2>&1 &
server=$!
for _ in $(seq 100); do
  curl -s -o /dev/null "http://127.0.0.1:$port/pub.txt" && break
  sleep 0.1
done
echo "yescrypt setting: ${hash:0:7}..."

python3 - "$port" <<'PY'
import base64, re, socket, sys, threading, time
port = int(sys.argv[1])
secret = re.compile(rb"[QXZJ]{4,}")

def exchange(raw, source="127.0.0.1"):
    s = socket.socket()
    s.bind((source, 0))
    s.settimeout(10)
    s.connect(("127.0.0.1", port))
    s.sendall(raw)
    data = b""
    while True:
        b = s.recv(65536)
        if not b:
            break
        data += b
    s.close()
    return data

def auth(user, password):
    return "Authorization: Basic " + base64.b64encode(f"{user}:{password}".encode()).decode() + "\r\n"

def counter(name):
    page = exchange(b"GET /~stats HTTP/1.0\r\n\r\n").decode(errors="replace")
    return int(re.search(name + r":\s+(\d+)", page).group(1))

# 1. Every way around, without the right credentials.
paths = ["/priv/secret.txt", "/mirror/secret.txt", "/all/priv/secret.txt", "/CGI-BIN/cat.cgi/priv/secret.txt",
         "/%70riv/secret.txt", "/priv%2fsecret.txt", "/priv/secret%2etxt", "/%2570riv/secret.txt",
         "/PRIV/secret.txt", "/Priv/Secret.txt", "/MIRROR/secret.txt", "//priv/secret.txt", "/priv//secret.txt",
         "/./priv/secret.txt", "/priv/./secret.txt", "/x/../priv/secret.txt", "/priv/dir/../secret.txt",
         "\\priv\\secret.txt", "/open.shtml", "/priv/", "/priv", "/mirror/", "/priv/secret.txt?x=1"]
variants = ["", "Range: bytes=0-15\r\n", "Range: bytes=-100\r\n", auth("alice", "wrong"),
            auth("admin", "admin"), "Authorization: Digest username=\"alice\"\r\n"]
made = leaked = 0
for path in paths:
    for method in ("GET", "HEAD", "POST"):
        for extra in variants:
            # Failed credentials come from an address of their own, so that
            # the throttle they set off leaves the other clients alone.
            source = "127.0.0.1"
            if "Authorization" in extra:
                source = "127.0.0.2"
                if method != "GET":
                    continue
            body = "Content-Length: 0\r\n" if method == "POST" else ""
            data = exchange(f"{method} {path} HTTP/1.0\r\n{extra}{body}\r\n".encode(), source)
            made += 1
            leaked += sum(len(m) for m in secret.findall(data))
for path in ("/priv/secret.txt", "/mirror/secret.txt"):
    data = exchange(f"GET {path}\r\n".encode())  # HTTP/0.9
    made += 1
    leaked += sum(len(m) for m in secret.findall(data))
right = exchange(("GET /priv/secret.txt HTTP/1.0\r\n" + auth("alice", "open sesame") + "\r\n").encode())
print(f"ways around: {made} requests, {leaked} protected bytes leaked; "
      f"with the right password: {sum(len(m) for m in secret.findall(right))} of 4096 bytes")

# 2. 10,000 wrong passwords from one address, kept alive.
before = counter("Password checks")
statuses = {}
start = time.time()
sent = 0
while sent < 10000:
    s = socket.socket()
    s.bind(("127.0.0.3", 0))
    s.connect(("127.0.0.1", port))
    f = s.makefile("rb")
    for _ in range(100):
        s.sendall((f"GET /priv/secret.txt HTTP/1.1\r\nHost: x\r\n" + auth("alice", f"guess{sent}") + "\r\n").encode())
        status = f.readline().split(b" ")[1].decode()
        length = 0
        while True:
            line = f.readline()
            if line in (b"\r\n", b""):
                break
            if line.lower().startswith(b"content-length:"):
                length = int(line.split(b":")[1])
        f.read(length)
        statuses[status] = statuses.get(status, 0) + 1
        sent += 1
    s.close()
elapsed = time.time() - start
compared = counter("Password checks") - before
print(f"10,000 wrong passwords from 127.0.0.3 in {elapsed:.1f} s: {compared} passwords compared; answers {statuses}")

# 3. One wrong password from each of 100,000 addresses.
def flood(first, count):
    for i in range(first, first + count):
        n = i + 256 * 256  # from 127.1.0.0 on
        source = f"127.{n >> 16}.{n >> 8 & 255}.{n & 255}"
        try:
            exchange(("GET /priv/secret.txt HTTP/1.0\r\n" + auth("mallory", "x") + "\r\n").encode(), source)
        except OSError:
            pass
start = time.time()
threads = [threading.Thread(target=flood, args=(k * 12500, 12500)) for k in range(8)]
for t in threads:
    t.start()
for t in threads:
    t.join()
print(f"100,000 addresses in {time.time() - start:.1f} s: throttle table holds {counter('Addresses watched')} "
      f"addresses (bound 4096)")
PY

# Requests per second; "failed" when any answer was not a 200.
rates() {
  ab -q -k -c 4 -t "$secs" -n 100000000 "$@" 2>/dev/null |
    awk '/Non-2xx responses|Failed requests: *[1-9]/ { bad = 1 } /Requests per second/ { rate = $4 }
         END { print bad ? "failed" : rate }'
}
open=() guarded=()
for round in 1 2 3; do
  open+=("$(rates "http://127.0.0.1:$port/pub.txt")")
  guarded+=("$(rates -A 'alice:open sesame' "http://127.0.0.1:$port/priv/pub.txt")")
done
median() { printf '%s\n' "$@" | sort -g | sed -n 2p; }
o=$(median "${open[@]}") g=$(median "${guarded[@]}")
echo "kept-alive requests/s, medians of 3 interleaved rounds of ${secs} s: unprotected $o, protected (yescrypt) $g," \
  "ratio $(awk -v a="$g" -v b="$o" 'BEGIN { printf "%.4f", a / b }')"
# A new connection for each request: the protected one hashes every time.
fresh() { ab -q -c 2 -t "$secs" -n 100000000 "$@" 2>/dev/null | awk '/Requests per second/ { print $4 }'; }
echo "a new connection per request, requests/s: unprotected $(fresh "http://127.0.0.1:$port/pub.txt")," \
  "protected (yescrypt) $(fresh -A 'alice:open sesame' "http://127.0.0.1:$port/priv/pub.txt")"
grep -c 'Too many failed credentials' "$VAREVAVO_HOME/drive_c/HTTPD/LOGS/ERROR.LOG" |
  awk '{ print "error-log lines for blocked minutes: " $1 }'
