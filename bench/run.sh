#!/usr/bin/env bash
# Benchmarks Varevavo side by side with lighttpd, nginx and h2o (one worker
# process or thread each, every server writing an access-log line per
# request) and a one-thread epoll "floor" that returns a canned 1 KiB answer
# with one read and one write per request, all on one document root over
# loopback. Each server also serves HTTPS (TLS 1.3, the one ECDSA P-256
# certificate Varevavo's setup made) on a second port for the rows marked
# https; the error log of ours says which TLS path (kernel or user space)
# the figures used.
#
#   bench/run.sh [rounds, default 3] [seconds per measurement, default 4] [rows]
#
# rows: only the throughput rows whose label holds this text ("wrk"), and
# no cost or memory tables.
#
# The machine is shared and noisy, so the servers are interleaved round by
# round (ours, lighttpd, nginx, h2o, floor; each round starts every row with
# the next of them), and the tables print the median of the rounds and, as
# ratios, the median of each round's own ratio against each peer and
# against the best of lighttpd, nginx and h2o in that round (each round's
# figures are kept in /tmp/varevavo-bench-rounds.txt). A second table gives
# what a kept-alive 1 KiB request costs ours and lighttpd at 8 and 64
# connections in system calls (strace -c -f), context switches, CPU time
# and minor page faults (the kernel's counters), which are steady whatever
# else the machine does. A third table gives a kept-alive 100 KiB CSS file
# asked for with "Accept-Encoding: gzip": ours (compressed once, kept in
# its cache) beside nginx with gzip_static and a .gz copy, lighttpd with
# mod_deflate's cache, and nginx compressing every answer (no copy).
#
# Not part of the test suite. Installs its packages as root (else names them).
set -euo pipefail
cd "$(dirname "$0")/.."
rounds="${1:-3}"
secs="${2:-4}"
only="${3:-}"
./scripts/setup.sh bench
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null

work=$(mktemp -d /tmp/varevavo-bench.XXXXXX)
pids=()
keep_log() { cp "$work/ours.out" /tmp/varevavo-bench-ours.out 2>/dev/null || true; cp "$work/raw" /tmp/varevavo-bench-rounds.txt 2>/dev/null || true; }
cleanup() { keep_log; for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT

c++ -O2 -std=c++20 -o "$work/floor" bench/floor.cpp

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
# 100 KiB of style sheet, without a copy beside it; the gzip_static peer
# has its own root with the copy.
awk -v size=$((100 * 1024)) 'BEGIN { srand(1); while (n < size) { s = sprintf(".c%d { margin: %dpx auto; color: #%06x; }\n", i++, int(rand() * 40), int(rand() * 16777215)); s = substr(s, 1, size - n); printf "%s", s; n += length(s) } }' > "$docs/100k.css"
mkdir -p "$work/static"
cp "$docs/100k.css" "$work/static/100k.css"
gzip -9 -k "$work/static/100k.css"
chmod -R a+rX "$work"

ours=18080 nginx=18081 lighty=18082 floor=18083 h2o=18084 nginxgz=18085 nginxfly=18086 lightygz=18087
ours_tls=18480 nginx_tls=18481 lighty_tls=18482 h2o_tls=18484

# --- Varevavo (its default pool of 16 slots) ------------------------------------
build/release/tools/varevavo-setup Bench "$ours"
reg=build/release/tools/varevavo-reg
key='HKLM\SOFTWARE\Raziduzovo\Varevavo\Bench'
$reg add "$key\\Network" /v UseKeepAlive /t REG_DWORD /d 1 /f >/dev/null
$reg add "$key\\Server" /v NumThreads /t REG_DWORD /d 80 /f >/dev/null  # 64 connections stay under nine tenths
$reg add "$key\\Server" /v ResolveLocal /t REG_DWORD /d 0 /f >/dev/null
$reg add "$key\\Server" /v SiteAddress /t REG_SZ /d 127.0.0.1 /f >/dev/null
# On 127.0.0.1 alone, as every peer below listens (not on every address of
# both families, a socket that costs a little more per connection).
$reg add "$key\\Network" /v BindAddress /t REG_SZ /d 127.0.0.1 /f >/dev/null
$reg add "$key\\TLS" /v TLSPort /t REG_DWORD /d "$ours_tls" /f >/dev/null
# The pair varevavo-setup made serves every peer too.
cert="$VAREVAVO_HOME/drive_c/HTTPD/TLS/SERVER.CRT" certkey="$VAREVAVO_HOME/drive_c/HTTPD/TLS/SERVER.KEY"
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
  server {
    listen 127.0.0.1:$nginx_tls ssl;
    ssl_certificate $cert;
    ssl_certificate_key $certkey;
    ssl_protocols TLSv1.3;
    ssl_session_tickets on;
    root $docs;
  }
}
CONF
nginx -c "$work/nginx.conf" &
pids+=($!); nginx_pid=$!

