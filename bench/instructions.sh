#!/usr/bin/env bash
# Counts the instructions one kept-alive request of a 1 KiB document costs
# the server, under callgrind: 5,000 requests warm it up, then the cost of
# the next 20,000 is divided by their number. Instruction counts do not
# depend on what else the machine runs, so two builds compare exactly.
#
#   bench/instructions.sh [build directory, default build/release]
#
# Not part of the test suite. Installs its packages as root (else names them).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/release}"
./scripts/setup.sh bench
if [[ "$build" == build/release ]]; then
  cmake --preset release >/dev/null
  cmake --build --preset release >/dev/null
fi

work=$(mktemp -d /tmp/varevavo-instructions.XXXXXX)
server=""
cleanup() { [[ -n "$server" ]] && kill "$server" 2>/dev/null; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT

export VAREVAVO_HOME="$work/home"
docs="$VAREVAVO_HOME/drive_c/HTTPD/HTDOCS"
mkdir -p "$docs" "$VAREVAVO_HOME/drive_c/HTTPD/LOGS"
head -c 1024 /dev/urandom > "$docs/1k.bin"
port=18090
"$build/tools/varevavo-setup" Count "$port" >/dev/null
reg="$build/tools/varevavo-reg"
key='HKLM\SOFTWARE\Raziduzovo\Varevavo\Count'
$reg add "$key\\Network" /v UseKeepAlive /t REG_DWORD /d 1 /f >/dev/null
$reg add "$key\\Server" /v NumThreads /t REG_DWORD /d 80 /f >/dev/null
$reg add "$key\\Server" /v ResolveLocal /t REG_DWORD /d 0 /f >/dev/null
VAREVAVO_SHELL=console valgrind --tool=callgrind --compress-strings=no --callgrind-out-file="$work/cg.out" \
  "$build/shell/ruvuzerar" Count > "$work/server.out" 2>&1 &
server=$!
for _ in $(seq 100); do
  curl -s -o /dev/null "http://127.0.0.1:$port/1k.bin" && break
  sleep 0.2
done

url="http://127.0.0.1:$port/1k.bin"
ab -q -k -c 8 -n 5000 "$url" > /dev/null
callgrind_control -z "$server" > /dev/null 2>&1  # counts start again from here
ab -q -k -c 8 -n 20000 "$url" > "$work/ab.out"
callgrind_control -d "$server" > /dev/null 2>&1
grep -q "Failed requests: *0" "$work/ab.out" || { echo "instructions.sh: some requests failed" >&2; exit 1; }
dump=$(ls -t "$work"/cg.out.* | head -1)
total=$(awk '/^(summary|totals):/ { print $2; exit }' "$dump")
echo "instructions per kept-alive 1 KiB request: $((total / 20000)) ($build)"
