#!/usr/bin/env bash
# Builds the Debian packages (release preset, in build/package) and checks
# them on this machine: lintian, the two systemd units, the manual pages, an
# install with dpkg, the server run exactly as varevavo.service runs it (its
# user, environment, capability and first-start step; the unit's readiness,
# reload and stop through a notify socket of our own, since no systemd needs
# to run here), a log rotation, a removal that keeps only the data, and a
# purge. Whatever happens, the packages are purged at the end and a user
# created here is deleted again.
#
# Installing needs root: as another user it says so and checks nothing. A
# machine where varevavo is installed, or was and left its data, is not
# touched either.
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ $(id -u) -ne 0 ]]; then
  echo "package-test: skipped: installing the packages needs root"
  exit 0
fi
if dpkg-query -W -f='${db:Status-Abbrev}' varevavo varevavo-desktop 2>/dev/null | grep -q '[a-z]'; then
  echo "package-test: skipped: varevavo is (or was) installed on this machine; not touching it"
  exit 0
fi
if [[ -e /var/lib/varevavo ]]; then
  echo "package-test: skipped: /var/lib/varevavo exists; not touching it"
  exit 0
fi

./scripts/setup.sh package desktop
build=build/package
rm -f "$build"/*.deb
cmake --preset release -B "$build" -DVAREVAVO_DESKTOP=ON >/dev/null
cmake --build "$build" --target package
server_deb=$(ls "$build"/varevavo_*.deb)
desktop_deb=$(ls "$build"/varevavo-desktop_*.deb)

source scripts/checks.sh

work=$(mktemp -d)
chmod 755 "$work"
user_existed=$(getent passwd varevavo >/dev/null && echo yes || echo no)
server_pid=
listener_pid=
cleanup() {
  set +e  # clean up as far as it goes, whatever fails
  if [[ -n $server_pid ]]; then
    kill "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
  fi
  [[ -n $listener_pid ]] && kill "$listener_pid" 2>/dev/null
  dpkg --purge varevavo-desktop varevavo >/dev/null 2>&1 || true
  if [[ $user_existed == no ]] && getent passwd varevavo >/dev/null; then
    deluser --system --quiet varevavo >/dev/null 2>&1 || userdel varevavo || true
    getent group varevavo >/dev/null && { delgroup --system --quiet varevavo >/dev/null 2>&1 || groupdel varevavo || true; }
  fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "== dpkg-deb -c"
dpkg-deb -c "$server_deb"
dpkg-deb -c "$desktop_deb"
echo "== dpkg-deb -f"
dpkg-deb -f "$server_deb" Package Version Depends
dpkg-deb -f "$desktop_deb" Package Version Depends
check "the desktop package depends on the server package of its version" \
  grep -q "varevavo (= $(dpkg-deb -f "$server_deb" Version))" <(dpkg-deb -f "$desktop_deb" Depends)
check "the server package needs no Qt" test -z "$(dpkg-deb -f "$server_deb" Depends | grep -i qt)"

echo "== lintian"
# Errors and warnings fail the check; the informational tags left are
# explained in README.md ("Install as a service").
check "lintian: no errors or warnings" lintian --info --fail-on error,warning "$server_deb" "$desktop_deb"

echo "== manual pages"
renders_cleanly() {  # renders_cleanly PAGE: groff has nothing to say of it
  local said
  said=$(zcat "$1" | groff -man -Tutf8 -ww -z 2>&1) && [[ -z $said ]] || { echo "$said"; return 1; }
}
mkdir -p "$work/deb"
dpkg-deb -x "$server_deb" "$work/deb"
dpkg-deb -x "$desktop_deb" "$work/deb"
for page in "$work"/deb/usr/share/man/man*/*.gz; do
  check "manual page ${page##*/} renders without warnings" renders_cleanly "$page"
done
check "six manual pages" test "$(ls "$work"/deb/usr/share/man/man*/*.gz | wc -l)" -eq 6

echo "== dpkg -i"
check "dpkg -i installs both packages" dpkg -i "$server_deb" "$desktop_deb"
check "the user varevavo exists, with the home /var/lib/varevavo" \
  test "$(getent passwd varevavo | cut -d: -f6)" = /var/lib/varevavo
check "the home belongs to varevavo" test "$(stat -c %U /var/lib/varevavo)" = varevavo
answers_version() { [[ $("/usr/bin/$1" --version) == "$1 (Varevavo) "* ]]; }
answers_help() { local out; out=$("/usr/bin/$1" --help) && [[ $out == *Usage* && $out == *"$1"* ]]; }
refuses_unknown_option() {
  local err status=0
  err=$("/usr/bin/$1" --no-such-option 2>&1 >/dev/null </dev/null) || status=$?
  [[ $status -eq 2 && $err == *Usage* ]]
}
for program in ruvuzerar ruvuzerar-desktop varevavo-reg varevavo-setup zazezere varevavo-passwd; do
  check "$program --version" answers_version "$program"
  check "$program --help" answers_help "$program"
  check "$program --no-such-option: usage on standard error, status 2" refuses_unknown_option "$program"
