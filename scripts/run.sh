#!/usr/bin/env bash
# Sets up, builds and runs the server on its embedded defaults.
#
# On a fresh machine it lays out the default site under the home
# ($VAREVAVO_HOME, else ~/.local/share/varevavo): C:\HTTPD maps to
# $VAREVAVO_HOME/drive_c/HTTPD, with HTDOCS, LOGS, ICONS, CGI-BIN, CGI-DOS and
# CGI-WIN. Files already there are never overwritten, except an earlier copy
# of the visitor counter (CGI-BIN/visitor and visitor.exe).
#
# Port 80 needs privileges. A user who is not root and cannot bind low ports
# gets the setup created with port 8080 instead; every other setting keeps
# its default. Arguments name the setup to run ("Primary" by default). The
# server stops on Control-C or SIGTERM and re-reads its setup on SIGHUP.
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
if ! "$bin/tools/varevavo-reg" query "HKLM\\SOFTWARE\\Raziduzovo\\Varevavo\\$setup" >/dev/null 2>&1; then
  low_ports=$(cat /proc/sys/net/ipv4/ip_unprivileged_port_start 2>/dev/null || echo 1024)
  if [[ $(id -u) -ne 0 && $low_ports -gt 80 ]]; then
    "$bin/tools/varevavo-setup" "$setup" 8080
    echo "Port 80 needs root here: the new setup \"$setup\" listens on port 8080."
  fi
fi
echo "Home: $home"

key="HKLM\\SOFTWARE\\Raziduzovo\\Varevavo\\$setup"
# A value of the setup as the registry editor prints it, or nothing.
value() {
  "$bin/tools/varevavo-reg" query "$key\\$1" /v "$2" 2>/dev/null | awk -v name="$2" '$1 == name { print $3 }'
}
port=$(value Network Port)
port=$((${port:-80}))
site=$(value Server SiteAddress)
echo "Serving http://${site:-localhost}:$port/ - stop the server with Control-C."

# The server runs as a child, so that this script can explain a port it
# could not bind; the signals a user sends the script go on to it. A child
# started in the background ignores Control-C, so that arrives as SIGTERM,
# which the server takes the same way.
"$bin/shell/ruvuzerar" "$@" 0<&0 &
pid=$!
signalled=0
for signal in TERM HUP USR1; do trap "signalled=1; kill -$signal $pid 2>/dev/null" "$signal"; done
trap "signalled=1; kill -TERM $pid 2>/dev/null" INT
while :; do
  signalled=0
  status=0
  wait "$pid" || status=$?
  [[ $signalled -eq 1 ]] || break
done
if [[ $status -eq 1 ]]; then
  cat >&2 <<MESSAGE
The server could not listen on port $port (another program may use it, or a
port below 1024 needs root). Give the setup "$setup" another port, then run
this script again:
  $bin/tools/varevavo-reg add '$key\\Network' /v Port /t REG_DWORD /d 8081 /f
MESSAGE
fi
exit "$status"
