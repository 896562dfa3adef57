#!/usr/bin/env bash
# Install speed and memory of the real setup program under Wine, in one run:
# a new install of the sample payload, then of a generated large payload
# (a copy of the program whose form holds it), with the peak memory of the
# setup process and of a minimal window program as the baseline. Each is
# timed against its build without the payload check before "Start"
# (QLX_BENCH_RUNS, QLX_BENCH_LARGE_RUNS: runs of each, default 5 and 1).
#   bench/install/install.sh [BUILD]      (default: build/win32)
# The generated file's size is the build's QLX_BENCH_PAYLOAD_MB (200 MB).
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(cd "${1:-build/win32}" && pwd)
cmake --build "$build" --target qlx_install_bench qlx_minimal_window QLXT3SE_Setup QLXT3SE_Setup_large \
  QLXT3SE_Setup_unchecked QLXT3SE_Setup_large_unchecked >/dev/null
echo "generated file: $(cmake -L -N "$build" | sed -n 's/^QLX_BENCH_PAYLOAD_MB:STRING=//p') MB"
for exe in "$build/src/setup/QLXT3SE_Setup.exe" "$build/bench/install/QLXT3SE_Setup_large.exe"; do
  echo "$(basename "$exe"): $(stat -c %s "$exe") bytes; its store:"
  "$build/host-tools/tools/qlxform" list "$exe" | sed 's/^/  /'
done

vars=$(scripts/wine-env.sh env "$build")
eval "$vars"
bench="$build/bench/install/qlx_install_bench.exe"
setup="$build/src/setup/QLXT3SE_Setup.exe"
minimal="$build/bench/startup/qlx_minimal_window.exe"
# Each program against its build without the payload check before "Start".
large="$build/bench/install/QLXT3SE_Setup_large"
echo "== sample payload"
wine "$bench" "$setup" "$build/bench/install/QLXT3SE_Setup_unchecked.exe" "${QLX_BENCH_RUNS:-5}" "$minimal"
echo "== large payload"
wine "$bench" "$large.exe" "${large}_unchecked.exe" "${QLX_BENCH_LARGE_RUNS:-1}" "$minimal"
