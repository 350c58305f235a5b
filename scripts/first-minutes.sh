#!/usr/bin/env bash
# Does what a newcomer does in the first minutes with a checkout, each time
# on a fresh home, and checks what they would see:
#   - the README's first command, scripts/run.sh, as root: the setup it
#     makes (port 80, made for a person), its "Serving" line, the welcome
#     page; a second run on port 80 meanwhile cannot bind it and must say so
#     without claiming to serve;
#   - the same command as an ordinary user (one of the machine's, or one
#     made here with useradd and deleted again), whose setup takes port 8080
#     where low ports need root;
#   - on the user's server: wget -r -np -k of the default site (every page
#     saved, no link left pointing at the server), remote publishing with
#     curl -T over HTTPS (refused without credentials, stored with the master key
#     after the setup turns it on and the server re-reads it);
#   - with --browser (or when chromium is installed): a UTF-8 text file shown
#     by headless Chromium, its screenshot kept as build/first-minutes/utf8.png
#     to look at.
# The release build that run.sh makes is made once and reused. A port that
# another program holds is replaced by a free one in the new setup. Every
# wait has a deadline; whatever happens, the servers are stopped and what
# was made here (a user, the homes, the build's borrowed ownership) is
# undone. Needs root; as another user it says so and checks nothing.
# Usage: scripts/first-minutes.sh [--browser]
set -euo pipefail
cd "$(dirname "$0")/.."

browser=no
[[ ${1:-} == --browser ]] && browser=yes
command -v chromium >/dev/null && browser=yes
if [[ $(id -u) -ne 0 ]]; then
  echo "first-minutes: skipped: running as another user and making homes for it needs root"
  exit 0
fi

purposes=(test)
[[ $browser == yes ]] && purposes+=(browser)
./scripts/setup.sh "${purposes[@]}"
# What run.sh builds, built before any clock runs.
cmake --preset release >/dev/null
cmake --build --preset release

source scripts/checks.sh

