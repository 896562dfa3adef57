#!/usr/bin/env bash
# Writes a PNG of each wizard page and of the picture viewer:
#   scripts/screenshots.sh [BUILD] [OUTDIR] [DPI]
# (defaults: build/win32, BUILD/screenshots, 96). At another DPI the display
# is set to it for the programs started here, and the names start "dpiN-".
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
dpi=${3:-96}
prefix=''
desktop='HKCU\Control Panel\Desktop'
if [ "$dpi" != 96 ]; then
  prefix="dpi$dpi-"
  wine reg add "$desktop" /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null
fi
restore() { [ "$dpi" = 96 ] || wine reg delete "$desktop" /v LogPixels /f >/dev/null 2>&1 || true; }

shot() { # name: the screen, trimmed to the windows on it
  local name="$prefix$1"
  sleep 1.5
  import -window root -display "$DISPLAY" "$out/$name.full.png"
  convert "$out/$name.full.png" -trim +repage "$out/$name.png"
  rm -f "$out/$name.full.png"
  echo "$out/$name.png"
}
click() { wine "$driver" click "$@"; }

wine "$setup" &
pid=$!
trap 'kill $pid 2>/dev/null || true; restore' EXIT
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
