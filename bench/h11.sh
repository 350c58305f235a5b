#!/usr/bin/env bash
# HTTP/1.1 as clients and front ends meet it, against the release build:
#   1. bench/conformance.py against Varevavo, then against nginx (in front
#      of Varevavo, which runs the script) and lighttpd on the same documents
#      (their DIFF lines are where they answer otherwise);
#   2. curl -T of a 5 MiB file with the master key (time per upload, with
#      UseHTTP11 1 and with 0), curl -T - from a pipe, and a chunked upload
#      from Python requests to a script;
#   3. nginx in front (proxy_http_version 1.1, keepalive 16): how many
#      upstream connections 10,000 requests through it open, with UseHTTP11 1
#      and with 0;
#   4. bench/smuggle.py through nginx and through HAProxy: the count of
#      requests Varevavo logged that the front ends never forwarded (must be 0).
#
#   bench/h11.sh
#
# Fixed ports (18280-18284): run it under the bench lock,
#   flock /tmp/varevavo-bench.lock bench/h11.sh
# Not part of the test suite. Installs its packages as root (else names them).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh bench
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null

work=$(mktemp -d /tmp/varevavo-h11.XXXXXX)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT

ours=18280 nginx=18281 lighty=18282 proxy=18283 haproxy=18284
export VAREVAVO_HOME="$work/home"
site="$VAREVAVO_HOME/drive_c/HTTPD"
docs="$site/HTDOCS"
mkdir -p "$docs/cgi-bin" "$site/LOGS" "$site/CGI-BIN" "$work/logs"
printf known > "$docs/k.txt"
head -c $((5 * 1024 * 1024)) /dev/urandom > "$work/5m.bin"
# A script that reads its body, for us and for lighttpd.
printf '#!/bin/sh\nprintf "Content-Type: text/plain\\r\\n\\r\\n"\nprintf "%%s length=%%s body=" "$SERVER_PROTOCOL" "$CONTENT_LENGTH"\nexec cat\n' > "$site/CGI-BIN/echo.cgi"
cp "$site/CGI-BIN/echo.cgi" "$docs/cgi-bin/echo.cgi"
chmod +x "$site/CGI-BIN/echo.cgi" "$docs/cgi-bin/echo.cgi"
chmod -R a+rX "$work"

reg=build/release/tools/varevavo-reg
key='HKLM\SOFTWARE\Raziduzovo\Varevavo\H11'
build/release/tools/varevavo-setup H11 "$ours" >/dev/null
$reg add "$key\\Server" /v ResolveLocal /t REG_DWORD /d 0 /f >/dev/null
$reg add "$key\\Server" /v SiteAddress /t REG_SZ /d 127.0.0.1 /f >/dev/null
$reg add "$key\\Server" /v UseMasterKey /t REG_DWORD /d 1 /f >/dev/null
$reg add "$key\\Server" /v MasterPassword /t REG_SZ /d secret /f >/dev/null
VAREVAVO_SHELL=console build/release/shell/ruvuzerar H11 > "$work/ours.out" 2>&1 &
pids+=($!); ours_pid=$!
# Switches UseHTTP11 and has the running server reload its setup.
http11() {
  $reg add "$key\\Network" /v UseHTTP11 /t REG_DWORD /d "$1" /f >/dev/null
  kill -HUP "$ours_pid"; sleep 1
}