bin=$PWD/build/release
kept=$PWD/build/first-minutes
work=$(mktemp -d)
chmod 755 "$work"
made_user=
build_owner=$(stat -c %u:%g build/release)
runs=()  # the run scripts started, to be stopped
cleanup() {
  set +e  # clean up as far as it goes, whatever fails
  for pid in "${runs[@]}"; do
    kill -TERM "$pid" 2>/dev/null
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null
  done
  chown -R "$build_owner" build/release
  [[ -n $made_user ]] && userdel -r "$made_user" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
taken() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
wait_for() {  # wait_for FILE TEXT SECONDS: the file comes to hold the text
  for _ in $(seq $(($3 * 10))); do grep -q "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
  return 1
}
welcome() { curl -s --max-time 10 "$1" | grep -q 'Varevavo is running'; }

# start NAME USER PORT: runs ./scripts/run.sh of the checkout $tree as USER
# in a fresh HOME of its own (so in the default VAREVAVO_HOME below it),
# without a display, its output in $work/NAME.out. PORT is the port run.sh is to choose; when
# another program holds it, the setup is made first on a free port instead.
# Sets pid and port.
start() {
  local name=$1 user=$2 home="$work/$1"
  port=$3
  mkdir -p "$home"
  chown "$user:" "$home"
  as=(setpriv --reuid="$user" --regid="$(id -g "$user")" --init-groups
    env -i PATH=/usr/bin:/bin HOME="$home" USER="$user" LANG=C.UTF-8)
  if taken "$port"; then
    port=$(free_port)
    echo "(port $3 is taken here: the new setup gets port $port)"
    (umask 077 && mkdir -p "$home/.local/share/varevavo")
    VAREVAVO_HOME="$home/.local/share/varevavo" "$bin/tools/varevavo-setup" Primary "$port"
    # Its HTTPS port too: the default, 443, needs root, and 8443 may be taken.
    VAREVAVO_HOME="$home/.local/share/varevavo" "$bin/tools/varevavo-reg" add \
      'HKLM\SOFTWARE\Raziduzovo\Varevavo\Primary\TLS' /v TLSPort /t REG_DWORD /d "$(free_port)" /f >/dev/null
    chown -R "$user:" "$home"
  fi
  (cd "$tree" && exec "${as[@]}" ./scripts/run.sh) </dev/null >"$work/$name.out" 2>&1 &
  pid=$!
  runs+=("$pid")
}
# stop PID: SIGTERM, as Control-C arrives; the exit status of run.sh.
stop() {
  kill -TERM "$1"
  for _ in $(seq 100); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
  local status=0
  wait "$1" || status=$?
  return "$status"
}
setup_value() {  # setup_value HOME SECTION NAME
  VAREVAVO_HOME="$1/.local/share/varevavo" "$bin/tools/varevavo-reg" query \
    "HKLM\\SOFTWARE\\Raziduzovo\\Varevavo\\Primary\\$2" /v "$3" | awk -v name="$3" '$1 == name { print $3 }'
}

echo "== ./scripts/run.sh as root"
tree=$PWD
start root root 80
check "as root: \"Serving http://localhost:$port/\" once it listens" \
  wait_for "$work/root.out" "^Serving http://localhost:$port/" 60
check "as root: the welcome page" welcome "http://localhost:$port/"
if [[ $port -eq 80 ]]; then
  check "as root: the new setup listens on port 80" test "$(setup_value "$work/root" Network Port)" = 0x50
fi
check "as root: the new setup keeps connections alive" test "$(setup_value "$work/root" Network UseKeepAlive)" = 0x1
check "as root: the new setup looks nothing up at start" test "$(setup_value "$work/root" Server ResolveLocal)" = 0x0
if [[ $port -eq 80 ]]; then
  # A second newcomer on the same machine: port 80 is the first one's.
  mkdir -p "$work/second"
  status=0
  timeout 60 env -i PATH=/usr/bin:/bin HOME="$work/second" LANG=C.UTF-8 ./scripts/run.sh \
    </dev/null >"$work/second.out" 2>&1 || status=$?
  check "a port held by another server: run.sh ends with status 1" test "$status" -eq 1
  check "... and never says it serves" test -z "$(grep Serving "$work/second.out")"
  check "... but how to give the setup another port" grep -q "varevavo-reg add" "$work/second.out"
fi
check "as root: SIGTERM stops it with status 0" stop "$pid"
echo "--- run.sh said:"
cat "$work/root.out" | grep -v '^\[' | tail -6

echo "== ./scripts/run.sh as an ordinary user"
user=$(getent passwd | awk -F: '$3 >= 1000 && $3 < 60000 && $7 !~ /(nologin|false)$/ { print $1; exit }')
if [[ -z $user ]]; then
  made_user=vv-newcomer
  useradd --create-home --shell /bin/bash "$made_user"
  user=$made_user
  echo "(no ordinary user here: made $user)"
fi
# The user works in this checkout, whose build/release cmake and ninja
# write to, when the user can reach it; a checkout in a folder closed to
# others (root's home) is copied for the user instead, and built anew.
reach=(setpriv --reuid="$user" --regid="$(id -g "$user")" --init-groups test -r "$PWD/scripts/run.sh")
rebuilt=no
if "${reach[@]}"; then
  chown -R "$user:" build/release
else
  tree="$work/checkout"
  mkdir "$tree"
  tar --exclude=./build -cf - . | tar -xf - -C "$tree"
  chown -R "$user:" "$tree"
  rebuilt=yes
  echo "(this checkout is out of $user's reach: $user runs a copy, built anew)"
fi
low_ports=$(cat /proc/sys/net/ipv4/ip_unprivileged_port_start 2>/dev/null || echo 1024)
wanted=80
[[ $low_ports -gt 80 ]] && wanted=8080
start user "$user" "$wanted"
check "as $user: \"Serving http://localhost:$port/\" once it listens" \
  wait_for "$work/user.out" "^Serving http://localhost:$port/" "$([[ $rebuilt == yes ]] && echo 1800 || echo 60)"
[[ $rebuilt == yes ]] || check "as $user: no rebuild" grep -q "ninja: no work to do" "$work/user.out"
check "as $user: the welcome page" welcome "http://localhost:$port/"
check "as $user: the home is the user's" test "$(stat -c %U "$work/user/.local/share/varevavo/registry.db")" = "$user"
site="http://localhost:$port"
htdocs="$work/user/.local/share/varevavo/drive_c/HTTPD/HTDOCS"

echo "== wget -r -np -k"
mirror="$work/mirror"
status=0
(cd "$work" && timeout 120 wget -q -r -np -k -e robots=off -P "$mirror" "$site/") || status=$?
check "wget -r -np -k: every request answered (status $status)" test "$status" -eq 0
saved="$mirror/localhost:$port"
[[ $port -eq 80 ]] && saved="$mirror/localhost"
for page in index.html files/index.html files/readme.txt ssi-sample.shtml 'cgi-bin/hello.cgi?name=visitor'; do
  check "wget saved $page" test -s "$saved/$page"
done
left=$(grep -rliE "(href|src)=\"?$site" "$saved" || true)
check "no saved page links to the server any more: every page it names was saved (${left:-none})" test -z "$left"
find "$saved" -type f | sed "s|^$saved/||" | sort
check "the script's links do not grow its extra path" test -z "$(find "$saved" -path '*hello.cgi/*/hello.cgi*')"

echo "== curl -T"
# The master key's password travels over HTTPS only, checked against the
# certificate the setup made.
printf 'Published by curl.\n' >"$work/page.html"
secure="https://localhost:$(($(setup_value "$work/user" TLS TLSPort)))"
cert="$work/user/.local/share/varevavo/drive_c/HTTPD/TLS/SERVER.CRT"
put() { curl -s -o /dev/null -w '%{http_code}' --max-time 10 --cacert "$cert" -T "$work/page.html" "$@" "$secure/page.html"; }
check "PUT while publishing is off (no master key): 403" test "$(put)" = 403
S='HKLM\SOFTWARE\Raziduzovo\Varevavo\Primary\Server'
"${as[@]}" "$tree/build/release/tools/varevavo-reg" add "$S" /v UseMasterKey /t REG_DWORD /d 1 /f >/dev/null
"${as[@]}" "$tree/build/release/tools/varevavo-reg" add "$S" /v MasterUser /d publisher /f >/dev/null
"${as[@]}" "$tree/build/release/tools/varevavo-reg" add "$S" /v MasterPassword /d 'open sesame' /f >/dev/null
kill -HUP "$pid"  # run.sh passes it on: the server re-reads the setup
code=401
for _ in $(seq 100); do
  code=$(put -u 'publisher:open sesame')
  [[ $code == 401 ]] || break
  sleep 0.1
done
check "after SIGHUP, PUT with the master user and password: stored ($code)" \
  test "$code" = 201 -o "$code" = 200 -o "$code" = 204
check "with the key on, PUT without credentials: 401" test "$(put)" = 401
check "with the key on, PUT with a wrong password: 401" test "$(put -u publisher:wrong)" = 401
check "with the key on, the password over plain HTTP: 403 (HTTPS Required)" test "$(curl -s -o /dev/null \
  -w '%{http_code}' --max-time 10 -T "$work/page.html" -u 'publisher:open sesame' "$site/page.html")" = 403
check "with the key on, PUT over plain HTTP without credentials: 403, no password asked for" test "$(curl -s \
  -D - -o /dev/null --max-time 10 -T "$work/page.html" "$site/page.html" | tr -d '\r' |
  grep -ciE '^(HTTP/1.. 403|WWW-Authenticate)')" = 1
