#!/usr/bin/env bash
# One headless Windows environment per build folder: a Wine prefix, an Xvfb
# display and a persistent wineserver, started once and shared by every test.
#   wine-env.sh start BUILD        start (or find) the environment
#   wine-env.sh run BUILD CMD...   run a Windows program in it (starts it if needed)
#   wine-env.sh stop BUILD         end the display and every process of the prefix
#   wine-env.sh env BUILD          print the variables, for use with eval
# Wine under qemu crashes now and then, its server included, and a start that
# crashed can leave processes waiting forever on a half-made prefix. So a
# start is bounded in time (QLX_WINE_START_TIMEOUT seconds, 180 by default,
# for each try), a prefix counts as made only once the marker written last
# exists, and a failed try ends every process of the prefix and makes it
# again, up to three times. Everything a start runs goes to wine-env/start.log.
# QLX_WINE_ARCH=win64 makes a 64-bit prefix, where the 32-bit programs run
# under WOW64 as on 64-bit Windows; a prefix keeps the kind it was made with
# for later calls that name none.
set -euo pipefail

cmd=${1:?command}
build=$(cd "${2:?build folder}" && pwd)
shift 2
state="$build/wine-env"
mkdir -p "$state"

export WINEPREFIX="$state/prefix"
arch=${QLX_WINE_ARCH:-$(cat "$state/arch" 2>/dev/null || echo win32)}
case $arch in
win32 | win64) ;;
*)
  echo "wine-env: QLX_WINE_ARCH must be win32 or win64, not $arch" >&2
  exit 2
  ;;
esac
export WINEARCH=$arch
export WINEDEBUG=${WINEDEBUG:--all}
# Wine names Unix files in the character set of the locale: without a UTF-8
# one (a fresh machine sets none) no file name outside ASCII can be made.
case "${LC_ALL:-${LC_CTYPE:-${LANG:-}}}" in
*.UTF-8 | *.utf8 | *.UTF8 | *.utf-8) ;;
*)
  unset LC_ALL LC_CTYPE
  export LANG=C.UTF-8
  ;;
esac
# No Mono or Gecko installers, no menu entries: the tests need none of them.
# No crash debugger either: under qemu it hangs instead of reporting, and a
# crashed test must end. A start always uses these; a caller's own overrides
# apply to the program it runs.
own_overrides="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-$own_overrides}

log="$state/start.log"
complete="$state/prefix.complete"
limit=${QLX_WINE_START_TIMEOUT:-180}
tries=3

display_alive() {
  [ -f "$state/xvfb.pid" ] && kill -0 "$(cat "$state/xvfb.pid")" 2>/dev/null
}

start_display() {
  display_alive && return 0
  local n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    # Not marked as a process of the prefix, and not holding the lock.
    env -u WINEPREFIX Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$state/xvfb.log" 2>&1 9>&- &
    echo $! >"$state/xvfb.pid"
    local _
    for _ in $(seq 1 50); do
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
  fc-list -q "Liberation Sans" 2>/dev/null || return 0
  printf '%s\r\n' 'REGEDIT4' '' '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]' \
    '"Arial"="Liberation Sans"' '"Times New Roman"="Liberation Serif"' \
    '"Courier New"="Liberation Mono"' >"$state/fonts.reg"
  step wine regedit /S "$state/fonts.reg"
}

crashed_since() { # OFFSET: the log from there on shows a crashed server
  grep -q "wineserver crashed" < <(tail -c "+$1" "$log")
}

# Runs one step of a start within the time left to the try, away from the
# caller's output: the services a step starts keep their output open, and
# ctest waits for a test's output to close. Sets rc to the step's status;
# fails when the step outlives the try or its output shows a crashed server.
bounded() {
  local left=$((deadline - SECONDS)) from pid n=0
  rc=0
  if [ "$left" -le 0 ]; then
    reason="the start took longer than ${limit}s, before $*"
    return 1
  fi
  from=$(($(stat -c %s "$log") + 1))
  printf 'wine-env: %(%T)T %s\n' -1 "$*" >>"$log"
  # timeout ends the step's whole process group; what Wine moved into
  # sessions of its own is left to end_prefix.
  WINEDLLOVERRIDES=$own_overrides timeout -k 5 "$left" "$@" </dev/null >>"$log" 2>&1 9>&- &
  pid=$!
  # The clients of a crashed server may wait for ever: a crash ends the step.
  while kill -0 "$pid" 2>/dev/null; do
    # Most steps end at once.
    if [ "$n" -lt 10 ]; then sleep 0.01; else sleep 0.1; fi
    n=$((n + 1))
    if [ $((n % 10)) -eq 0 ] && crashed_since "$from"; then
      kill -TERM "$pid" 2>/dev/null || true
      break
    fi
  done
  wait "$pid" || rc=$?
  if crashed_since "$from"; then
    reason="the wineserver crashed during $*"
    return 1
  fi
  if [ "$rc" -eq 124 ] || [ "$rc" -eq 137 ]; then
    reason="$* did not end within the ${limit}s a start may take"
    return 1
  fi
}

