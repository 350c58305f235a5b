#!/usr/bin/env bash
# Sets up, builds and runs the server on its embedded defaults.
#
# On a fresh machine it lays out the default site under the home
# ($VAREVAVO_HOME, else ~/.local/share/varevavo): C:\HTTPD maps to
# $VAREVAVO_HOME/drive_c/HTTPD, with HTDOCS, LOGS, ICONS, CGI-BIN, CGI-DOS and
# CGI-WIN. Files already there are never overwritten, except an earlier copy
# of the visitor counter (CGI-BIN/visitor and visitor.exe).
#
# A setup that does not exist yet is made for a person (varevavo-setup):
# keep-alive on, no address lookup at start, this system's Perl. It listens
# on port 80, which needs privileges: a user who is not root and cannot bind
# low ports gets port 8080 instead. Arguments name the setup to run
# ("Primary" by default). The script says where the server serves once it
# listens. The server stops on Control-C or SIGTERM and re-reads its setup
# on SIGHUP.
set -euo pipefail
cd "$(dirname "$0")/.."
# With a display the desktop front end is built too (Qt 6 Widgets).
if [[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" && "${VAREVAVO_SHELL:-}" != console ]]; then
  ./scripts/setup.sh desktop
else
  ./scripts/setup.sh
fi
cmake --preset release >/dev/null
cmake --build --preset release

home="${VAREVAVO_HOME:-${XDG_DATA_HOME:-$HOME/.local/share}/varevavo}"
export VAREVAVO_HOME="$home"
# A home made here is its owner's alone, as the programs make it.
[ -d "$home" ] || (umask 077 && mkdir -p "$home")
mkdir -p "$home/drive_c/HTTPD"
cp -rn site/. "$home/drive_c/HTTPD/"

setup="${*:-Primary}"
bin=build/release

# The visitor counter goes into CGI-BIN under both names zazezere's tags use,
# as a copy (it finds the store from where it lies). An earlier copy is
# brought up to date; any other file of those names is the user's and stays.
for name in visitor visitor.exe; do
  target="$home/drive_c/HTTPD/CGI-BIN/$name"
  if [[ ! -e $target && ! -L $target ]] ||
     { [[ -f $target ]] && ! cmp -s "$bin/visitor/visitor" "$target" &&
       grep -qa 'Counter Store Not Found' "$target"; }; then
    cp "$bin/visitor/visitor" "$target.new" && mv -f "$target.new" "$target"
  elif ! cmp -s "$bin/visitor/visitor" "$target"; then
    echo "Kept $target: it is not the visitor counter of this build."
  fi
done
key="HKLM\\SOFTWARE\\Raziduzovo\\Varevavo\\$setup"
if ! "$bin/tools/varevavo-reg" query "$key" >/dev/null 2>&1; then
  low_ports=$(cat /proc/sys/net/ipv4/ip_unprivileged_port_start 2>/dev/null || echo 1024)
  if [[ $(id -u) -ne 0 && $low_ports -gt 80 ]]; then
    "$bin/tools/varevavo-setup" "$setup" 8080
    "$bin/tools/varevavo-reg" add "$key\\TLS" /v TLSPort /t REG_DWORD /d 8443 /f >/dev/null
    echo "Ports 80 and 443 need root here: the new setup \"$setup\" listens on ports 8080 and 8443 (HTTPS)."
  else
    "$bin/tools/varevavo-setup" "$setup"
  fi
fi
echo "Home: $home"

# A value of the setup as the registry editor prints it, or nothing (the
# server writes a missing setup whole when it starts).
value() {
  { "$bin/tools/varevavo-reg" query "$key\\$1" /v "$2" 2>/dev/null || true; } |
    awk -v name="$2" '$1 == name { print $3 }'
}
port=$(value Network Port)
port=$((${port:-80}))
site=$(value Server SiteAddress)
bind=$(value Network BindAddress)

# The server runs as a child, so that this script can explain a port it
# could not bind; the signals a user sends the script go on to it. A child
# started in the background ignores Control-C, so that arrives as SIGTERM,
# which the server takes the same way.
"$bin/shell/ruvuzerar" "$@" 0<&0 &
pid=$!
signalled=0
for signal in TERM HUP USR1; do trap "signalled=1; kill -$signal $pid 2>/dev/null" "$signal"; done
trap "signalled=1; kill -TERM $pid 2>/dev/null" INT

# True when the server holds a socket that listens on the port: another
# program that holds the port does not count.
listening() {
  local hex inode held
  hex=$(printf '%04X' "$port")
  held=$(ls -l "/proc/$pid/fd" 2>/dev/null || true)
  for inode in $(awk -v end=":$hex" '$4 == "0A" && substr($2, length($2) - 4) == end { print $10 }' \
                   /proc/net/tcp /proc/net/tcp6 2>/dev/null); do
    [[ $held == *"socket:[$inode]"* ]] && return 0
  done
  return 1
}
# Says where the server serves once it listens; a server that ends first
# (a port it cannot bind) or a signal says nothing here.
for _ in $(seq 600); do
  [[ $signalled -eq 0 ]] && kill -0 "$pid" 2>/dev/null || break
  if listening; then
    # The console server keeps its title on the terminal's last line,
    # without a line end: this line takes its place.
    [[ -t 1 ]] && printf '\r\033[K'
    echo "Serving http://${site:-localhost}:$port/ - stop the server with Control-C."
    break
  fi
  sleep 0.1
done
while :; do
  signalled=0
  status=0
  wait "$pid" || status=$?
  [[ $signalled -eq 1 ]] || break
done
if [[ $status -eq 1 && -n $bind ]]; then
  cat >&2 <<MESSAGE
The server could not listen on port $port of $bind: another program may use
the port, or the setup's BindAddress names no address of this machine (or a
name that cannot be looked up). Give the setup "$setup" another port, or
clear BindAddress to listen on every address, then run this script again:
  $bin/tools/varevavo-reg add '$key\\Network' /v Port /t REG_DWORD /d 8081 /f
  $bin/tools/varevavo-reg add '$key\\Network' /v BindAddress /d '' /f
MESSAGE
elif [[ $status -eq 1 ]]; then
  cat >&2 <<MESSAGE
The server could not listen on port $port (another program may use it, or a
port below 1024 needs root). Give the setup "$setup" another port, then run
this script again:
  $bin/tools/varevavo-reg add '$key\\Network' /v Port /t REG_DWORD /d 8081 /f
MESSAGE
fi
exit "$status"
