#!/usr/bin/env bash
# A sanitizer build of the server under hostile and careless clients, to
# catch a crash or a race any client could cause:
#  - kept-alive load (ab -k -c 32) while the setup is reloaded (SIGHUP) and
#    every connection flushed (SIGUSR1) once a second;
#  - downloads of a 4 MiB file cut after 1,000 bytes, beside script
#    requests;
#  - 200 concurrent requests for a script that sleeps 1 s.
# Then SIGTERM. Prints what each step got, the exit status and the number of
# sanitizer reports (both must be 0).
#
#   bench/hostile.sh [debug|tsan] [seconds of load, default 20]
#
# debug is the AddressSanitizer and UndefinedBehaviorSanitizer build.
# Not part of the test suite; loopback only.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-debug}"
secs="${2:-20}"
./scripts/setup.sh test bench >/dev/null
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" >/dev/null
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null

work=$(mktemp -d /tmp/varevavo-hostile.XXXXXX)
server=
cleanup() { [[ -n $server ]] && kill -9 "$server" 2>/dev/null; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
export VAREVAVO_HOME="$work/home"
site="$VAREVAVO_HOME/drive_c/HTTPD"
mkdir -p "$site/HTDOCS" "$site/LOGS" "$site/CGI-BIN"
head -c 1024 /dev/urandom > "$site/HTDOCS/k.bin"
head -c 4194304 /dev/urandom > "$site/HTDOCS/big.bin"
printf '#!/bin/sh\nsleep "${QUERY_STRING:-0}"\nprintf "Content-Type: text/plain\\n\\nok"\n' > "$site/CGI-BIN/s.cgi"
chmod 755 "$site/CGI-BIN/s.cgi"
port=18096
reg=build/release/tools/varevavo-reg
key='HKLM\SOFTWARE\Raziduzovo\Varevavo\Hostile'
build/release/tools/varevavo-setup Hostile "$port" >/dev/null
$reg add "$key\Server" /v NumThreads /t REG_DWORD /d 16 /f >/dev/null

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=0"
VAREVAVO_SHELL=console "build/$preset/shell/ruvuzerar" Hostile > "$work/server.out" 2>&1 &
server=$!
for _ in $(seq 100); do
  curl -s -o /dev/null "http://127.0.0.1:$port/k.bin" && break
  sleep 0.1
done

( for _ in $(seq "$secs"); do sleep 1; kill -HUP "$server"; kill -USR1 "$server"; done ) &
signals=$!
# 32 clients for a pool of 16: those beyond nine tenths of it are turned
# away with 503 and come back (ab -r), and ab counts each 503 and each
# connection ended after one as failed; the flushes cut the rest.
ab -r -k -c 32 -t "$secs" -n 100000000 "http://127.0.0.1:$port/k.bin" 2>&1 |
  awk '/Complete requests|Failed requests|Non-2xx responses/ { printf "kept-alive load with reloads and flushes: %s %s %s\n", $1, $2, $3 }'
wait "$signals"

python3 - "$port" <<'PY'
import socket, sys, threading
port = int(sys.argv[1])
counts = {}
lock = threading.Lock()

def get(path, cut=None, timeout=30):
    try:
        s = socket.create_connection(("127.0.0.1", port), timeout=timeout)
        s.sendall(f"GET {path} HTTP/1.0\r\n\r\n".encode())
        data = b""
        while True:
            b = s.recv(65536)
            if not b:
                break
            data += b
            if cut and len(data) >= cut:
                break
        s.close()
        code = data.split(b" ", 2)[1].decode() if data else "none"
    except OSError:
        code = "reset"
    with lock:
        counts[(path.split("?")[0], code)] = counts.get((path.split("?")[0], code), 0) + 1

def run(threads):
    for t in threads: t.start()
    for t in threads: t.join()

run([threading.Thread(target=lambda: [get("/CGI-BIN/s.cgi") for _ in range(5)]) for _ in range(40)] +
    [threading.Thread(target=lambda: [get("/big.bin", cut=1000) for _ in range(50)]) for _ in range(4)])
print("scripts beside cut downloads:", dict(sorted(counts.items())))
counts.clear()
run([threading.Thread(target=get, args=("/CGI-BIN/s.cgi?1",)) for _ in range(200)])
print("flood of 200 sleeping scripts:", dict(sorted(counts.items())))
PY

kill -TERM "$server"
status=0
wait "$server" || status=$?
server=
reports=$(grep -c -E "ERROR: AddressSanitizer|runtime error:|WARNING: ThreadSanitizer" "$work/server.out" || true)
echo "exit status $status, sanitizer reports $reports"
[[ $reports -eq 0 ]] || grep -A20 -E "ERROR: AddressSanitizer|runtime error:|WARNING: ThreadSanitizer" "$work/server.out" | head -60
[[ $status -eq 0 && $reports -eq 0 ]]