# --- nginx compressing: with a .gz copy, and on the fly -------------------------
for variant in gz fly; do
  declare -n p=nginx$variant
  if [[ $variant == gz ]]; then root="$work/static" static=on; else root="$docs" static=off; fi
  mkdir -p "$work/nginx-$variant"
  cat > "$work/nginx-$variant.conf" <<CONF
worker_processes 1;
daemon off;
pid $work/nginx-$variant/nginx.pid;
error_log $work/logs/nginx-$variant-error.log;
events { worker_connections 4096; }
http {
  access_log $work/logs/nginx-$variant-access.log;
  sendfile on;
  tcp_nopush on;
  keepalive_requests 100000000;
  keepalive_timeout 10s;
  types { text/css css; }
  gzip on;
  gzip_http_version 1.0;  # ab speaks HTTP/1.0, and nginx compresses for 1.1 only by default
  gzip_types text/css;
  gzip_static $static;
  server { listen 127.0.0.1:$p; root $root; }
}
CONF
  nginx -c "$work/nginx-$variant.conf" &
  pids+=($!)
  unset -n p
done

# --- lighttpd ----------------------------------------------------------------
# A configuration on the shared root: name, port, modules, its own lines.
lighty_conf() {
  cat <<CONF
server.document-root = "$docs"
server.bind = "127.0.0.1"
server.port = $2
server.modules = ( $3 )
accesslog.filename = "$work/logs/$1-access.log"
server.errorlog = "$work/logs/$1-error.log"
server.max-keep-alive-requests = 100000000
server.max-keep-alive-idle = 10
server.max-fds = 4096
$4
CONF
}
lighty_conf lighttpd "$lighty" '"mod_accesslog", "mod_cgi", "mod_ssi", "mod_openssl"' \
  "\$SERVER[\"socket\"] == \"127.0.0.1:$lighty_tls\" {
  ssl.engine = \"enable\"
  ssl.pemfile = \"$cert\"
  ssl.privkey = \"$certkey\"
  ssl.openssl.ssl-conf-cmd = (\"MinProtocol\" => \"TLSv1.3\")
}
\$HTTP[\"url\"] =~ \"^/cgi-bin/\" { cgi.assign = ( \".cgi\" => \"\" ) }
ssi.extension = ( \".shtml\" )" > "$work/lighttpd.conf"
lighttpd -D -f "$work/lighttpd.conf" &
pids+=($!); lighty_pid=$!

# lighttpd compressing through mod_deflate, which keeps what it made in its
# cache folder.
mkdir -p "$work/deflate-cache"
lighty_conf lighttpd-gz "$lightygz" '"mod_accesslog", "mod_deflate"' "mimetype.assign = ( \".css\" => \"text/css\" )
deflate.cache-dir = \"$work/deflate-cache\"
deflate.mimetypes = ( \"text/css\" )
deflate.allowed-encodings = ( \"gzip\" )" > "$work/lighttpd-gz.conf"
lighttpd -D -f "$work/lighttpd-gz.conf" &
pids+=($!)

# --- h2o (one thread) ----------------------------------------------------------
# Started as root it serves as nobody, and opens its logs after that: the
# log folder must be nobody's to write.
mkdir -p "$work/h2o-logs"
[[ $(id -u) == 0 ]] && chown nobody "$work/h2o-logs"
cat > "$work/h2o.conf" <<CONF
num-threads: 1
pid-file: $work/h2o-logs/h2o.pid
error-log: $work/h2o-logs/error.log
access-log: $work/h2o-logs/access.log
listen:
  host: 127.0.0.1
  port: $h2o
# A second listener is a second "listen" key (h2o takes repeated keys).
listen:
  host: 127.0.0.1
  port: $h2o_tls
  ssl:
    certificate-file: $cert
    key-file: $certkey
    minimum-version: TLSv1.3
hosts:
  default:
    paths:
      /:
        file.dir: $docs
CONF
h2o -c "$work/h2o.conf" > "$work/logs/h2o.out" 2>&1 &
pids+=($!); h2o_pid=$!

"$work/floor" "$floor" &
pids+=($!); floor_pid=$!

sleep 1
for port in $ours $nginx $lighty $h2o; do
  curl -sf -o /dev/null "http://127.0.0.1:$port/1k.bin" || { echo "server on port $port does not answer"; cat "$work/ours.out"; exit 1; }
done
for port in $ours_tls $nginx_tls $lighty_tls $h2o_tls; do
  curl -sf --tlsv1.3 --cacert "$cert" -o /dev/null "https://127.0.0.1:$port/1k.bin" ||
    { echo "server on TLS port $port does not answer"; cat "$work/ours.out"; exit 1; }
done
for port in $ours $nginxgz $nginxfly $lightygz; do
  curl -0 -sf -o /dev/null -D - -H 'Accept-Encoding: gzip' "http://127.0.0.1:$port/100k.css" | grep -qi '^Content-Encoding: gzip' ||
    { echo "server on port $port does not send the style sheet compressed"; exit 1; }
done

# Memory of a server and its children (nginx's worker), KiB: resident and
# proportional (shared pages divided among their users).
mem() {  # pid field(Rss|Pss)
  local total=0 p
  for p in $1 $(pgrep -P "$1" || true); do
    total=$((total + $(awk -v f="$2:" '$1 == f { print $2 }' "/proc/$p/smaps_rollup" 2>/dev/null || echo 0)))
  done
  echo $total
}

# ab's figure for one measurement: requests/s (or MB/s with "mb"); with
# "wrk" or "h2load", that client's requests/s (HTTP/1.1, kept alive without
# asking, one thread); with "resumed", TLS connections per second that
# resume a session, from c parallel openssl s_time runs. header: one more
# request header for ab.
measure() {  # port path concurrency keepalive(0/1) [mb|wrk|h2load|resumed] [scheme] [header]
  local port=$1 path=$2 c=$3 k=$4 unit=${5:-rps} scheme=${6:-http}
  if [[ $unit == wrk ]]; then
    wrk -t1 -c "$c" -d "${secs}s" "$scheme://127.0.0.1:$port$path" 2>&1 | awk '/Requests\/sec:/ { printf "%.0f", $2 }'
    return
  fi
  if [[ $unit == h2load ]]; then
    h2load --h1 -t1 -c "$c" -D "$secs" "$scheme://127.0.0.1:$port$path" 2>&1 |
      awk '/^finished in/ { gsub(",", ""); for (i = 1; i <= NF; i++) if ($(i + 1) == "req/s") printf "%.0f", $i }'
    return
  fi
  if [[ $unit == resumed ]]; then
    local runs=() j
    for ((j = 0; j < c; j++)); do
      openssl s_time -connect "127.0.0.1:$port" -reuse -time "$secs" -www "$path" > "$work/stime.$j" 2>&1 &
      runs+=($!)
    done
    wait "${runs[@]}" 2>/dev/null || true
    awk -v s="$secs" '/connections in [0-9.]+ real seconds/ { n += $1 } END { printf "%.0f", n / s }' "$work"/stime.*
    return
  fi
  local args=(-q -c "$c" -t "$secs" -n 100000000)
  [[ $k == 1 ]] && args+=(-k)
  [[ $scheme == https ]] && args+=(-f TLS1.3)
  [[ -n ${7:-} ]] && args+=(-H "$7")
  local out
  out=$(ab "${args[@]}" "$scheme://127.0.0.1:$port$path" 2>&1) || true
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

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a != "" && b > 0) printf "%.2f", a / b; else print "-" }'; }
# The median of the rounds' own ratios: ours' figures (one per round, in
# round order) over the best of the other lists' figures of the same round.
# A round measures every server within seconds of each other, so its ratio
# keeps out what changed on the machine between rounds.
paired() {  # ours-list list...
  local a=$1; shift
  awk -v a="$a" -v others="$(printf '%s|' "$@")" 'BEGIN {
    n = split(a, ours, " "); k = split(others, lists, "|"); m = 0
    for (r = 1; r <= n; r++) {
      best = 0
      for (j = 1; j <= k; j++) { if (split(lists[j], v, " ") >= r && v[r] + 0 > best) best = v[r] + 0 }
      if (best > 0 && ours[r] != "-") q[++m] = ours[r] / best
    }
    if (m == 0) { print "-"; exit }
    for (i = 1; i <= m; i++) for (j = i + 1; j <= m; j++) if (q[j] < q[i]) { t = q[i]; q[i] = q[j]; q[j] = t }
    printf "%.2f", m % 2 ? q[(m + 1) / 2] : (q[m / 2] + q[m / 2 + 1]) / 2
  }'
}
median() { tr ' ' '\n' | awk 'NF && $1 != "-"' | sort -n | awk '{ v[NR] = $1 } END { if (NR == 0) print ""; else if (NR % 2) print v[(NR + 1) / 2]; else printf "%.1f", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# The rows: label, path, concurrency, keep-alive, unit, and which peers run it.
rows=(
  "1 KiB keep-alive, 1 conn|/1k.bin|1|1|rps|nginx lighty h2o floor"
  "1 KiB keep-alive, 8 conns|/1k.bin|8|1|rps|nginx lighty h2o floor"
  "1 KiB keep-alive, 64 conns|/1k.bin|64|1|rps|nginx lighty h2o floor"
  "1 KiB new connection, 8 conns|/1k.bin|8|0|rps|nginx lighty h2o"
  "100 KiB keep-alive, 8 conns|/100k.bin|8|1|rps|nginx lighty h2o"
  "10 MiB keep-alive, 4 conns (MB/s)|/10m.bin|4|1|mb|nginx lighty h2o"
  "CGI script, 8 conns|/cgi-bin/t.cgi|8|0|rps|lighty"
  "SSI page, 8 conns keep-alive|/page.shtml|8|1|rps|lighty"
  "1 KiB HTTP/1.1, 8 conns (wrk)|/1k.bin|8|1|wrk|nginx lighty h2o floor"
  "1 KiB HTTP/1.1, 8 conns (h2load)|/1k.bin|8|1|h2load|nginx lighty h2o floor"
  "https 1 KiB keep-alive, 8 conns|/1k.bin|8|1|rps|nginx lighty h2o|https"
  "https 1 KiB keep-alive, 64 conns|/1k.bin|64|1|rps|nginx lighty h2o|https"
  "https 100 KiB keep-alive, 8 conns|/100k.bin|8|1|rps|nginx lighty h2o|https"
  "https new conn (full handshake), 8|/1k.bin|8|0|rps|nginx lighty h2o|https"
  "https new conn (resumed), 8|/1k.bin|8|0|resumed|nginx lighty h2o|https"
)
declare -A port=([ours]=$ours [nginx]=$nginx [lighty]=$lighty [h2o]=$h2o [floor]=$floor [nginxgz]=$nginxgz
                 [nginxfly]=$nginxfly [lightygz]=$lightygz)
declare -A tlsport=([ours]=$ours_tls [nginx]=$nginx_tls [lighty]=$lighty_tls [h2o]=$h2o_tls)
declare -A results=()
gzip_peers="nginxgz lightygz nginxfly"
if [[ -n $only ]]; then
  for i in "${!rows[@]}"; do [[ ${rows[$i]%%|*} == *"$only"* ]] || unset "rows[$i]"; done
fi
for ((r = 1; r <= rounds; r++)); do
  echo "round $r of $rounds" >&2
  for i in "${!rows[@]}"; do
    IFS='|' read -r label path c k unit peers scheme <<<"${rows[$i]}"
    # Each round starts the row with the next server, so that none always
    # follows the row before (whose closed connections the kernel still holds).
    read -ra order <<<"ours $peers"
    for ((j = 0; j < ${#order[@]}; j++)); do
      server=${order[$(((j + r - 1) % ${#order[@]}))]}
      if [[ ${scheme:-http} == https ]]; then
        value=$(measure "${tlsport[$server]}" "$path" "$c" "$k" "$unit" https)
      else
        value=$(measure "${port[$server]}" "$path" "$c" "$k" "$unit")
      fi
      results[$i,$server]+=" ${value:--}"  # a failed measurement keeps its round's place
      echo "round $r  $label  $server  $value" >> "$work/raw"
      alive
    done
  done
  for server in ours $gzip_peers; do
    value=$(measure "${port[$server]}" /100k.css 8 1 rps http 'Accept-Encoding: gzip')
    results[gzip,$server]+=" ${value:--}"  # as above: the ratios pair figures by round
    alive
  done
done

echo
echo "Throughput: median of $rounds interleaved rounds, $secs s each (requests/s unless marked);"
echo "ratios: median of the rounds' ratios, each taken within its round"
fmt="%-34s %9s %9s %9s %9s %9s %8s %8s %8s %8s %8s\n"
printf "$fmt" "load (ab)" "varevavo" "lighttpd" "nginx" "h2o" "floor" "/lighttpd" "/nginx" "/h2o" "/best" "/floor"
for i in "${!rows[@]}"; do
  IFS='|' read -r label _ <<<"${rows[$i]}"
  a=$(median <<<"${results[$i,ours]:-}"); l=$(median <<<"${results[$i,lighty]:-}")
  n=$(median <<<"${results[$i,nginx]:-}"); h=$(median <<<"${results[$i,h2o]:-}")
  f=$(median <<<"${results[$i,floor]:-}")
  ours_list=${results[$i,ours]:-} peer_lists=()
  for server in lighty nginx h2o; do [[ -n ${results[$i,$server]:-} ]] && peer_lists+=("${results[$i,$server]}"); done
  printf "$fmt" "$label" "$a" "${l:--}" "${n:--}" "${h:--}" "${f:--}" \
    "$(paired "$ours_list" "${results[$i,lighty]:-}")" "$(paired "$ours_list" "${results[$i,nginx]:-}")" \
    "$(paired "$ours_list" "${results[$i,h2o]:-}")" "$(paired "$ours_list" "${peer_lists[@]}")" \
    "$(paired "$ours_list" "${results[$i,floor]:-}")"
done

[[ -n $only ]] && exit 0
echo
echo "A kept-alive 100 KiB CSS file with Accept-Encoding: gzip, 8 conns (requests/s, median)"
gfmt="%-12s %14s %16s %16s %10s %10s %10s\n"
printf "$gfmt" "varevavo" "nginx static" "lighttpd deflate" "nginx on the fly" "/static" "/deflate" "/on the fly"
a=$(median <<<"${results[gzip,ours]}"); g=$(median <<<"${results[gzip,nginxgz]}")
d=$(median <<<"${results[gzip,lightygz]}"); f=$(median <<<"${results[gzip,nginxfly]}")
printf "$gfmt" "$a" "$g" "$d" "$f" "$(paired "${results[gzip,ours]}" "${results[gzip,nginxgz]}")" \
  "$(paired "${results[gzip,ours]}" "${results[gzip,lightygz]}")" "$(paired "${results[gzip,ours]}" "${results[gzip,nginxfly]}")"

# --- what one kept-alive 1 KiB request costs --------------------------------------
# Context switches of each thread of a process ("tid count" lines), and the
# CPU ticks of the whole process (which keep the time of threads that have
# ended, such as workers leaving after their idle time).
switches() { for t in /proc/"$1"/task/*; do echo "${t##*/} $(awk '/ctxt_switches/ { s += $2 } END { print s + 0 }' "$t/status" 2>/dev/null)"; done; }
# The switches between two such lists: threads that ended in between count nothing.
switched() { awk 'NR == FNR { before[$1] = $2; next } { s += $2 - before[$1] } END { print s + 0 }' "$1" "$2"; }
ticks() { sed 's/.*) //' /proc/"$1"/stat | awk '{ print $12 + $13 }'; }
# Minor page faults of the whole process: memory given back to the system
# and touched again at once shows here.
faults() { sed 's/.*) //' /proc/"$1"/stat | awk '{ print $8 }'; }
cost() {  # name pid port connections
  local n=40000 calls sw0 sw1 t0 t1 f0 f1 hz
  hz=$(getconf CLK_TCK)
  switches "$2" > "$work/switches0"; t0=$(ticks "$2"); f0=$(faults "$2")
  ab -q -k -c "$4" -n $n "http://127.0.0.1:$3/1k.bin" >/dev/null 2>&1
  switches "$2" > "$work/switches1"; t1=$(ticks "$2"); f1=$(faults "$2")
  sw0=0; sw1=$(switched "$work/switches0" "$work/switches1")
  strace -c -f -p "$2" -o "$work/strace-$1" 2>/dev/null & local tracer=$!
  sleep 1
  ab -q -k -c "$4" -n 20000 "http://127.0.0.1:$3/1k.bin" >/dev/null 2>&1
  kill -INT $tracer; wait $tracer 2>/dev/null || true
  calls=$(awk '$NF == "total" { print $(NF-2) }' "$work/strace-$1")
  printf "%-10s %5s %14s %18s %16s %12s   %s\n" "$1" "$4" \
    "$(awk -v c="$calls" 'BEGIN { printf "%.2f", c / 20000 }')" \
    "$(awk -v a="$sw0" -v b="$sw1" -v n=$n 'BEGIN { printf "%.2f", (b - a) / n }')" \
    "$(awk -v a="$t0" -v b="$t1" -v n=$n -v hz="$hz" 'BEGIN { printf "%.1f", (b - a) * 1e6 / hz / n }')" \
    "$(awk -v a="$f0" -v b="$f1" -v n=$n 'BEGIN { printf "%.3f", (b - a) / n }')" \
    "$(awk 'NR > 2 && $NF != "total" && $NF !~ /^-/ && $4 > 0 { printf "%s %.2f  ", $NF, $4 / 20000 }' "$work/strace-$1" | head -c 200)"
}
echo
echo "Cost of a kept-alive 1 KiB request (ab -k)"
printf "%-10s %5s %14s %18s %16s %12s   %s\n" "server" "conns" "syscalls/req" "ctx switches/req" "CPU us/req" "faults/req" "system calls per request"
for conns in 8 64; do
  cost varevavo "$ours_pid" "$ours" $conns
  cost lighttpd "$lighty_pid" "$lighty" $conns
done

echo
echo "Memory (KiB)"
printf "%-34s %9s %9s %9s %9s %8s\n" "" "varevavo" "lighttpd" "nginx" "h2o" "/lighttpd"
sleep 11  # kept-alive connections of the runs above time out
for f in Rss Pss; do
  a=$(mem $ours_pid $f); l=$(mem $lighty_pid $f); n=$(mem $nginx_pid $f); h=$(mem $h2o_pid $f)
  printf "%-34s %9s %9s %9s %9s %8s\n" "idle $f" "$a" "$l" "$n" "$h" "$(ratio "$a" "$l")"
done
for server in ours lighty nginx h2o; do
  declare -n p=${server}_pid
  ( ab -q -k -c 64 -t "$secs" -n 100000000 "http://127.0.0.1:${port[$server]}/1k.bin" >/dev/null 2>&1 & sleep $((secs / 2 + 1)); mem "$p" Rss > "$work/busy-$server"; wait )
  unset -n p
done
a=$(cat "$work/busy-ours"); l=$(cat "$work/busy-lighty"); n=$(cat "$work/busy-nginx"); h=$(cat "$work/busy-h2o")
printf "%-34s %9s %9s %9s %9s %8s\n" "Rss under 64 connections" "$a" "$l" "$n" "$h" "$(ratio "$a" "$l")"

# What one idle kept-alive TLS connection costs: 60 connections (within
# ours' 80 slots) each make one request, then wait; the growth of the
# server's memory over them.
sleep 11
idle_tls() {  # port pid
  local before after
  before=$(mem "$2" Rss)
  python3 - "$1" "$cert" "$work/idle-ready" <<'PY' &
import socket, ssl, sys, time
port, ca, ready = int(sys.argv[1]), sys.argv[2], sys.argv[3]
ctx = ssl.create_default_context(cafile=ca)
ctx.check_hostname = False
held = []
for _ in range(60):
    s = ctx.wrap_socket(socket.create_connection(("127.0.0.1", port)), server_hostname="localhost")
    s.sendall(b"GET /1k.bin HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n")
    got = b""
    while b"\r\n\r\n" not in got or len(got.split(b"\r\n\r\n", 1)[1]) < 1024:
        data = s.recv(65536)
        if not data:
            sys.exit("a connection closed before its answer")
        got += data
    held.append(s)
open(ready, "w").close()
time.sleep(4)
PY
  local holder=$!
  for _ in $(seq 100); do [[ -e $work/idle-ready ]] && break; sleep 0.1; done
  after=$(mem "$2" Rss)
  wait "$holder" 2>/dev/null || true
  rm -f "$work/idle-ready"
  awk -v a="$before" -v b="$after" 'BEGIN { printf "%.1f", (b - a) / 60 }'
}
printf "%-34s %9s %9s %9s %9s\n" "Rss per idle kept-alive TLS conn" "$(idle_tls $ours_tls $ours_pid)" \
  "$(idle_tls $lighty_tls $lighty_pid)" "$(idle_tls $nginx_tls $nginx_pid)" "$(idle_tls $h2o_tls $h2o_pid)"
echo "TLS path of ours: $(grep -o 'TLS: kernel TLS[^;]*' "$VAREVAVO_HOME/drive_c/HTTPD/LOGS/ERROR.LOG" | head -1)"
