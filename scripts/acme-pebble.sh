#!/usr/bin/env bash
# Automatic certificates end to end, offline on loopback, against pebble
# (the ACME test authority) and pebble-challtestsrv (its DNS, which sends
# every name to 127.0.0.1), with the server of the debug build:
#   - a fresh home with AutoCertificate 1 and pebble's directory gets a
#     certificate signed by pebble's root within 30 s, and curl --cacert
#     <pebble root> fetches the welcome page with it; the key is mode 0600;
#   - a challenge answers on the plain port alone, from the challenge
#     folder (never the document root), only while pending, only at its own
#     path;
#   - a forced renewal (VAREVAVO_ACME_RENEW_AFTER) replaces the certificate
#     while a kept-alive connection goes on with the old one;
#   - a name added to the setup gets a certificate after the reload;
#   - pebble refusing (the name sent to an address nobody answers on) leaves
#     the certificate serving and an error-log line with pebble's reason;
#   - without the helper: one error-log line, the self-signed pair serves.
# uacme trusts only the system's certificate store: as root the script adds
# pebble's listener certificate there and removes it again whatever happens;
# as another user it says so and checks nothing.
# Usage: scripts/acme-pebble.sh (after a debug build; ACME_PEBBLE_BUILD=build/tsan
# runs a ThreadSanitizer build's server instead)
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ $(id -u) -ne 0 ]]; then
  echo "acme-pebble: skipped: uacme trusts only the system store, and adding pebble's certificate there needs root"
  exit 0
fi
./scripts/setup.sh acme
source scripts/checks.sh

bin=${ACME_PEBBLE_BUILD:-$PWD/build/debug}  # another build's folder (build/tsan) may stand in
name=acme.varevavo.test
plain=18780 tls=18743 acme=18714 manage=18715 dns=18753 dnsmanage=18755
work=$(mktemp -d)
trusted=/usr/local/share/ca-certificates/varevavo-pebble-test.crt
pids=()
cleanup() {
  set +e
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null
  done
  if [[ -e $trusted ]]; then rm -f "$trusted"; update-ca-certificates --fresh >/dev/null 2>&1; fi
  [[ -n ${ACME_PEBBLE_KEEP:-} ]] && echo "kept: $work" || rm -rf "$work"
}
trap cleanup EXIT

wait_for() {  # wait_for SECONDS COMMAND...: the command comes to succeed
  local seconds=$1
  shift
  for _ in $(seq $((seconds * 10))); do "$@" 2>/dev/null && return 0; sleep 0.1; done
  return 1
}

# pebble's own listener, trusted by the system store while the script runs.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 -subj /CN=localhost \
  -addext "subjectAltName=DNS:localhost,IP:127.0.0.1" -keyout "$work/listener.key" -out "$work/listener.crt" 2>/dev/null
cp "$work/listener.crt" "$trusted"
update-ca-certificates >/dev/null 2>&1
cat >"$work/pebble.json" <<EOF
{"pebble": {"listenAddress": "127.0.0.1:$acme", "managementListenAddress": "127.0.0.1:$manage",
  "certificate": "$work/listener.crt", "privateKey": "$work/listener.key",
  "httpPort": $plain, "tlsPort": 5001, "ocspResponderURL": "", "externalAccountBindingRequired": false}}
EOF
pebble-challtestsrv -defaultIPv4 127.0.0.1 -defaultIPv6 "" -dns01 127.0.0.1:$dns -http01 "" -https01 "" \
  -tlsalpn01 "" -management 127.0.0.1:$dnsmanage >"$work/challtestsrv.out" 2>&1 &
pids+=($!)
PEBBLE_VA_NOSLEEP=1 PEBBLE_WFE_NONCEREJECT=0 PEBBLE_AUTHZREUSE=0 PEBBLE_VA_ALWAYS_VALID=0 \
  pebble -config "$work/pebble.json" -dnsserver 127.0.0.1:$dns >"$work/pebble.out" 2>&1 &
pids+=($!)
wait_for 20 curl -sf --cacert "$work/listener.crt" -o /dev/null "https://localhost:$acme/dir" ||
  { cat "$work/pebble.out"; echo "acme-pebble: pebble did not start"; exit 1; }
curl -sf --cacert "$work/listener.crt" "https://localhost:$manage/roots/0" >"$work/root.pem"

