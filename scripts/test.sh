#!/usr/bin/env bash
# Sets up, builds and runs every test under AddressSanitizer and
# UndefinedBehaviorSanitizer, then builds and checks the Debian packages
# (scripts/package-test.sh, as root) and does what a newcomer does with the
# README's first command, as root and as an ordinary user
# (scripts/first-minutes.sh, as root), and obtains and renews certificates
# from a test authority offline (scripts/acme-pebble.sh, as root).
# Usage: scripts/test.sh [ctest arguments]; with arguments only the tests
# they choose run.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh test desktop
cmake --preset debug >/dev/null
cmake --build --preset debug
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
# The desktop front end's tests draw into memory, without a display.
export QT_QPA_PLATFORM=offscreen
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
ctest --preset debug -j2 "$@"
if [[ $# -eq 0 ]]; then
  ./scripts/package-test.sh
  ./scripts/first-minutes.sh
  ./scripts/acme-pebble.sh
fi
