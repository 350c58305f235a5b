#!/usr/bin/env bash
# Benchmarks Varevavo side by side with nginx and lighttpd (one worker
# process each, each writing an access-log line per request) on the same
# document root over loopback, and prints requests per second, MB/s and
# resident memory with the ratios of ours to each peer.
#
#   bench/run.sh [seconds per measurement, default 5]
#
# Not part of the test suite. Needs root for the packages (or installs them
# yourself: nginx-light lighttpd apache2-utils).
set -euo pipefail
cd "$(dirname "$0")/.."
secs="${1:-5}"
./scripts/setup.sh bench
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null

work=$(mktemp -d /tmp/varevavo-bench.XXXXXX)
pids=()
# Our server's own messages are kept for a look after the run.
keep_log() { cp "$work/ours.out" /tmp/varevavo-bench-ours.out 2>/dev/null || true; }
cleanup() { keep_log; for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT

# --- the shared document root -------------------------------------------------
export VAREVAVO_HOME="$work/home"
docs="$VAREVAVO_HOME/drive_c/HTTPD/HTDOCS"
mkdir -p "$docs" "$VAREVAVO_HOME/drive_c/HTTPD/LOGS" "$work/logs"
head -c 1024 /dev/urandom > "$docs/1k.bin"
head -c $((100 * 1024)) /dev/urandom > "$docs/100k.bin"
head -c $((10 * 1024 * 1024)) /dev/urandom > "$docs/10m.bin"
# A trivial script and a parsed page with one include and one echo, served
# by ours and by lighttpd (nginx runs no CGI).
cgi="$VAREVAVO_HOME/drive_c/HTTPD/CGI-BIN"
mkdir -p "$cgi" "$docs/cgi-bin"
printf '#!/bin/sh\nprintf "Content-Type: text/plain\\r\\n\\r\\nhello\\n"\n' > "$cgi/t.cgi"
cp "$cgi/t.cgi" "$docs/cgi-bin/t.cgi"
chmod +x "$cgi/t.cgi" "$docs/cgi-bin/t.cgi"
printf '<p>footer</p>\n' > "$docs/footer.html"
printf '<html><body>\n<!--#include virtual="/footer.html" -->\n<p><!--#echo var="DOCUMENT_URI" --></p>\n</body></html>\n' > "$docs/page.shtml"
chmod -R a+rX "$work"

ours=18080 nginx=18081 lighty=18082

# --- Varevavo ----------------------------------------------------------------
build/release/tools/varevavo-setup Bench "$ours"
reg=build/release/tools/varevavo-reg
key='HKLM\SOFTWARE\Raziduzovo\Varevavo\Bench'
$reg add "$key\\Network" /v UseKeepAlive /t REG_DWORD /d 1 /f >/dev/null
$reg add "$key\\Server" /v NumThreads /t REG_DWORD /d 80 /f >/dev/null  # 64 connections stay under nine tenths
$reg add "$key\\Server" /v ResolveLocal /t REG_DWORD /d 0 /f >/dev/null
$reg add "$key\\Server" /v SiteAddress /t REG_SZ /d 127.0.0.1 /f >/dev/null
VAREVAVO_SHELL=console build/release/shell/ruvuzerar Bench > "$work/ours.out" 2>&1 &
pids+=($!); ours_pid=$!

# --- nginx -------------------------------------------------------------------
cat > "$work/nginx.conf" <<CONF
worker_processes 1;
daemon off;
pid $work/nginx.pid;
error_log $work/logs/nginx-error.log;
events { worker_connections 4096; }
http {
  access_log $work/logs/nginx-access.log;
  sendfile on;
  tcp_nopush on;
  keepalive_requests 100000000;
  keepalive_timeout 10s;
  default_type application/octet-stream;
  server { listen 127.0.0.1:$nginx; root $docs; }
}
CONF
nginx -c "$work/nginx.conf" &
pids+=($!); nginx_pid=$!

# --- lighttpd ----------------------------------------------------------------
cat > "$work/lighttpd.conf" <<CONF
server.document-root = "$docs"
server.bind = "127.0.0.1"
server.port = $lighty
server.modules = ( "mod_accesslog", "mod_cgi", "mod_ssi" )
\$HTTP["url"] =~ "^/cgi-bin/" { cgi.assign = ( ".cgi" => "" ) }
ssi.extension = ( ".shtml" )
accesslog.filename = "$work/logs/lighttpd-access.log"
server.errorlog = "$work/logs/lighttpd-error.log"
server.max-keep-alive-requests = 100000000
server.max-keep-alive-idle = 10
server.max-fds = 4096
CONF
lighttpd -D -f "$work/lighttpd.conf" &
pids+=($!); lighty_pid=$!

sleep 1
for port in $ours $nginx $lighty; do
  curl -sf -o /dev/null "http://127.0.0.1:$port/1k.bin" || { echo "server on port $port does not answer"; cat "$work/ours.out"; exit 1; }
done

# Resident memory of a server and its children (nginx's worker), KiB.
rss() {
  local total=0 p
  for p in $1 $(pgrep -P "$1" || true); do
    total=$((total + $(awk '/VmRSS/ { print $2 }' "/proc/$p/status" 2>/dev/null || echo 0)))
  done
  echo $total
}

# ab's figure for one measurement: requests/s (or MB/s with "mb").
measure() {  # port path concurrency keepalive(0/1) [mb]
  local port=$1 path=$2 c=$3 k=$4 unit=${5:-rps}
  local args=(-q -c "$c" -t "$secs" -n 100000000)
  [[ $k == 1 ]] && args+=(-k)
  local out
  out=$(ab "${args[@]}" "http://127.0.0.1:$port$path" 2>&1)
  if [[ $unit == mb ]]; then
    awk '/Transfer rate:/ { printf "%.1f", $3 / 1024 }' <<<"$out"
  else
    awk '/Requests per second:/ { printf "%.0f", $4 }' <<<"$out"
  fi
}

alive() {  # a server that died takes the rest of the run with it
  kill -0 "$ours_pid" 2>/dev/null && return 0
  wait "$ours_pid"; echo "varevavo ended (status $?):"; cat "$work/ours.out"; exit 1
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }

printf "%-34s %12s %12s %12s %8s %8s\n" "measurement" "varevavo" "nginx" "lighttpd" "/nginx" "/lighttpd"
row() {  # label path concurrency keepalive [mb]
  local label=$1; shift
  local a b c
  a=$(measure $ours "$@"); alive; b=$(measure $nginx "$@"); c=$(measure $lighty "$@")
  printf "%-34s %12s %12s %12s %8s %8s\n" "$label" "$a" "$b" "$c" "$(ratio "$a" "$b")" "$(ratio "$a" "$c")"
}

idle_ours=$(rss $ours_pid); idle_nginx=$(rss $nginx_pid); idle_lighty=$(rss $lighty_pid)

row "1 KiB keep-alive, 1 conn (req/s)" /1k.bin 1 1
row "1 KiB keep-alive, 8 conns (req/s)" /1k.bin 8 1
row "1 KiB keep-alive, 64 conns (req/s)" /1k.bin 64 1
row "1 KiB no keep-alive, 1 conn (req/s)" /1k.bin 1 0
row "1 KiB no keep-alive, 8 conns (req/s)" /1k.bin 8 0
row "100 KiB keep-alive, 8 conns (req/s)" /100k.bin 8 1
row "10 MiB keep-alive, 4 conns (MB/s)" /10m.bin 4 1 mb

# Dynamic content, against lighttpd only (mod_cgi, mod_ssi).
dyn() {  # label path concurrency keepalive
  local label=$1; shift
  local a c
  a=$(measure $ours "$@"); alive; c=$(measure $lighty "$@")
  printf "%-34s %12s %12s %12s %8s %8s\n" "$label" "$a" "-" "$c" "-" "$(ratio "$a" "$c")"
}
dyn "CGI script, 8 conns (req/s)" /cgi-bin/t.cgi 8 0
dyn "SSI page, 8 conns keep-alive (req/s)" /page.shtml 8 1

# Resident memory under 64 connections: sampled in the middle of a run.
( ab -q -k -c 64 -t "$secs" -n 100000000 "http://127.0.0.1:$ours/1k.bin" >/dev/null 2>&1 & sleep $((secs / 2 + 1)); rss $ours_pid > "$work/rss-ours"; wait ) 
( ab -q -k -c 64 -t "$secs" -n 100000000 "http://127.0.0.1:$nginx/1k.bin" >/dev/null 2>&1 & sleep $((secs / 2 + 1)); rss $nginx_pid > "$work/rss-nginx"; wait )
( ab -q -k -c 64 -t "$secs" -n 100000000 "http://127.0.0.1:$lighty/1k.bin" >/dev/null 2>&1 & sleep $((secs / 2 + 1)); rss $lighty_pid > "$work/rss-lighty"; wait )
printf "%-34s %12s %12s %12s %8s %8s\n" "resident memory idle (KiB)" "$idle_ours" "$idle_nginx" "$idle_lighty" \
  "$(ratio "$idle_ours" "$idle_nginx")" "$(ratio "$idle_ours" "$idle_lighty")"
busy_ours=$(cat "$work/rss-ours"); busy_nginx=$(cat "$work/rss-nginx"); busy_lighty=$(cat "$work/rss-lighty")
printf "%-34s %12s %12s %12s %8s %8s\n" "resident memory, 64 conns (KiB)" "$busy_ours" "$busy_nginx" "$busy_lighty" \
  "$(ratio "$busy_ours" "$busy_nginx")" "$(ratio "$busy_ours" "$busy_lighty")"
