#!/usr/bin/env bash
# Builds the setup program and starts it under Wine: on the user's display
# when there is one, else on the build's own Xvfb display.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target QLXT3SE_Setup
build=build/win32
setup="$PWD/$build/src/setup/QLXT3SE_Setup.exe"

if [ -n "${DISPLAY:-}" ]; then
  user_display=$DISPLAY
  # Apart from eval, so that a start that gives up ends this script.
  vars=$(scripts/wine-env.sh env "$build")
  eval "$vars"
  export DISPLAY=$user_display
  exec wine "$setup"
fi
exec scripts/wine-env.sh run "$build" "$setup"
