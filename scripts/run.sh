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
# its default. Arguments name the setup to run ("Primary" by default).
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
exec "$bin/shell/ruvuzerar" "$@"
