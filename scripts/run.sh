#!/usr/bin/env bash
# Sets up, builds and runs the server on its embedded defaults.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release
if [[ ! -x build/release/shell/ruvuzerar ]]; then
  echo "Built the libraries; the server program does not exist yet."
  exit 0
fi