done

echo "== systemd-analyze verify"
# Works without a running systemd; the units' Documentation= is checked
# with the pages above (man pages may be left out of a container's dpkg).
units=(/lib/systemd/system/varevavo.service /lib/systemd/system/varevavo@.service)
check "systemd-analyze verify both units" systemd-analyze verify --man=no "${units[@]}"
check "systemd-analyze verify an instance" systemd-analyze verify --man=no varevavo@Office.service

echo "== the service's command line"
unit=/lib/systemd/system/varevavo.service
value() { sed -n "s/^$1=//p" "$unit"; }
user=$(value User)
environment=$(value Environment)
pre=$(value ExecStartPre)
start=$(value ExecStart)
capability=$(value AmbientCapabilities)
state=/var/lib/$(value StateDirectory)
echo "User=$user Environment=$environment"
echo "ExecStartPre=$pre ExecStart=$start AmbientCapabilities=$capability"
# What systemd does for the unit: its user, groups and capability, no new
# privileges, an empty environment but the unit's, the state directory's
# mode, and the notify socket that Type=notify listens on. Each setpriv
# below becomes the program it runs, so $! is the server's own id.
# shellcheck disable=SC2206 # the unit's Environment= is a list of words
as_service=(setpriv --reuid="$user" --regid="$user" --init-groups --no-new-privs
  --inh-caps="+${capability#CAP_}" --ambient-caps="+${capability#CAP_}"
  env -i PATH=/usr/bin:/bin $environment)
chmod "$(value StateDirectoryMode)" "$state"
index="$state/drive_c/HTTPD/HTDOCS/index.html"
check "ExecStartPre lays out the default site" "${as_service[@]}" $pre
check "the welcome page is in the home" test -f "$index"
check "the site belongs to varevavo" test "$(stat -c %U "$index")" = varevavo
setup_value() {  # setup_value SECTION NAME: a value of the setup Primary as varevavo-reg shows it
  "${as_service[@]}" varevavo-reg query "HKLM\\SOFTWARE\\Raziduzovo\\Varevavo\\Primary\\$1" /v "$2" |
    awk -v name="$2" '$1 == name { print $3 }'
}
check "ExecStartPre makes the setup Primary for a person: keep-alive on" test "$(setup_value Network UseKeepAlive)" = 0x1
check "... with 64 connections" test "$(setup_value Server NumThreads)" = 0x40
check "... no address lookup at start" test "$(setup_value Server ResolveLocal)" = 0x0
check "... and /usr/bin/perl" test "$(setup_value External PerlCmdLine)" = /usr/bin/perl
tls="$state/drive_c/HTTPD/TLS"
check "... with HTTPS on" test "$(setup_value TLS UseTLS)" = 0x1
check "ExecStartPre makes a self-signed HTTPS pair" test -s "$tls/SERVER.CRT" -a -s "$tls/SERVER.KEY"
check "... its key private to varevavo" test "$(stat -c '%U %a' "$tls/SERVER.KEY")" = "varevavo 600"
echo "Edited" >"$index"
"${as_service[@]}" $pre
check "a second start keeps an edited page" grep -q Edited "$index"
rm "$index"
"${as_service[@]}" $pre
# A CGI program shipped in /usr/lib/varevavo/cgi-bin (here a stand-in in a
# folder of our own) is linked into CGI-BIN under both its names.
mkdir -p "$work/helpers/cgi-bin"
printf '#!/bin/sh\nprintf "Content-Type: text/plain\\r\\n\\r\\nprobe %%s\\n" "$QUERY_STRING"\n' >"$work/helpers/cgi-bin/probe"
chmod 755 "$work/helpers" "$work/helpers/cgi-bin" "$work/helpers/cgi-bin/probe"
"${as_service[@]}" VAREVAVO_HELPERS="$work/helpers" $pre
check "a shipped CGI program is linked in as probe and probe.exe" \
  test -L "$state/drive_c/HTTPD/CGI-BIN/probe" -a -L "$state/drive_c/HTTPD/CGI-BIN/probe.exe"

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
check "varevavo-setup gives the setup Primary port $port" "${as_service[@]}" varevavo-setup Primary "$port"
check "... and keeps the rest of it" test "$(setup_value Network UseKeepAlive)" = 0x1
tls_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"${as_service[@]}" varevavo-reg add 'HKLM\SOFTWARE\Raziduzovo\Varevavo\Primary\TLS' /v TLSPort /t REG_DWORD \
  /d "$tls_port" /f >/dev/null

# The notify socket: every message the server sends, one per line.
notify="$work/notify"
python3 -u - "$notify" >>"$work/notices" <<'PY' &
import os, socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind(sys.argv[1])
os.chmod(sys.argv[1], 0o777)
while True:
    print(s.recv(4096).decode().replace("\n", " "))
