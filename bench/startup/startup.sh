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
bench/startup/size.sh "$build"
eval "$(scripts/wine-env.sh env "$build")"
setup="$build/src/setup/QLXT3SE_Setup.exe"
minimal="$build/bench/startup/qlx_minimal_window.exe"

now_ms() { date +%s%3N; }

# Milliseconds from starting $1 until a mapped top-level window titled $2 exists.
time_to_window() {
  local exe=$1 title=$2 start pid
  start=$(now_ms)
  wine "$exe" >/dev/null 2>&1 &
  pid=$!
  until xwininfo -root -tree -display "$DISPLAY" 2>/dev/null | grep -qF "\"$title\""; do
    if ! kill -0 $pid 2>/dev/null; then
      echo "$exe ended before showing its window" >&2
      wait $pid 2>/dev/null || true
      sleep 0.5
      return 1
    fi
    sleep 0.01
  done
  echo $(($(now_ms) - start))
  kill $pid 2>/dev/null || true
  wait $pid 2>/dev/null || true
  sleep 0.5 # let the window go before the next start
}

# Under qemu a Wine process now and then crashes while it starts, whichever
# the program: such a start is made again.
timed_start() {
  local try
  for try in 1 2 3; do
    time_to_window "$@" && return 0
  done
  return 1
}

median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

# One start of each first, so the prefix and the file cache are warm for both.
timed_start "$minimal" "QLX Minimal Window" >/dev/null
timed_start "$setup" "QLX Installer" >/dev/null
m=() s=()
for ((i = 0; i < runs; i++)); do
  m+=("$(timed_start "$minimal" "QLX Minimal Window")")
  s+=("$(timed_start "$setup" "QLX Installer")")
done
mm=$(printf '%s\n' "${m[@]}" | median)
sm=$(printf '%s\n' "${s[@]}" | median)
echo "minimal window: ${m[*]} ms (median $mm)"
echo "setup program:  ${s[*]} ms (median $sm)"
awk -v s="$sm" -v m="$mm" 'BEGIN {printf "ratio: %.2f\n", s / m}'
