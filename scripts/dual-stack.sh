#!/usr/bin/env bash
# Checks that a server on its default BindAddress (every address of both
# families) answers IPv6 clients as it answers IPv4 ones: every exchange a
# visitor or a publisher makes (a document, a listing, a redirect, a CGI
# script and a Windows CGI program that report REMOTE_ADDR, PUT and DELETE
# with the master key, /~stats) is made with curl -4 to 127.0.0.1 and with
# curl -6 to [::1], and the two answers must be the same bytes once the
# client's address (and the lengths and counters it changes) is written
# alike; Python's requests fetches the welcome page over [::1]; the logs
# name each client in its own form. Not part of the test suite: the tests
# cover the same ground exchange by exchange. Skips where the loopback has
# no ::1. Usage: scripts/dual-stack.sh
set -euo pipefail
cd "$(dirname "$0")/.."
if ! python3 -c 'import socket; socket.socket(socket.AF_INET6).bind(("::1", 0))' 2>/dev/null; then
  echo "dual-stack: skipped: the loopback has no ::1 (IPv6 is off)"
  exit 0
fi
./scripts/setup.sh test dualstack
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
source scripts/checks.sh

bin=$PWD/build/release
work=$(mktemp -d)
export VAREVAVO_HOME=$work/home
pid=
cleanup() {
  set +e
  if [[ -n $pid ]]; then
    kill -TERM "$pid" 2>/dev/null
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# A port free in both families.
port=$(python3 -c 'import socket; s = socket.socket(socket.AF_INET6); s.bind(("::", 0)); print(s.getsockname()[1])')
site=$VAREVAVO_HOME/drive_c/HTTPD
(umask 077 && mkdir -p "$site")
cp -r site/. "$site/"
"$bin/tools/varevavo-setup" Primary "$port"
key='HKLM\SOFTWARE\Raziduzovo\Varevavo\Primary'
"$bin/tools/varevavo-reg" add "$key\\Server" /v UseMasterKey /t REG_DWORD /d 1 /f >/dev/null
"$bin/tools/varevavo-reg" add "$key\\Server" /v MasterPassword /t REG_SZ /d secret /f >/dev/null
mkdir -p "$site/HTDOCS/listing"
echo "listed" >"$site/HTDOCS/listing/a.txt"
printf '#!/bin/sh\nprintf "Content-Type: text/plain\\r\\n\\r\\nREMOTE_ADDR=%%s SERVER_NAME=%%s\\n" "$REMOTE_ADDR" "$SERVER_NAME"\n' \
  >"$site/CGI-BIN/addr.cgi"
cat >"$site/CGI-WIN/addr.py" <<'EOF'
#!/usr/bin/env python3
import sys
lines = open(sys.argv[1], encoding='latin-1').read().splitlines()
found = [l for l in lines if l.startswith('Remote Address=')]
open(sys.argv[3], 'w').write('Content-Type: text/plain\r\n\r\n' + found[0] + '\n')
EOF
chmod 755 "$site/CGI-BIN/addr.cgi" "$site/CGI-WIN/addr.py"
echo "published" >"$work/put.txt"

"$bin/shell/ruvuzerar" Primary </dev/null >"$work/server.out" 2>&1 &
pid=$!
for _ in $(seq 100); do curl -s -o /dev/null --max-time 1 "http://127.0.0.1:$port/" && break; sleep 0.1; done

# exchange FAMILY PATH [CURL ARGUMENTS]: the whole answer, with the date,
# the lengths and the client's address (and host) written alike.
exchange() {
  local family=$1 host=127.0.0.1 path=$2
  shift 2
  [[ $family == 6 ]] && host='[::1]'
  curl -s -i --max-time 10 "-$family" "$@" "http://$host:$port$path" |
    sed -e 's/^Date: .*/Date: <date>/' -e 's/^Content-Length: .*/Content-Length: <n>/' \
      -e 's/\[::1\]/<client>/g' -e 's/127\.0\.0\.1/<client>/g' -e 's/::1/<client>/g'
}
same() {  # same NAME PATH [CURL ARGUMENTS]: both families get the same answer
  local name=$1
  shift
  exchange 4 "$@" >"$work/v4"
  exchange 6 "$@" >"$work/v6"
  if [[ -s $work/v4 ]] && cmp -s "$work/v4" "$work/v6"; then pass "$name over IPv4 and IPv6"; else
    fail "$name over IPv4 and IPv6"
    diff "$work/v4" "$work/v6" | head -20 || true
  fi
}

echo "== the same exchanges over both families"
same "a document" /
same "a listing" /listing/
same "a redirect to the folder" /listing
same "a CGI script's REMOTE_ADDR" /CGI-BIN/addr.cgi
same "a Windows CGI program's Remote Address" /CGI-WIN/addr.py
# Publishing changes the site: each family stores the file and deletes it again.
publish() {
  exchange "$1" /put.txt -T "$work/put.txt" -u admin:secret
  exchange "$1" /put.txt -X DELETE -u admin:secret
}
publish 4 >"$work/v4"
publish 6 >"$work/v6"
check "a PUT and a DELETE with the master key over IPv4 and IPv6" cmp -s "$work/v4" "$work/v6"
check "... which stored and deleted the file" grep -q "Document Created" "$work/v6"
same "a missing file" /nothing.html
# The statistics count what came before: their numbers differ by design.
exchange 4 /~stats | sed 's/[0-9]\+/N/g' >"$work/v4"
exchange 6 /~stats | sed 's/[0-9]\+/N/g' >"$work/v6"
check "/~stats over IPv4 and IPv6" cmp -s "$work/v4" "$work/v6"

echo "== what each client is told and where it is written"
check "curl -6: REMOTE_ADDR is ::1" grep -q '^REMOTE_ADDR=::1 ' <(curl -s -6 "http://[::1]:$port/CGI-BIN/addr.cgi")
check "curl -4: REMOTE_ADDR is dotted, never ::ffff:" \
  grep -q '^REMOTE_ADDR=127.0.0.1 ' <(curl -s -4 "http://127.0.0.1:$port/CGI-BIN/addr.cgi")
check "Windows CGI: Remote Address=::1" grep -q '^Remote Address=::1$' <(curl -s -6 "http://[::1]:$port/CGI-WIN/addr.py")
check "the redirect names [::1] from the Host header" \
  grep -q "^Location: http://\[::1\]:$port/listing/" <(curl -s -i -6 "http://[::1]:$port/listing" | tr -d '\r')
check "Python requests over [::1]: the welcome page, as over IPv4" /usr/bin/python3 - "$port" <<'EOF'
import sys, requests
port = sys.argv[1]
six = requests.get('http://[::1]:%s/' % port, timeout=10)
four = requests.get('http://127.0.0.1:%s/' % port, timeout=10)
sys.exit(not (six.status_code == 200 and six.content == four.content and b'Varevavo is running' in six.content))
EOF
log=$site/LOGS
check "the access log names IPv6 clients ::1" grep -q '^::1 - - \[' "$log/ACCESS.LOG"
check "... and IPv4 clients dotted" grep -q '^127\.0\.0\.1 - - \[' "$log/ACCESS.LOG"
check "... never in the mapped form" test -z "$(grep -i 'ffff' "$log/ACCESS.LOG")"
check "the error log names ::1 for the missing file" grep -q '^::1 \[.*nothing.html' "$log/ERROR.LOG"
report dual-stack
