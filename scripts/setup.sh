#!/usr/bin/env bash
# Installs the Debian packages a purpose needs. Purposes: build (always),
# test, desktop, package (build and check the Debian packages), fuzz, bench,
# browser (the headless browser of scripts/first-minutes.sh --browser),
# dualstack (the clients of scripts/dual-stack.sh), acme (the helper and the
# test authority of scripts/acme-pebble.sh; the test purpose pulls it too).
# As root the missing packages are installed with apt-get; otherwise the
# script names them and stops.
set -euo pipefail

declare -A packages=(
  [build]="g++ cmake ninja-build pkg-config libsqlite3-dev media-types libssl-dev zlib1g-dev libbrotli-dev libzstd-dev libcrypt-dev"
  [test]="googletest libgtest-dev python3 perl tmux wget curl"
  [desktop]="qt6-base-dev qt6-qpa-plugins"
  [package]="dpkg-dev lintian systemd scdoc logrotate curl groff-base python3 adduser"
  [fuzz]="clang libclang-rt-14-dev"
  [bench]="nginx-light lighttpd lighttpd-mod-openssl lighttpd-mod-deflate h2o apache2-utils linux-perf valgrind haproxy wrk nghttp2-client python3-requests openssl testssl.sh"
  [browser]="chromium"
  [dualstack]="curl python3 python3-requests"
  [acme]="uacme pebble openssl curl python3 ca-certificates"
)

wanted="${packages[build]}"
for purpose in "$@"; do
  [[ -n "${packages[$purpose]+x}" ]] || { echo "setup.sh: unknown purpose '$purpose'" >&2; exit 2; }
  wanted+=" ${packages[$purpose]}"
  # The tests include the offline run of automatic certificates.
  [[ $purpose == test ]] && wanted+=" ${packages[acme]}"
done

missing=()
for p in $wanted; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -eq 0 ]]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
else
  echo "These Debian packages are missing; install them and run this again:" >&2
  echo "  sudo apt-get install ${missing[*]}" >&2
  exit 1
fi