# A fresh home that asks for automatic certificates from pebble.
export VAREVAVO_HOME=$work/home VAREVAVO_SHELL=console
key='HKLM\SOFTWARE\Raziduzovo\Varevavo\Primary'
"$bin/tools/varevavo-setup" Primary $plain >/dev/null
cp -r site/. "$VAREVAVO_HOME/drive_c/HTTPD/"
reg() { "$bin/tools/varevavo-reg" add "$key\\$1" /v "$2" /t "$3" /d "$4" /f >/dev/null; }
reg Network BindAddress REG_SZ 127.0.0.1
reg Network KeepAlive REG_DWORD 120000
reg TLS TLSPort REG_DWORD $tls
reg TLS AutoCertificate REG_DWORD 1
reg TLS ACMEDirectory REG_SZ "https://localhost:$acme/dir"
reg TLS ACMEEmail REG_SZ "ops@$name"
reg TLS ACMENames REG_SZ "$name"
logs=$VAREVAVO_HOME/drive_c/HTTPD/LOGS
acmedir=$VAREVAVO_HOME/drive_c/HTTPD/TLS/ACME
challenges=$acmedir/challenges
htdocs=$VAREVAVO_HOME/drive_c/HTTPD/HTDOCS
mkdir -p "$logs"

issuer() {  # issuer PORT: the issuer of the certificate served there
  openssl s_client -connect 127.0.0.1:"$1" -servername $name </dev/null 2>/dev/null |
    openssl x509 -noout -issuer 2>/dev/null
}
fingerprint() {
  openssl s_client -connect 127.0.0.1:$tls -servername $name </dev/null 2>/dev/null |
    openssl x509 -noout -fingerprint -sha256 2>/dev/null
}
by_pebble() { issuer $tls | grep -q Pebble; }

started=$(date +%s%N)
VAREVAVO_ACME_RENEW_AFTER=20 "$bin/shell/ruvuzerar" >"$work/server.out" 2>&1 &
server=$!
pids+=($server)
if wait_for 30 by_pebble; then
  pass "certificate signed by pebble served within 30 s ($((($(date +%s%N) - started) / 1000000)) ms)"
else
  fail "certificate signed by pebble served within 30 s (issuer: $(issuer $tls))"
fi
curl -sS --max-time 10 --cacert "$work/root.pem" --resolve $name:$tls:127.0.0.1 "https://$name:$tls/" \
  >"$work/welcome.html" 2>&1 || true
check "curl --cacert <pebble root> fetches the welcome page over TLS" grep -q 'Varevavo is running' "$work/welcome.html"
check "the certificate's key and the account key are mode 0600" \
  test "$(stat -c %a "$acmedir/private/$name/key.pem" "$acmedir/private/key.pem" | sort -u)" = 600
check "no challenge is left pending after the issuance" test -z "$(ls -A "$challenges")"

# The challenge answer: what the hook makes pending, where it is asked, and
# nothing once it ends.
token=Tok3n_-x9
plainurl=http://127.0.0.1:$plain/.well-known/acme-challenge
mkdir -p "$htdocs/.well-known/acme-challenge"
echo from-document-root >"$htdocs/.well-known/acme-challenge/$token"
"$bin/shell/varevavo-acme-hook" begin http-01 $name $token "$token.authorization"
check "a pending challenge answers on the plain port with its authorization, not the document root's file" \
  test "$(curl -s --max-time 5 "$plainurl/$token")" = "$token.authorization"
check "a pending challenge does not answer on the TLS port" bash -c \
  "! curl -s --max-time 5 --cacert '$work/root.pem' --resolve $name:$tls:127.0.0.1 \
    https://$name:$tls/.well-known/acme-challenge/$token | grep -q authorization"
check "a pending challenge does not answer at another path" \
  test "$(curl -s -o /dev/null -w '%{http_code}' --max-time 5 "http://127.0.0.1:$plain/acme-challenge/$token")" = 404
check "an escaped separator or dot leads to no challenge" bash -c \
  "! curl -s --max-time 5 '$plainurl/%2E%2E%2Fchallenges%2F$token' | grep -q authorization"
"$bin/shell/varevavo-acme-hook" done http-01 $name $token x
rm -f "$htdocs/.well-known/acme-challenge/$token"
check "an ended challenge answers nothing (404)" \
  test "$(curl -s -o /dev/null -w '%{http_code}' --max-time 5 "$plainurl/$token")" = 404
check "the hook refuses a token with a path in it" bash -c \
  "! '$bin/shell/varevavo-acme-hook' begin http-01 $name ../../x y && test ! -e '$acmedir/x'"

