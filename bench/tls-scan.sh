#!/usr/bin/env bash
# Scans the server's HTTPS port with testssl.sh: a release build serving a
# new setup (HTTPS on, its self-signed P-256 pair) on fixed ports, then
# testssl.sh's full run, then a summary of what a reader checks first: the
# protocols offered, forward secrecy, the cipher categories, and every
# finding rated worse than OK. The whole report stays in
# /tmp/varevavo-tls-scan.txt.
#
#   flock /tmp/varevavo-bench.lock bench/tls-scan.sh
#
# Not part of the test suite. Installs its packages as root (else names them).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh bench
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null

work=$(mktemp -d /tmp/varevavo-scan.XXXXXX)
pid=
cleanup() { [[ -n $pid ]] && kill "$pid" 2>/dev/null; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT

export VAREVAVO_HOME="$work/home"
mkdir -p "$VAREVAVO_HOME/drive_c/HTTPD/HTDOCS" "$VAREVAVO_HOME/drive_c/HTTPD/LOGS"
echo scanned > "$VAREVAVO_HOME/drive_c/HTTPD/HTDOCS/index.html"
plain=18090 tls=18490
build/release/tools/varevavo-setup Scan "$plain" >/dev/null
build/release/tools/varevavo-reg add 'HKLM\SOFTWARE\Raziduzovo\Varevavo\Scan\TLS' /v TLSPort /t REG_DWORD /d "$tls" /f >/dev/null
VAREVAVO_SHELL=console build/release/shell/ruvuzerar Scan > "$work/out" 2>&1 &
pid=$!
for _ in $(seq 100); do curl -skf -o /dev/null "https://127.0.0.1:$tls/" && break; sleep 0.1; done

report=/tmp/varevavo-tls-scan.txt
# Debian's package installs it as "testssl".
scanner=$(command -v testssl.sh || command -v testssl)
"$scanner" --quiet --color 0 --warnings off --sneaky "127.0.0.1:$tls" > "$report" 2>&1 || true
echo "testssl.sh $("$scanner" --version 2>/dev/null | awk '/testssl.sh +[0-9]/ { print $2; exit }') against 127.0.0.1:$tls (report: $report)"
echo "Path: $(grep -o 'TLS: kernel TLS[^;]*' "$VAREVAVO_HOME/drive_c/HTTPD/LOGS/ERROR.LOG" | head -1)"
echo
echo "Protocols:"
awk '/Testing protocols/ { on = 1; next } on && /^ *$/ && seen { exit } on && NF { seen = 1; print "  " $0 }' "$report"
echo "Forward secrecy and cipher categories:"
grep -E '^ (NULL ciphers|Anonymous NULL|Export ciphers|LOW: 64 Bit|Triple DES|Obsoleted CBC|Strong encryption|FS is offered|PFS is offered|Forward Secrecy)' "$report" | sed 's/^/  /' || true
echo "Findings rated worse than OK (VULNERABLE, NOT ok, offered-but-should-not-be):"
grep -E 'VULNERABLE|NOT ok|\(deprecated\)' "$report" | grep -v 'not vulnerable' | sed 's/^/  /' || echo "  none"
echo "Vulnerability checks passed: $(grep -c 'not vulnerable' "$report")"
grep -E '^ *Overall Grade|^ *Grade cap' "$report" | sed 's/^/  /' || true
