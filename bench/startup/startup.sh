#!/usr/bin/env bash
# Time from process start to the window shown, for the setup program and for a
# minimal Win32 window program, started the same way under the same Wine:
#   bench/startup/startup.sh [BUILD] [RUNS]      (defaults: build/win32, 5)
# Prints the setup program's size less its payload (size.sh), then each
# program's median start-up time and their ratio.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(cd "${1:-build/win32}" && pwd)
runs=${2:-5}
cmake --build "$build" --target qlx_startup_bench qlx_minimal_window QLXT3SE_Setup >/dev/null
bench/startup/size.sh "$build"
vars=$(scripts/wine-env.sh env "$build")
eval "$vars"
setup="$build/src/setup/QLXT3SE_Setup.exe"
minimal="$build/bench/startup/qlx_minimal_window.exe"

# The starts are timed from inside Wine, to the millisecond; the setup program
# and the minimal window program take turns.
wine "$build/bench/startup/qlx_startup_bench.exe" "$setup" "$minimal" "$runs"
