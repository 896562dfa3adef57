#!/usr/bin/env bash
# One headless Windows environment per build folder: a Wine prefix, an Xvfb
# display and a persistent wineserver, started once and shared by every test.
#   wine-env.sh start BUILD        start (or find) the environment
#   wine-env.sh run BUILD CMD...   run a Windows program in it (starts it if needed)
#   wine-env.sh stop BUILD         end the display and the wineserver
#   wine-env.sh env BUILD          print the variables, for use with eval
set -euo pipefail

cmd=${1:?command}
build=$(cd "${2:?build folder}" && pwd)
shift 2
state="$build/wine-env"
mkdir -p "$state"

export WINEPREFIX="$state/prefix"
export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installers, no menu entries: the tests need none of them.
# No crash debugger either: under qemu it hangs instead of reporting, and a
# crashed test must end.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"}

display_alive() {
  [ -f "$state/xvfb.pid" ] && kill -0 "$(cat "$state/xvfb.pid")" 2>/dev/null
}

start_display() {
  display_alive && return 0
  local n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$state/xvfb.log" 2>&1 &
    echo $! >"$state/xvfb.pid"
    local i
    for i in $(seq 1 50); do
      [ -e "/tmp/.X11-unix/X$n" ] && break
      sleep 0.1
    done
    if kill -0 "$(cat "$state/xvfb.pid")" 2>/dev/null; then
      echo ":$n" >"$state/display"
      return 0
    fi
  done
  echo "wine-env: no free X display" >&2
  return 1
}

# Wine does not find its own TrueType fonts (fonts-wine) where Debian puts
# them, so they go into every prefix: without Tahoma, the wizard's font, the
# pages fall back to a wider face than Windows has and the layout tests fail.
copy_fonts() {
  local fonts="$WINEPREFIX/drive_c/windows/Fonts" ttf
  if [ ! -e /usr/share/wine/fonts/tahoma.ttf ]; then
    echo "wine-env: /usr/share/wine/fonts/tahoma.ttf is missing (run scripts/bootstrap.sh)" >&2
    return 0
  fi
  [ -e "$fonts/tahoma.ttf" ] && return 0
  mkdir -p "$fonts"
  for ttf in /usr/share/wine/fonts/*.ttf; do
    cp -n "$ttf" "$fonts/"
  done
}

# Wine has no Arial, Times New Roman or Courier New: the metric-compatible
# Liberation fonts stand in for them.
setup_fonts() {
  if fc-list -q "Liberation Sans" 2>/dev/null; then
    printf '%s\r\n' 'REGEDIT4' '' '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]' \
      '"Arial"="Liberation Sans"' '"Times New Roman"="Liberation Serif"' \
      '"Courier New"="Liberation Mono"' >"$state/fonts.reg"
    wine regedit /S "$state/fonts.reg" >/dev/null 2>&1 || true
  fi
  touch "$state/fonts.done"
}

start() {
  exec 9>"$state/lock"
  flock 9
  start_display
  export DISPLAY
  DISPLAY=$(cat "$state/display")
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >"$state/wineboot.log" 2>&1 || true
  fi
  copy_fonts
  [ -f "$state/fonts.done" ] || setup_fonts
  # A persistent server keeps every later Wine start down to a fraction of a second.
  if wineserver -p >/dev/null 2>&1; then
    # A new server: start the prefix's services now, away from the caller's
    # output. Started by a test program, they would hold its output open, and
    # ctest waits for that to close.
    wine cmd.exe /c exit </dev/null >/dev/null 2>&1 9>&- || true
  fi
  flock -u 9
}

case "$cmd" in
start)
  start
  ;;
run)
  start
  export DISPLAY
  DISPLAY=$(cat "$state/display")
  exec wine "$@"
  ;;
env)
  start >/dev/null
  printf 'export WINEPREFIX=%q WINEARCH=win32 WINEDEBUG=%q WINEDLLOVERRIDES=%q DISPLAY=%q\n' \
    "$WINEPREFIX" "$WINEDEBUG" "$WINEDLLOVERRIDES" "$(cat "$state/display")"
  ;;
stop)
  wineserver -k >/dev/null 2>&1 || true
  # The server ends after the request: a start right after must not find it.
  wineserver -w >/dev/null 2>&1 || true
  if display_alive; then kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true; fi
  rm -f "$state/xvfb.pid" "$state/display"
  ;;
*)
  echo "usage: wine-env.sh start|run|env|stop BUILD [CMD...]" >&2
  exit 2
  ;;
esac
