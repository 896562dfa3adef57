#!/usr/bin/env bash
# wine-env.sh start against a Wine that hangs or crashes while the prefix is
# made, through a stand-in wineboot first on PATH. It works in a scratch build
# folder with a display of its own: the build's shared environment stays as
# it is.
#   wine-env-recovery.sh BUILD
set -euo pipefail

env_sh="$(cd "$(dirname "$0")/.." && pwd)/scripts/wine-env.sh"
s="$(cd "${1:?build folder}" && pwd)/wine-env-recovery"
real_wineboot=$(command -v wineboot)
failures=0

fail() { echo "FAIL: $*" >&2 && failures=$((failures + 1)); }
cleanup() { "$env_sh" stop "$s" >/dev/null 2>&1 || true && rm -rf "$s"; }
alive() { tr -d '\0' 2>/dev/null <"/proc/$1/environ" | grep -q .; }
start() { PATH="$s/bin:$PATH" "$env_sh" start "$s" 2>"$s/stderr"; }
trap cleanup EXIT
cleanup
mkdir -p "$s/bin"

# A wineboot that leaves a half-made prefix and never returns, with a child
# of its own: every try ends at the bound, and the third gives up.
cat >"$s/bin/wineboot" <<EOF
#!/usr/bin/env bash
mkdir -p "\$WINEPREFIX/drive_c"
sleep 600 &
echo \$! >>"$s/hung"
wait
EOF
chmod +x "$s/bin/wineboot"
began=$SECONDS
! QLX_WINE_START_TIMEOUT=3 start || fail "a start whose wineboot hangs succeeded"
took=$((SECONDS - began))
echo "gave up after ${took}s" && cat "$s/stderr"
[ "$took" -lt 40 ] || fail "giving up took ${took}s"
[ "$(wc -l <"$s/hung")" -eq 3 ] || fail "not three tries"
grep -qx "wine-env: Wine did not start in 3 tries, the last: wineboot -i did not end within the 3s a start may take (see $s/wine-env/start.log)" \
  "$s/stderr" || fail "no one-line reason naming the log"
while read -r pid; do ! alive "$pid" || fail "the hung wineboot's child outlived its try"; done <"$s/hung"

# A wineboot whose server crashes on the first call: it waits for ever and
# leaves an orphan in a session of its own, as the setup's rundll32 does in a
# real crash. Later calls are Wine's own. Each call notes when it ran and
# whether it found a prefix left over.
cat >"$s/bin/wineboot" <<EOF
#!/usr/bin/env bash
echo "\$(date +%s) \$(if [ -e "\$WINEPREFIX" ]; then echo leftover; else echo clean; fi)" >>"$s/calls"
[ -e "$s/orphan" ] && exec "$real_wineboot" "\$@"
mkdir -p "\$WINEPREFIX/drive_c"
setsid sleep 600 </dev/null >/dev/null 2>&1 &
echo \$! >"$s/orphan"
echo "wine client error:0: wineserver crashed, please enable coredumps (ulimit -c unlimited) and restart."
sleep 600
EOF
start || fail "no recovery from a crashed server"
cat "$s/stderr"
grep -q "try 1 of 3 failed: the wineserver crashed during wineboot -i" "$s/stderr" ||
  fail "the crash was not noticed"
read -r first first_found second second_found <<<"$(tr "\n" " " <"$s/calls")"
echo "the crashed try ended after $((second - first))s"
[ "$((second - first))" -lt 20 ] || fail "the crashed try was not ended by the crash"
[ "$first_found $second_found" = "clean clean" ] || fail "a try found a half-made prefix"
! alive "$(cat "$s/orphan")" || fail "the orphan of the crashed try still runs"
[ -f "$s/wine-env/prefix.complete" ] || fail "the prefix was not marked complete"
[ "$("$env_sh" run "$s" cmd.exe /c echo ready 2>/dev/null | tr -d '\r')" = ready ] ||
  fail "the recovered environment does not run a program"

[ "$failures" -eq 0 ] && echo "wine-env recovery: passed"
exit $((failures > 0))
