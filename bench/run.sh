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
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT

# --- the shared document root -------------------------------------------------
export VAREVAVO_HOME="$work/home"
docs="$VAREVAVO_HOME/drive_c/HTTPD/HTDOCS"
mkdir -p "$docs" "$VAREVAVO_HOME/drive_c/HTTPD/LOGS" "$work/logs"
head -c 1024 /dev/urandom > "$docs/1k.bin"
head -c $((100 * 1024)) /dev/urandom > "$docs/100k.bin"
head -c $((10 * 1024 * 1024)) /dev/urandom > "$docs/10m.bin"
chmod -R a+rX "$work"

ours=18080 nginx=18081 lighty=18082

# --- Varevavo ----------------------------------------------------------------
build/release/tools/varevavo-setup Bench "$ours"
reg=build/release/tools/varevavo-reg
key='HKLM\SOFTWARE\Raziduzovo\Varevavo\Bench'
$reg add "$key\\Network" /v UseKeepAlive /t REG_DWORD /d 1 /f >/dev/null
$reg add "$key\\Server" /v NumThreads /t REG_DWORD /d 128 /f >/dev/null
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
server.modules = ( "mod_accesslog" )
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

rss() { awk '/VmRSS/ { print $2 }' "/proc/$1/status"; }  # KiB

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

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }

printf "%-34s %12s %12s %12s %8s %8s\n" "measurement" "varevavo" "nginx" "lighttpd" "/nginx" "/lighttpd"
row() {  # label path concurrency keepalive [mb]
  local label=$1; shift
  local a b c
  a=$(measure $ours "$@"); b=$(measure $nginx "$@"); c=$(measure $lighty "$@")
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

# Resident memory under 64 connections: sampled in the middle of a run.
( ab -q -k -c 64 -t "$secs" -n 100000000 "http://127.0.0.1:$ours/1k.bin" >/dev/null 2>&1 & sleep $((secs / 2 + 1)); rss $ours_pid > "$work/rss-ours"; wait ) 
( ab -q -k -c 64 -t "$secs" -n 100000000 "http://127.0.0.1:$nginx/1k.bin" >/dev/null 2>&1 & sleep $((secs / 2 + 1)); rss $nginx_pid > "$work/rss-nginx"; wait )
( ab -q -k -c 64 -t "$secs" -n 100000000 "http://127.0.0.1:$lighty/1k.bin" >/dev/null 2>&1 & sleep $((secs / 2 + 1)); rss $lighty_pid > "$work/rss-lighty"; wait )
printf "%-34s %12s %12s %12s %8s %8s\n" "resident memory idle (KiB)" "$idle_ours" "$idle_nginx" "$idle_lighty" \
  "$(ratio "$idle_ours" "$idle_nginx")" "$(ratio "$idle_ours" "$idle_lighty")"
busy_ours=$(cat "$work/rss-ours"); busy_nginx=$(cat "$work/rss-nginx"); busy_lighty=$(cat "$work/rss-lighty")
printf "%-34s %12s %12s %12s %8s %8s\n" "resident memory, 64 conns (KiB)" "$busy_ours" "$busy_nginx" "$busy_lighty" \
  "$(ratio "$busy_ours" "$busy_nginx")" "$(ratio "$busy_ours" "$busy_lighty")"
