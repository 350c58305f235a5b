#!/usr/bin/env bash
# Slow and silent clients against the default setup (a pool of 16): for each
# attack (slowhttptest -H slow headers, -B slow body, and 300 connections
# that connect and send nothing), 300 connections for 60 s, while a normal
# GET is sent once a second. Prints how many GETs got an HTTP answer (200 or
# 503) from the sixth second of the attack on, and how long after the attack
# the first 200 came.
#
#   bench/slow.sh [seconds of attack, default 60]
#
# Not part of the test suite. Installs slowhttptest as root (else names it).
set -euo pipefail
cd "$(dirname "$0")/.."
secs="${1:-60}"
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
port=18090
build/release/tools/varevavo-setup Slow "$port" >/dev/null
build/release/tools/varevavo-reg add 'HKLM\SOFTWARE\Raziduzovo\Varevavo\Slow\Server' /v ResolveLocal /t REG_DWORD /d 0 /f >/dev/null
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

run() {  # label, attack command...
  local label=$1; shift
  local begin=$(date +%s.%N)
  "$@" >/dev/null 2>&1 &
  local attack=$!
  local answered=0 tries=0 s code
  for ((s = 1; s <= secs; s++)); do
    # One probe at each whole second of the attack.
    sleep "$(awk -v b="$begin" -v s=$s -v now="$(date +%s.%N)" 'BEGIN { d = b + s - now; print (d > 0 ? d : 0) }')"
    code=$(curl -s -o /dev/null -m 1 -w '%{http_code}' "http://127.0.0.1:$port/probe.txt" || true)
    if (( s >= 6 )); then
      tries=$((tries + 1))
      [[ $code == 200 || $code == 503 ]] && answered=$((answered + 1))
    fi
  done
  kill $attack 2>/dev/null || true; wait $attack 2>/dev/null || true
  local start=$(date +%s.%N) back=-
  for ((s = 0; s < 50; s++)); do
    code=$(curl -s -o /dev/null -m 1 -w '%{http_code}' "http://127.0.0.1:$port/probe.txt" || true)
    if [[ $code == 200 ]]; then back=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f s", b - a }'); break; fi
    sleep 0.1
  done
  printf "%-36s answered %3d of %3d   first 200 after the attack: %s\n" "$label" "$answered" "$tries" "$back"
  sleep 2
}

run "slow headers (slowhttptest -H)" slowhttptest -H -c 300 -r 50 -i 10 -l "$secs" -u "http://127.0.0.1:$port/probe.txt"
run "slow body (slowhttptest -B)" slowhttptest -B -c 300 -r 50 -i 10 -l "$secs" -u "http://127.0.0.1:$port/probe.txt"
run "300 silent connections" silent
