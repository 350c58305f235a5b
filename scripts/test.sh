#!/usr/bin/env bash
# Sets up, builds and runs every test under AddressSanitizer and
# UndefinedBehaviorSanitizer. Usage: scripts/test.sh [ctest arguments]
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