check "the page is served as it was sent" cmp -s "$work/page.html" <(curl -s --max-time 10 "$site/page.html")
check "the page lies in the document root" cmp -s "$work/page.html" "$htdocs/page.html"
echo "401 answer's head:"
curl -s -D - -o /dev/null --max-time 10 --cacert "$cert" -T "$work/page.html" "$secure/page.html" |
  tr -d '\r' | sed 's/^/  /'

if [[ $browser == yes ]]; then
  echo "== a UTF-8 text file in headless Chromium"
  printf 'UTF-8 text: café, naïve, Grüße, déjà vu, 5 €, “quotes”\n' >"$htdocs/utf8.txt"
  chown "$user:" "$htdocs/utf8.txt"
  mkdir -p "$kept"
  rm -f "$kept/utf8.png"
  echo "Content-Type: $(curl -s -o /dev/null -w '%{content_type}' --max-time 10 "$site/utf8.txt")"
  timeout 120 chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=700,160 \
    --user-data-dir="$work/chromium" --screenshot="$kept/utf8.png" "$site/utf8.txt" >"$work/chromium.out" 2>&1 || true
  check "Chromium took a screenshot of utf8.txt ($kept/utf8.png; look at it: é, ü, € and the quotes as written)" \
    test -s "$kept/utf8.png"
fi

check "as $user: SIGTERM stops it with status 0" stop "$pid"
echo "--- run.sh said:"
grep -v '^\[' "$work/user.out" | tail -6

report first-minutes
