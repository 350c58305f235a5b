#!/usr/bin/env bash
# Nothing lost on the HTTPS port: 10,000 TLS connections cut at random
# points (within the handshake, or within the download of a 10 MiB file),
# then the server's descriptors, resident memory and busy slots counted
# again once it is quiet, against the counts before.
#
#   flock /tmp/varevavo-bench.lock bench/tls-cuts.sh [connections, default 10000] [release|debug|tsan]
#
# The server of the preset named (release by default; debug is the
# AddressSanitizer and UndefinedBehaviorSanitizer build) faces the cuts; a
# sanitizer's report ends it and fails the run.
#
# Not part of the test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
count="${1:-10000}"
preset="${2:-release}"
./scripts/setup.sh bench
for p in release "$preset"; do
  cmake --preset "$p" >/dev/null
  cmake --build --preset "$p" >/dev/null
done
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

work=$(mktemp -d /tmp/varevavo-cuts.XXXXXX)
pid=
cleanup() { [[ -n $pid ]] && kill "$pid" 2>/dev/null; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
export VAREVAVO_HOME="$work/home"
docs="$VAREVAVO_HOME/drive_c/HTTPD/HTDOCS"
mkdir -p "$docs" "$VAREVAVO_HOME/drive_c/HTTPD/LOGS"
head -c $((10 * 1024 * 1024)) /dev/urandom > "$docs/10m.bin"
plain=18091 tls=18491
build/release/tools/varevavo-setup Cuts "$plain" >/dev/null
build/release/tools/varevavo-reg add 'HKLM\SOFTWARE\Raziduzovo\Varevavo\Cuts\TLS' /v TLSPort /t REG_DWORD /d "$tls" /f >/dev/null
VAREVAVO_SHELL=console "build/$preset/shell/ruvuzerar" Cuts > "$work/out" 2>&1 &
pid=$!
for _ in $(seq 100); do curl -skf -o /dev/null "https://127.0.0.1:$tls/10m.bin" && break; sleep 0.1; done

state() {  # descriptors, resident KiB, busy slots
  local busy
  busy=$(curl -s "http://127.0.0.1:$plain/~stats" | awk '/Active connections:/ { print $3 }')
  echo "$(ls "/proc/$pid/fd" | wc -l) $(awk '/^VmRSS/ { print $2 }' "/proc/$pid/status") $((busy - 1))"
}
read -r fd0 rss0 busy0 < <(state)

python3 - "$tls" "$count" <<'PY'
import random, socket, ssl, struct, sys, threading
port, count = int(sys.argv[1]), int(sys.argv[2])
ctx = ssl.create_default_context()
ctx.check_hostname = False
ctx.verify_mode = ssl.CERT_NONE
rng = random.Random(21)
lock = threading.Lock()
left = [count]

def one(r):
    s = socket.create_connection(("127.0.0.1", port), timeout=5)
    reset = r.random() < 0.5  # half end with a reset, half with a plain close
    if reset:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    if r.random() < 0.5:
        # Cut within the handshake: part of a real ClientHello, maybe part of the reply read.
        incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
        try:
            ctx.wrap_bio(incoming, outgoing).do_handshake()
        except ssl.SSLWantReadError:
            pass
        hello = outgoing.read()
        part = r.randrange(0, len(hello) + 1)
        s.sendall(hello[:part])
        # A whole ClientHello is answered: part of the answer is read.
        if part == len(hello) and r.random() < 0.5:
            try:
                s.recv(r.randrange(1, 4096))
            except OSError:
                pass
        s.close()
        return
    t = ctx.wrap_socket(s, server_hostname="localhost")
    t.sendall(b"GET /10m.bin HTTP/1.0\r\n\r\n")
    want, got = r.randrange(0, 10 * 1024 * 1024), 0
    while got < want:
        data = t.recv(65536)
        if not data:
            break
        got += len(data)
    t.close() if not reset else s.close()

def worker(seed):
    r = random.Random(seed)
    while True:
        with lock:
            if left[0] == 0:
                return
            left[0] -= 1
        try:
            one(r)
        except OSError:
            pass

threads = [threading.Thread(target=worker, args=(i,)) for i in range(16)]
for t in threads: t.start()
for t in threads: t.join()
PY

kill -0 "$pid" 2>/dev/null || { echo "the server ended under the cuts:"; cat "$work/out"; exit 1; }
# Quiet again: every cut connection ended (time-outs included).
for _ in $(seq 60); do read -r fd1 rss1 busy1 < <(state); [[ $busy1 -le $busy0 && $fd1 -le $fd0 ]] && break; sleep 1; done
read -r fd1 rss1 busy1 < <(state)
echo "$count TLS connections cut at random points of the handshake and of a 10 MiB download:"
printf "%-22s %10s %10s\n" "" before after
printf "%-22s %10s %10s\n" descriptors "$fd0" "$fd1" "resident KiB" "$rss0" "$rss1" "busy slots" "$busy0" "$busy1"
grep -o 'TLS handshakes failed: *[0-9]*\|TLS connections: *[0-9]*' <(curl -s "http://127.0.0.1:$plain/~stats")
