#!/usr/bin/env bash
# Writes a PNG of each wizard page and of the picture viewer:
#   scripts/screenshots.sh [BUILD] [OUTDIR]     (defaults: build/win32, BUILD/screenshots)
# The first five pages are reached by clicking through the real program; the
# finish page and the viewer, which only an install reaches, come from the
# same compiled forms shown by qlx_form_preview.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build/win32}" && pwd)
out=${2:-$build/screenshots}
mkdir -p "$out"
vars=$(scripts/wine-env.sh env "$build")
eval "$vars"
setup="$build/src/setup/QLXT3SE_Setup.exe"
driver="$build/tests/e2e/qlx_wizard_driver.exe"
preview="$build/tests/e2e/qlx_form_preview.exe"

shot() { # name: the screen, trimmed to the windows on it
  sleep 1.5
  import -window root -display "$DISPLAY" "$out/$1.full.png"
  convert "$out/$1.full.png" -trim +repage "$out/$1.png"
  rm -f "$out/$1.full.png"
  echo "$out/$1.png"
}
click() { wine "$driver" click "$@"; }

wine "$setup" &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
wine "$driver" wait
shot 1-welcome
click Next && shot 2-licence
click "I agree" Next && shot 3-kind
click Next && shot 4-folder
click Next && shot 5-confirmation
click Exit
wait $pid || true

form1="$build/src/setup/TFORM1.bin"
form3="$build/src/setup/TFORM3.bin"
for page in finish viewer; do
  wine "$preview" "$form1" "$form3" "$page" &
  pid=$!
  sleep 6
  if [ $page = finish ]; then shot 6-finish; else shot 7-viewer; fi
  kill $pid 2>/dev/null || true
  wait $pid 2>/dev/null || true
done
