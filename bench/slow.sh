#!/usr/bin/env bash
# Slow and silent clients against the default setup (a pool of 16): for each
# attack (slowhttptest -H slow headers and -B slow body with 300
# connections, 300 connections that connect and send nothing, and
# slowhttptest -X slow readers of a 4 MiB file with 20 and with 1,000
# connections), and against the HTTPS port 300 connections that never
# start their handshake and 300 that stop half-way through their
# ClientHello, for 60 s, while a normal GET (over HTTPS for the HTTPS
# attacks) is sent once a second. Prints
# how many GETs got an HTTP answer (200 or 503) and how many a 200, from the
# sixth second of the attack on, and how long after the attack the first 200
# came.
#
#   bench/slow.sh [seconds of attack, default 60] [attack ...]
#
# Attacks: headers body silent readers20 readers1000 tls-silent tls-half
# (default: all).
#
# Not part of the test suite. Installs slowhttptest as root (else names it).
set -euo pipefail
cd "$(dirname "$0")/.."
secs="${1:-60}"
shift || true
attacks="${*:-headers body silent readers20 readers1000 tls-silent tls-half}"
./scripts/setup.sh bench
command -v slowhttptest >/dev/null || { [[ $(id -u) -eq 0 ]] && apt-get install -y -qq slowhttptest >/dev/null; } ||
  { echo "install slowhttptest" >&2; exit 1; }
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null

work=$(mktemp -d /tmp/varevavo-slow.XXXXXX)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
export VAREVAVO_HOME="$work/home"
mkdir -p "$VAREVAVO_HOME/drive_c/HTTPD/HTDOCS" "$VAREVAVO_HOME/drive_c/HTTPD/LOGS"
echo "probe" > "$VAREVAVO_HOME/drive_c/HTTPD/HTDOCS/probe.txt"
head -c 4194304 /dev/urandom > "$VAREVAVO_HOME/drive_c/HTTPD/HTDOCS/big.bin"
port=18090
build/release/tools/varevavo-setup Slow "$port" >/dev/null
build/release/tools/varevavo-reg add 'HKLM\SOFTWARE\Raziduzovo\Varevavo\Slow\Server' /v ResolveLocal /t REG_DWORD /d 0 /f >/dev/null
# The server's own defaults, not the personal ones varevavo-setup gives.
build/release/tools/varevavo-reg add 'HKLM\SOFTWARE\Raziduzovo\Varevavo\Slow\Server' /v NumThreads /t REG_DWORD /d 16 /f >/dev/null
build/release/tools/varevavo-reg add 'HKLM\SOFTWARE\Raziduzovo\Varevavo\Slow\Network' /v UseKeepAlive /t REG_DWORD /d 0 /f >/dev/null
tls_port=18490
build/release/tools/varevavo-reg add 'HKLM\SOFTWARE\Raziduzovo\Varevavo\Slow\TLS' /v TLSPort /t REG_DWORD /d "$tls_port" /f >/dev/null
VAREVAVO_SHELL=console build/release/shell/ruvuzerar Slow > "$work/server.out" 2>&1 &
pids+=($!)
sleep 1

# 300 connections that connect and say nothing, held for the attack's length.
silent() {
  python3 - "$port" "$secs" <<'PY'
import socket, sys, time
port, secs = int(sys.argv[1]), int(sys.argv[2])
held = []
for _ in range(300):
    try:
        held.append(socket.create_connection(("127.0.0.1", port), timeout=2))
    except OSError:
        pass
    time.sleep(0.02)
time.sleep(max(0, secs - 6))
PY
}

# 300 connections to the HTTPS port that never start their handshake
# (half: that send the first half of a real ClientHello and stop).
tls_stall() {  # silent|half
  python3 - "$tls_port" "$secs" "$1" <<'PY'
import socket, ssl, sys, time
port, secs, mode = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
ctx = ssl.create_default_context()
ctx.check_hostname = False
ctx.verify_mode = ssl.CERT_NONE
incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
try:
    ctx.wrap_bio(incoming, outgoing).do_handshake()
except ssl.SSLWantReadError:
    pass
hello = outgoing.read()
held = []
for _ in range(300):
    try:
        s = socket.create_connection(("127.0.0.1", port), timeout=2)
        if mode == "half":
            s.sendall(hello[: len(hello) // 2])
        held.append(s)
    except OSError:
        pass
    time.sleep(0.02)
time.sleep(max(0, secs - 6))
PY
}

probe="http://127.0.0.1:$port/probe.txt"
run() {  # label, attack command...
  local label=$1; shift
  local begin=$(date +%s.%N)
  "$@" >/dev/null 2>&1 &
  local attack=$!
  local answered=0 ok=0 tries=0 s code
  for ((s = 1; s <= secs; s++)); do
    # One probe at each whole second of the attack.
    sleep "$(awk -v b="$begin" -v s=$s -v now="$(date +%s.%N)" 'BEGIN { d = b + s - now; print (d > 0 ? d : 0) }')"
    code=$(curl -sk -o /dev/null -m 1 -w '%{http_code}' "$probe" || true)
    if (( s >= 6 )); then
      tries=$((tries + 1))
      [[ $code == 200 || $code == 503 ]] && answered=$((answered + 1))
      [[ $code == 200 ]] && ok=$((ok + 1))
    fi
  done
  kill $attack 2>/dev/null || true; wait $attack 2>/dev/null || true
  local start=$(date +%s.%N) back=-
  for ((s = 0; s < 50; s++)); do
    code=$(curl -sk -o /dev/null -m 1 -w '%{http_code}' "$probe" || true)
    if [[ $code == 200 ]]; then back=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f s", b - a }'); break; fi
    sleep 0.1
  done
  printf "%-40s answered %3d of %3d (200: %3d)   first 200 after the attack: %s\n" "$label" "$answered" "$tries" "$ok" "$back"
  sleep 2
}

url="http://127.0.0.1:$port"
for attack in $attacks; do
  case $attack in
    headers) run "slow headers (slowhttptest -H)" slowhttptest -H -c 300 -r 50 -i 10 -l "$secs" -u "$url/probe.txt" ;;
    body) run "slow body (slowhttptest -B)" slowhttptest -B -c 300 -r 50 -i 10 -l "$secs" -u "$url/probe.txt" ;;
    silent) run "300 silent connections" silent ;;
    readers20 | readers1000)
      n=${attack#readers}
      run "slow readers, $n (slowhttptest -X)" \
        slowhttptest -X -c "$n" -r 20 -w 10 -y 20 -n 5 -z 32 -k 3 -l "$secs" -u "$url/big.bin" ;;
    tls-silent | tls-half)
      probe="https://127.0.0.1:$tls_port/probe.txt"
      run "300 TLS connections, ${attack#tls-} handshake" tls_stall "${attack#tls-}"
      probe="http://127.0.0.1:$port/probe.txt" ;;
    *) echo "slow.sh: unknown attack '$attack'" >&2; exit 2 ;;
  esac
done
