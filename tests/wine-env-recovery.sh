#!/usr/bin/env bash
# wine-env.sh start against a Wine that hangs or crashes while the prefix is
# made, through a stand-in wineboot first on PATH. It works in a scratch build
# folder with a display of its own: the build's shared environment stays as
# it is.
#   wine-env-recovery.sh BUILD
set -euo pipefail

env_sh="$(cd "$(dirname "$0")/.." && pwd)/scripts/wine-env.sh"
scratch="$(cd "${1:?build folder}" && pwd)/wine-env-recovery"
prefix="$scratch/wine-env/prefix"
real_wineboot=$(command -v wineboot)
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
cleanup() {
  "$env_sh" stop "$scratch" >/dev/null 2>&1 || true
  rm -rf "$scratch"
}
alive() { tr -d '\0' 2>/dev/null <"/proc/$1/environ" | grep -q .; }
standin() {
  cat >"$scratch/bin/wineboot"
  chmod +x "$scratch/bin/wineboot"
}
start() { PATH="$scratch/bin:$PATH" "$env_sh" start "$scratch" 2>"$scratch/stderr"; }

trap cleanup EXIT
cleanup
mkdir -p "$scratch/bin"

# A wineboot that leaves a half-made prefix and never returns, with a child
# of its own: every try ends at the bound, and the third gives up.
standin <<EOF
#!/usr/bin/env bash
mkdir -p "\$WINEPREFIX/drive_c"
sleep 600 &
echo \$! >>"$scratch/hung"
wait
EOF
limit=3
began=$SECONDS
if QLX_WINE_START_TIMEOUT=$limit start; then fail "a start whose wineboot hangs succeeded"; fi
took=$((SECONDS - began))
cat "$scratch/stderr"
echo "gave up after ${took}s"
[ "$took" -lt $((3 * (limit + 10))) ] || fail "giving up took ${took}s"
[ "$(wc -l <"$scratch/hung")" -eq 3 ] || fail "not three tries: $(wc -l <"$scratch/hung")"
grep -qx "wine-env: Wine did not start in 3 tries, the last: wineboot -i did not end within the ${limit}s a start may take (see $scratch/wine-env/start.log)" \
  "$scratch/stderr" || fail "no one-line reason naming the log"
while read -r pid; do
  if alive "$pid"; then fail "the hung wineboot's child $pid outlived its try"; fi
done <"$scratch/hung"
[ ! -e "$scratch/wine-env/prefix.complete" ] || fail "a failed start marked the prefix complete"

# A wineboot whose server crashes on the first call: it waits for ever, and
# leaves an orphan in a session of its own, as the setup's rundll32 of a real
# crash does. Later calls are Wine's own. Each call notes when it ran and
# whether it found a prefix left over.
standin <<EOF
#!/usr/bin/env bash
if [ -e "\$WINEPREFIX" ]; then echo leftover; else echo clean; fi >>"$scratch/calls"
date +%s >>"$scratch/times"
if [ ! -e "$scratch/orphan" ]; then
  mkdir -p "\$WINEPREFIX/drive_c"
  setsid sleep 600 </dev/null >/dev/null 2>&1 &
  echo \$! >"$scratch/orphan"
  echo "wine client error:0: wineserver crashed, please enable coredumps (ulimit -c unlimited) and restart."
  sleep 600
fi
exec "$real_wineboot" "\$@"
EOF
start || fail "no recovery from a crashed server: $(cat "$scratch/stderr")"
cat "$scratch/stderr"
grep -q "try 1 of 3 failed: the wineserver crashed during wineboot -i" "$scratch/stderr" ||
  fail "the crash was not noticed"
[ "$(tr '\n' ' ' <"$scratch/calls")" = "clean clean " ] ||
  fail "a try found a half-made prefix: $(tr '\n' ' ' <"$scratch/calls")"
waited=$(($(tail -1 "$scratch/times") - $(head -1 "$scratch/times")))
echo "the crashed try ended after ${waited}s"
[ "$waited" -lt 20 ] || fail "the crashed try lasted ${waited}s, not ended by the crash"
if alive "$(cat "$scratch/orphan")"; then fail "the orphan of the crashed try still runs"; fi
if [ ! -f "$scratch/wine-env/prefix.complete" ] || [ ! -f "$prefix/system.reg" ]; then
  fail "the prefix was not made and marked complete"
fi
[ "$("$env_sh" run "$scratch" cmd.exe /c echo ready 2>/dev/null | tr -d '\r')" = ready ] ||
  fail "the recovered environment does not run a program"

[ "$failures" -eq 0 ] && echo "wine-env recovery: passed"
exit $((failures > 0))
