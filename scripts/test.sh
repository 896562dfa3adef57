#!/usr/bin/env bash
# Runs every test: installs what is missing, builds both builds, runs their tests.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh

status=0
for preset in native win32; do
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
for preset in native win32; do
  echo "=== $preset: tests"
  ctest --preset "$preset" || status=1
done
exit $status