# A bounded step that must also succeed.
step() {
  bounded "$@" || return 1
  [ "$rc" -eq 0 ] && return 0
  reason="$* failed with status $rc"
  return 1
}

# Same prefix path and same root: a copy of this project in a chroot has the
# same paths.
belongs_to_prefix() { # PID
  local var
  [ "/proc/$1/root" -ef "/proc/$$/root" ] || return 1
  while IFS= read -r -d '' var; do
    [ "$var" = "WINEPREFIX=$WINEPREFIX" ] && return 0
  done 2>/dev/null <"/proc/$1/environ"
  return 1
}

any_belongs() { # PID...
  local p
  for p; do belongs_to_prefix "$p" && return 0; done
  return 1
}

# Ends every process of the prefix: its server first, then whatever a start
# that went wrong left behind. Wine puts each of its processes in a session of
# its own, so only their environment tells which prefix they belong to. This
# script and its callers are spared, and so is the display.
end_prefix() {
  timeout -k 2 10 wineserver -k >/dev/null 2>&1 9>&- || true
  timeout -k 2 10 wineserver -w >/dev/null 2>&1 9>&- || true
  local spared p=$$ pids=() _
  spared=" $(cat "$state/xvfb.pid" 2>/dev/null || true) "
  while [ "$p" -gt 1 ]; do
    spared+="$p "
    p=$(sed -n 's/^PPid:[[:space:]]*//p' "/proc/$p/status" 2>/dev/null || true)
    p=${p:-1}
  done
  for p in /proc/[0-9]*; do
    p=${p#/proc/}
    [[ $spared == *" $p "* ]] && continue
    belongs_to_prefix "$p" && pids+=("$p")
  done
  [ ${#pids[@]} -gt 0 ] || return 0
  echo "wine-env: ending ${#pids[@]} leftover process(es) of $WINEPREFIX" >>"$log"
  kill -KILL "${pids[@]}" 2>/dev/null || true
  for _ in $(seq 1 50); do
    any_belongs "${pids[@]}" || return 0
    sleep 0.1
  done
}

# One try: makes the prefix unless it is complete, then starts its server.
try_start() {
  deadline=$((SECONDS + limit))
  if [ ! -f "$complete" ] || [ ! -f "$WINEPREFIX/system.reg" ] ||
    [ "$(cat "$state/arch" 2>/dev/null || echo win32)" != "$arch" ]; then
    rm -f "$complete" "$state/fonts.done" "$state/arch"
    end_prefix
    if ! rm -rf "$WINEPREFIX"; then
      reason="$WINEPREFIX could not be removed"
      return 1
    fi
    step wineboot -i || return 1
    echo "$arch" >"$state/arch"
    copy_fonts
    setup_fonts || return 1
    # The server these steps started ends a few seconds after them; the
    # persistent one below must be a new server.
    step wineserver -w || return 1
  fi
  # A persistent server keeps every later Wine start down to a fraction of a second.
  bounded wineserver -p || return 1
  case $rc in
  0) step wine cmd.exe /c exit || return 1 ;; # a new server: start its services now
  2) ;;                                       # a server is running already
  *)
    reason="wineserver -p failed with status $rc"
    return 1
    ;;
  esac
  touch "$complete"
}

start() {
  exec 9>"$state/lock"
  flock 9
  start_display
  export DISPLAY
  DISPLAY=$(cat "$state/display")
  touch "$log"
  local try reason=''
  for try in $(seq 1 $tries); do
    if try_start; then
      flock -u 9
      return 0
    fi
    echo "wine-env: try $try of $tries failed: $reason" | tee -a "$log" >&2
    rm -f "$complete"
    end_prefix
  done
  flock -u 9
  echo "wine-env: Wine did not start in $tries tries, the last: $reason (see $log)" >&2
  return 1
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
  printf 'export WINEPREFIX=%q WINEARCH=%q WINEDEBUG=%q WINEDLLOVERRIDES=%q DISPLAY=%q\n' \
    "$WINEPREFIX" "$arch" "$WINEDEBUG" "$WINEDLLOVERRIDES" "$(cat "$state/display")"
  if [ -z "${LC_ALL:-}${LC_CTYPE:-}" ]; then printf 'export LANG=%q\n' "${LANG:-}"; fi
  ;;
stop)
  end_prefix
  if display_alive; then kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true; fi
  rm -f "$state/xvfb.pid" "$state/display"
  ;;
*)
  echo "usage: wine-env.sh start|run|env|stop BUILD [CMD...]" >&2
  exit 2
  ;;
esac