# A forced renewal while a kept-alive connection is open: it goes on being
# answered, with the certificate it began with, while new connections get
# the new one.
cat >"$work/kept.py" <<'EOF'
import hashlib, socket, ssl, sys, time
name, port, root = sys.argv[1], int(sys.argv[2]), sys.argv[3]
context = ssl.create_default_context(cafile=root)
def connect():
    s = context.wrap_socket(socket.create_connection(("127.0.0.1", port), timeout=10), server_hostname=name)
    return s, hashlib.sha256(s.getpeercert(binary_form=True)).hexdigest()
def get(s):
    s.sendall(("GET / HTTP/1.1\r\nHost: %s\r\n\r\n" % name).encode())
    data = b""
    while b"\r\n\r\n" not in data:
        data += s.recv(65536)
    head, body = data.split(b"\r\n\r\n", 1)
    length = int([l.split(b":")[1] for l in head.split(b"\r\n") if l.lower().startswith(b"content-length")][0])
    while len(body) < length:
        body += s.recv(65536)
    return head.split(b" ")[1] == b"200"
kept, first = connect()
answered = get(kept)
deadline = time.time() + 90
renewed = None
while time.time() < deadline:
    time.sleep(2)
    answered = answered and get(kept)
    s, now = connect()
    s.close()
    if now != first:
        renewed = now
        break
answered = answered and get(kept)
print("renewed" if renewed else "not renewed", "kept-alive connection answered" if answered else "dropped")
sys.exit(0 if renewed and answered else 1)
EOF
check "a forced renewal replaces the certificate without dropping a kept-alive connection" \
  python3 "$work/kept.py" $name $tls "$work/root.pem"
check "the renewal is said in the error log" grep -q "Automatic certificate obtained" "$logs/ERROR.LOG"

# Another name in the setup: a certificate for both at once, not at the
# next renewal.
reg TLS ACMENames REG_SZ "$name, www.$name"
kill -HUP $server
both_names() {
  openssl s_client -connect 127.0.0.1:$tls -servername $name </dev/null 2>/dev/null |
    openssl x509 -noout -ext subjectAltName 2>/dev/null | grep -q "DNS:www.$name"
}
check "a name added to ACMENames is in the certificate served within 30 s of the reload" wait_for 30 both_names

# pebble refusing: the name now leads to an address nobody answers on.
before=$(fingerprint)
curl -sf -X POST -d "{\"host\":\"$name\",\"addresses\":[\"127.0.0.2\"]}" "http://127.0.0.1:$dnsmanage/add-a"
refused() { grep -q "not obtained" "$logs/ERROR.LOG"; }
if wait_for 60 refused; then
  pass "a refused renewal writes an error-log line: $(grep "not obtained" "$logs/ERROR.LOG" | head -1 | cut -c1-220)"
else
  fail "a refused renewal writes an error-log line"
fi
check "the error-log line carries pebble's reason" grep -q "not obtained.*urn:ietf:params:acme:error" "$logs/ERROR.LOG"
check "after the refusal the certificate in force still serves" test "$(fingerprint)" = "$before"
check "after the refusal no challenge is left pending" test -z "$(ls -A "$challenges")"
check "/~stats shows the next renewal and the last error" bash -c \
  "curl -s --max-time 5 http://127.0.0.1:$plain/~stats | grep -q 'Certificate renewal:' &&
   curl -s --max-time 5 http://127.0.0.1:$plain/~stats | grep 'Certificate error:' | grep -qv none"
kill -TERM $server
check "SIGTERM stops the server with status 0" wait $server
check "the server's output has no sanitizer report" bash -c "! grep -q Sanitizer '$work/server.out'"

# Without the helper: said once, and the self-signed pair goes on serving.
export VAREVAVO_HOME=$work/bare
"$bin/tools/varevavo-setup" Primary $plain >/dev/null
cp -r site/. "$VAREVAVO_HOME/drive_c/HTTPD/"
reg Network BindAddress REG_SZ 127.0.0.1
reg TLS TLSPort REG_DWORD $tls
reg TLS AutoCertificate REG_DWORD 1
mkdir -p "$work/nobin"
PATH=$work/nobin "$bin/shell/ruvuzerar" >"$work/bare.out" 2>&1 &
server=$!
pids+=($server)
missing() { grep -q "helper uacme .* is missing" "$work/bare/drive_c/HTTPD/LOGS/ERROR.LOG"; }
check "without the helper: an error-log line says it is missing" wait_for 20 missing
self_signed() { test "$(curl -sk -o /dev/null -w '%{http_code}' --max-time 5 https://127.0.0.1:$tls/)" = 200; }
check "without the helper: the self-signed pair serves HTTPS" wait_for 10 self_signed
kill -TERM $server
wait $server || true

report acme-pebble