cat > "$work/nginx.conf" <<CONF
worker_processes 1;
daemon off;
pid $work/nginx.pid;
error_log $work/logs/nginx-error.log;
events { worker_connections 4096; }
http {
  access_log $work/logs/nginx-access.log;
  client_body_temp_path $work/nginx-body;
  proxy_temp_path $work/nginx-proxy;
  server { listen 127.0.0.1:$nginx; root $docs; }
  upstream varevavo { server 127.0.0.1:$ours; keepalive 16; }
  server {
    listen 127.0.0.1:$proxy;
    location / { proxy_pass http://varevavo; proxy_http_version 1.1; proxy_set_header Connection ""; }
  }
}
CONF
nginx -c "$work/nginx.conf" &
pids+=($!)

cat > "$work/lighttpd.conf" <<CONF
server.document-root = "$docs"
server.bind = "127.0.0.1"
server.port = $lighty
server.modules = ( "mod_cgi" )
\$HTTP["url"] =~ "^/cgi-bin/" { cgi.assign = ( ".cgi" => "" ) }
server.errorlog = "$work/logs/lighttpd-error.log"
server.stream-request-body = 0
CONF
lighttpd -D -f "$work/lighttpd.conf" &
pids+=($!)

cat > "$work/haproxy.cfg" <<CONF
global
  maxconn 1000
  log stdout format raw local0
defaults
  mode http
  log global
  option httplog
  timeout connect 5s
  timeout client 10s
  timeout server 10s
frontend front
  bind 127.0.0.1:$haproxy
  default_backend back
backend back
  http-reuse always
  server varevavo 127.0.0.1:$ours
CONF
haproxy -db -f "$work/haproxy.cfg" > "$work/logs/haproxy.out" 2>&1 &
pids+=($!)

sleep 1
for port in $ours $nginx $lighty $proxy $haproxy; do
  curl -sf -o /dev/null "http://127.0.0.1:$port/k.txt" || { echo "server on port $port does not answer"; cat "$work/ours.out"; exit 1; }
done

echo "== 1. Conformance"
python3 bench/conformance.py $ours --name varevavo | tail -1
# nginx runs no script of its own: the bodies go through it to ours, and
# what it refuses itself shows its reading.
python3 bench/conformance.py $proxy --name nginx | grep -v ' ok$' || true
python3 bench/conformance.py $lighty --name lighttpd --script /cgi-bin/echo.cgi | grep -v ' ok$' || true

echo "== 2. Uploads"
for setting in 1 0; do
  http11 $setting
  times=$(for i in 1 2 3 4 5; do
    curl -s -o /dev/null -w '%{time_total}\n' -T "$work/5m.bin" -u admin:secret "http://127.0.0.1:$ours/up.bin"
  done | sort -n | sed -n 3p)
  piped=$({ head -c 300000 /dev/urandom || true; } | curl -s -o /dev/null -w '%{http_code}' -T - -u admin:secret "http://127.0.0.1:$ours/piped.bin")
  echo "UseHTTP11 $setting: curl -T 5 MiB median ${times}s; curl -T - from a pipe: $piped"
done
http11 1
cmp -s "$work/5m.bin" "$docs/up.bin" && echo "the uploaded file is whole"
python3 - "$ours" <<'PY'
import sys, requests
r = requests.post("http://127.0.0.1:%s/CGI-BIN/echo.cgi" % sys.argv[1], data=(b"x" * 1000 for _ in range(100)))
print("Python requests chunked upload to a script:", r.status_code, r.text[:32])
PY

echo "== 3. nginx in front: upstream connections for 10,000 requests"
# The peers of our port's connections, open or ended lately (TIME-WAIT): a
# connection the run opened is a peer not there before it.
peers() { ss -Htan "( sport = :$ours )" | awk '$1 != "LISTEN" { print $5 }' | sort -u; }
for setting in 1 0; do
  http11 $setting
  peers > "$work/peers-before"
  ab -q -k -c 8 -n 10000 "http://127.0.0.1:$proxy/k.txt" | awk '/Complete requests|Failed requests/'
  peers > "$work/peers-after"
  echo "UseHTTP11 $setting: upstream connections opened: $(comm -13 "$work/peers-before" "$work/peers-after" | wc -l)"
done
http11 1

echo "== 4. Request smuggling through nginx and HAProxy"
# A hidden request the front end forwarded as one of its own is in its log
# too; one that only Varevavo logged was smuggled past it.
hidden() { grep -o "/smuggled-$1-[0-9]*" "$2" | sort -u; }
for front in nginx:$proxy:$work/logs/nginx-access.log haproxy:$haproxy:$work/logs/haproxy.out; do
  IFS=: read -r name port log <<<"$front"
  python3 bench/smuggle.py "$port" --tag "$name" | sed "s/^/$name: /"
  sleep 1
  ours_saw=$(hidden "$name" "$site/LOGS/ACCESS.LOG" | wc -l)
  past=$(comm -23 <(hidden "$name" "$site/LOGS/ACCESS.LOG") <(hidden "$name" "$log") | wc -l)
  echo "$name: hidden requests Varevavo served: $ours_saw, of which the front end never forwarded: $past"
done
