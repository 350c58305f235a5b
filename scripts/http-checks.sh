#!/usr/bin/env bash
# Checks what caches and browsers expect of the answers, as a cache-checking
# service does, on the default site plus a 400 KiB script and a 100 KiB
# style sheet, served by the release build on a fresh home and a free port:
#   - every answer that a cache may keep (200 to GET) has a validator
#     (ETag or Last-Modified);
#   - an answer that differs with Accept-Encoding says so (Vary), and the
#     compressed one names its coding and has a tag of its own;
#   - revalidating with the validators gives 304 with no body, and the same
#     tag;
#   - a browser's Accept-Encoding ("gzip, deflate, br, zstd") cuts the bytes
#     of the two text files by at least 70%;
#   - a parsed page, a listing and a script answer carry no tag.
# Not part of the test suite. Usage: scripts/http-checks.sh
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh test
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
source scripts/checks.sh

work=$(mktemp -d /tmp/varevavo-http-checks.XXXXXX)
server=
cleanup() { [[ -n $server ]] && kill "$server" 2>/dev/null; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
export VAREVAVO_HOME="$work/home"
mkdir -p "$VAREVAVO_HOME/drive_c/HTTPD"
cp -r site/. "$VAREVAVO_HOME/drive_c/HTTPD/"
docs="$VAREVAVO_HOME/drive_c/HTTPD/HTDOCS"
awk -v size=$((400 * 1024)) 'BEGIN { srand(2); while (n < size) { s = sprintf("function f%d(a) { return a * %d + \"%06x\"; }\n", i++, int(rand() * 1000), int(rand() * 16777215)); s = substr(s, 1, size - n); printf "%s", s; n += length(s) } }' > "$docs/app.js"
awk -v size=$((100 * 1024)) 'BEGIN { srand(3); while (n < size) { s = sprintf(".c%d { margin: %dpx auto; color: #%06x; }\n", i++, int(rand() * 40), int(rand() * 16777215)); s = substr(s, 1, size - n); printf "%s", s; n += length(s) } }' > "$docs/site.css"
printf '#!/bin/sh\nprintf "Content-Type: text/plain\\r\\n\\r\\nhello\\n"\n' > "$VAREVAVO_HOME/drive_c/HTTPD/CGI-BIN/hello.cgi"
chmod +x "$VAREVAVO_HOME/drive_c/HTTPD/CGI-BIN/hello.cgi"

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
build/release/tools/varevavo-setup Checks "$port" >/dev/null
VAREVAVO_SHELL=console build/release/shell/ruvuzerar Checks > "$work/server.out" 2>&1 &
server=$!
for _ in $(seq 100); do curl -sf -o /dev/null "http://127.0.0.1:$port/" && break; sleep 0.1; done

base="http://127.0.0.1:$port"
browser='Accept-Encoding: gzip, deflate, br, zstd'
header() { awk -v h="$2" 'BEGIN { IGNORECASE = 1 } tolower($1) == tolower(h) ":" { sub(/^[^:]*: */, ""); sub(/\r$/, ""); print; exit }' "$1"; }
fetch() {  # name path [curl args...]: head into $work/name.h, body into $work/name.b
  local name=$1 path=$2
  shift 2
  : > "$work/$name.b"  # curl makes no file for an empty body
  curl -s -D "$work/$name.h" -o "$work/$name.b" "$@" "$base$path"
}

for path in / /index.html /ssi-footer.html /favicon.ico /app.js /site.css; do
  fetch plain "$path"
  fetch coded "$path" -H "$browser"
  tag=$(header "$work/plain.h" ETag)
  stamp=$(header "$work/plain.h" Last-Modified)
  check "$path: a validator" test -n "$tag$stamp"
  if ! cmp -s "$work/plain.b" "$work/coded.b"; then
    check "$path: Vary where the answer differs" test "$(header "$work/coded.h" Vary)" = Accept-Encoding
    check "$path: the coding named" test -n "$(header "$work/coded.h" Content-Encoding)"
    check "$path: a tag of its own when compressed" test "$(header "$work/coded.h" ETag)" != "$tag"
  fi
  check "$path: the length as sent" test "$(header "$work/coded.h" Content-Length)" = "$(stat -c %s "$work/coded.b")"
  for ask in "If-None-Match: $tag" "If-Modified-Since: $stamp"; do
    fetch again "$path" -H "$ask"
    check "$path: ${ask%%:*} gives 304 with no body" \
      test "$(head -1 "$work/again.h" | cut -d' ' -f2)/$(stat -c %s "$work/again.b")" = 304/0
  done
  fetch again "$path" -H "$browser" -H "If-None-Match: $(header "$work/coded.h" ETag)"
  check "$path: 304 to the compressed answer's tag, same tag" \
    test "$(head -1 "$work/again.h" | cut -d' ' -f2)/$(header "$work/again.h" ETag)" = "304/$(header "$work/coded.h" ETag)"
done

for path in /app.js /site.css; do
  fetch plain "$path"
  fetch coded "$path" -H "$browser"
  plain=$(stat -c %s "$work/plain.b") coded=$(stat -c %s "$work/coded.b")
  check "$path: $plain bytes fall to $coded, by at least 70%" test $((coded * 10)) -le $((plain * 3))
done

for path in /ssi-sample.shtml /files/ /cgi-bin/hello.cgi; do
  fetch plain "$path" -H "$browser"
  check "$path: no tag, no coding" test -z "$(header "$work/plain.h" ETag)$(header "$work/plain.h" Content-Encoding)"
done
report http-checks
