#!/usr/bin/env bash
# Floods against the default setup (a pool of 16), as an impatient crowd or
# an attacker would send them:
#  - scripts: 200 concurrent GETs of a script that sleeps 2 s, while a
#    document is asked for once a second; prints how many script requests
#    got 200, 503 (and how many of those said Retry-After) or no answer, and
#    how many document GETs got 200;
#  - descriptors: the server started with `ulimit -n 64` and NumThreads 128,
#    then 300 connections at once for 5 s; prints the CPU time the server
#    used meanwhile, its error-log lines about the shortage, and whether a
#    GET is answered once the flood has gone.
#
#   bench/flood.sh [scripts] [descriptors]   (default: both)
#
# Not part of the test suite; loopback only.
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${*:-scripts descriptors}"
./scripts/setup.sh test >/dev/null
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null

work=$(mktemp -d /tmp/varevavo-flood.XXXXXX)
server=
cleanup() { [[ -n $server ]] && kill "$server" 2>/dev/null; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
export VAREVAVO_HOME="$work/home"
site="$VAREVAVO_HOME/drive_c/HTTPD"
mkdir -p "$site/HTDOCS" "$site/LOGS" "$site/CGI-BIN"
echo "document" > "$site/HTDOCS/d.txt"
printf '#!/bin/sh\nsleep 2\nprintf "Content-Type: text/plain\\n\\nslept"\n' > "$site/CGI-BIN/sleep.cgi"
chmod 755 "$site/CGI-BIN/sleep.cgi"
port=18091
reg=build/release/tools/varevavo-reg
key='HKLM\SOFTWARE\Raziduzovo\Varevavo\Flood'
build/release/tools/varevavo-setup Flood "$port" >/dev/null
$reg add "$key\Server" /v ResolveLocal /t REG_DWORD /d 0 /f >/dev/null
# The server's own defaults, not the personal ones varevavo-setup gives.
$reg add "$key\Server" /v NumThreads /t REG_DWORD /d 16 /f >/dev/null
$reg add "$key\Network" /v UseKeepAlive /t REG_DWORD /d 0 /f >/dev/null

start() {  # [ulimit -n]
  (
    [[ $# -gt 0 ]] && ulimit -n "$1"
    exec env VAREVAVO_SHELL=console build/release/shell/ruvuzerar Flood > "$work/server.out" 2>&1
  ) &
  server=$!
  for _ in $(seq 100); do
    curl -s -o /dev/null "http://127.0.0.1:$port/d.txt" && return 0
    sleep 0.05
  done
  echo "flood.sh: the server did not start" >&2; exit 1
}
stop() { kill "$server"; wait "$server" 2>/dev/null || true; server=; }

if [[ " $runs " == *" scripts "* ]]; then
  start
  python3 - "$port" <<'PY'
import socket, sys, threading, time
port = int(sys.argv[1])
codes, retry = {}, [0]
lock = threading.Lock()

def ask(path, timeout=60):
    try:
        s = socket.create_connection(("127.0.0.1", port), timeout=timeout)
        s.sendall(f"GET {path} HTTP/1.0\r\n\r\n".encode())
        data = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
        s.close()
    except OSError:
        return "reset", b""
    if not data:
        return "none", b""
    return data.split(b" ", 2)[1].decode(), data

def script():
    code, data = ask("/CGI-BIN/sleep.cgi")
    with lock:
        codes[code] = codes.get(code, 0) + 1
        if code == "503" and b"\r\nRetry-After:" in data:
            retry[0] += 1

threads = [threading.Thread(target=script) for _ in range(200)]
for t in threads:
    t.start()
documents, ok = 0, 0
while any(t.is_alive() for t in threads):
    code, _ = ask("/d.txt", timeout=2)
    documents += 1
    ok += code == "200"
    time.sleep(1)
for t in threads:
    t.join()
print(f"script flood: 200: {codes.get('200', 0)}  503: {codes.get('503', 0)} "
      f"(with Retry-After: {retry[0]})  no answer: {codes.get('none', 0) + codes.get('reset', 0)}  "
      f"documents meanwhile: {ok} of {documents} answered 200")
PY
  stop
fi

if [[ " $runs " == *" descriptors "* ]]; then
  $reg add "$key\Server" /v NumThreads /t REG_DWORD /d 128 /f >/dev/null
  start 64
  ticks() { awk '{ print $14 + $15 }' "/proc/$server/stat"; }
  before=$(ticks)
  python3 - "$port" <<'PY'
import socket, sys, time
port = int(sys.argv[1])
held = []
end = time.time() + 5
while time.time() < end:
    if len(held) < 300:
        try:
            s = socket.socket()
            s.setblocking(False)
            s.connect_ex(("127.0.0.1", port))
            held.append(s)
        except OSError:
            pass
    else:
        time.sleep(0.01)
for s in held:
    s.close()
PY
  used=$(( $(ticks) - before ))
  hz=$(getconf CLK_TCK)
  sleep 0.5
  code=$(curl -s -o /dev/null -m 5 -w '%{http_code}' "http://127.0.0.1:$port/d.txt" || true)
  lines=$(grep -c "Cannot accept connections" "$site/LOGS/ERROR.LOG" || true)
  [[ -n ${FLOOD_DEBUG:-} ]] && { ls -l /proc/$server/fd | wc -l; tail -3 "$site/LOGS/ERROR.LOG"; grep "open files" /proc/$server/limits; }
  printf "descriptor flood: server CPU %s s over 5 s, shortage lines in the error log: %s, GET afterwards: %s\n" \
    "$(awk -v t="$used" -v hz="$hz" 'BEGIN { printf "%.2f", t / hz }')" "$lines" "$code"
  stop
  $reg add "$key\Server" /v NumThreads /t REG_DWORD /d 16 /f >/dev/null
fi