PY
listener_pid=$!
for _ in $(seq 50); do [[ -S $notify ]] && break; sleep 0.1; done
wait_notice() {  # wait_notice TEXT: up to 20 s for the server to say TEXT
  for _ in $(seq 200); do grep -q "$1" "$work/notices" && return 0; sleep 0.1; done
  return 1
}
serves() {  # serves PATH TEXT: the page at PATH holds TEXT
  curl -s --max-time 10 "http://127.0.0.1:$port$1" | grep -q "$2"
}

# shellcheck disable=SC2086
"${as_service[@]}" NOTIFY_SOCKET="$notify" $start >"$work/out" 2>"$work/err" &
server_pid=$!
check "READY=1 reaches the notify socket (Type=notify)" wait_notice READY=1
echo "notices: $(cat "$work/notices")"
check "the port accepts once READY=1 is sent, and serves the welcome page" serves / 'Varevavo is running'
check "the sample CGI script runs" serves '/cgi-bin/hello.cgi?name=ci' 'name=ci'
check "HTTPS serves the welcome page, verified with the certificate made" \
  sh -c "curl -s --max-time 10 --cacert '$tls/SERVER.CRT' https://localhost:$tls_port/ | grep -q 'Varevavo is running'"
check "the linked CGI program runs as probe" serves '/cgi-bin/probe?one' 'probe one'
check "the linked CGI program runs as probe.exe" serves '/cgi-bin/probe.exe?two' 'probe two'
check "the server runs as varevavo" test "$(ps -o user= -p "$server_pid" | tr -d ' ')" = varevavo

logs="$state/drive_c/HTTPD/LOGS"
check "the access log is written" eventually test -s "$logs/ACCESS.LOG"
echo "== logrotate"
check "logrotate rotates the logs" logrotate --force --state "$work/logrotate.state" /etc/logrotate.d/varevavo
check "the rotated access log is kept" test -s "$logs/ACCESS.LOG.1"
: >"$work/notices"
kill -HUP "$server_pid"  # what the postrotate's systemctl reload sends
check "SIGHUP: RELOADING=1" wait_notice RELOADING=1
check "SIGHUP: READY=1 again" wait_notice READY=1
check "after the reload the server serves a listing" serves /files/ readme.txt
# The line is written once the answer has left, which a client that reads
# the whole answer and hangs up may be quicker than.
check "after the reload the new access log is written" eventually grep -q /files/ "$logs/ACCESS.LOG"
check "the new access log belongs to varevavo" test "$(stat -c %U "$logs/ACCESS.LOG")" = varevavo

: >"$work/notices"
kill -TERM "$server_pid"
started=$SECONDS
for _ in $(seq 100); do kill -0 "$server_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$server_pid" 2>/dev/null && kill -KILL "$server_pid"
status=0
wait "$server_pid" || status=$?
server_pid=
echo "SIGTERM: the server ended after about $((SECONDS - started)) s with status $status"
check "SIGTERM stops the server within 10 s with status 0" test "$status" -eq 0
check "STOPPING=1 reaches the notify socket" wait_notice STOPPING=1
echo "server output: $(cat "$work/out")"
echo "server errors: $(cat "$work/err")"
kill "$listener_pid" 2>/dev/null
listener_pid=

# Port 80 itself, through the unit's capability, when nothing else holds it.
if ! (exec 3<>/dev/tcp/127.0.0.1/80) 2>/dev/null; then
  "${as_service[@]}" varevavo-setup Primary 80
  port=80
  # shellcheck disable=SC2086
  "${as_service[@]}" $start >"$work/out80" 2>&1 &
  server_pid=$!
  for _ in $(seq 100); do grep -q serves "$work/out80" && break; sleep 0.1; done
  check "as varevavo with CAP_NET_BIND_SERVICE it serves port 80" serves / 'Varevavo is running'
  kill -TERM "$server_pid"
  wait "$server_pid" || true
  server_pid=
else
  echo "(port 80 is taken here: the capability is not checked)"
fi

echo "== dpkg -r"
files=$(dpkg -L varevavo varevavo-desktop | sort -u)
check "dpkg -r removes both packages" dpkg -r varevavo-desktop varevavo
left=()
for f in $files; do
  [[ -e $f && ! -d $f ]] && left+=("$f")  # folders such as /lib may be shared, or links
done
check "nothing of the packages is left but the conffile (${left[*]:-none})" \
  test "${left[*]:-}" = /etc/logrotate.d/varevavo
check "the folders of the packages are gone" test ! -e /usr/share/varevavo -a ! -e /usr/lib/varevavo
check "the data stay: registry store and logs" test -f "$state/registry.db" -a -f "$logs/ACCESS.LOG.1"
check "the user varevavo stays" getent passwd varevavo
check "no process of varevavo is left" test -z "$(pgrep -u varevavo)"

echo "== dpkg --purge"
check "dpkg --purge purges both packages" dpkg --purge varevavo-desktop varevavo
check "the data are gone" test ! -e "$state"
check "the conffile is gone" test ! -e /etc/logrotate.d/varevavo

report package
