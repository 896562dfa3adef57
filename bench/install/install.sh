#!/usr/bin/env bash
# Install speed and memory of the real setup program under Wine, in one run:
# a new install of the sample payload, then of a generated large payload
# (a copy of the program whose form holds it), with the peak memory of the
# setup process and of a minimal window program as the baseline. Each is
# timed against its build that writes the files in place without any check,
# and against an NSIS installer of the same files when makensis is there
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
# Each program against its build that writes in place without any check.
large="$build/bench/install/QLXT3SE_Setup_large"

# With Debian's nsis installed, an NSIS installer of the same four files
# (zlib, regsvr32 through ExecWait, silent) is timed in the same turns.
nsis_dir="$build/bench/install/nsis"
nsis() { # NAME MSVCRT: writes NAME.exe and prints its path
  local product="$build/product"
  mkdir -p "$nsis_dir"
  cat >"$nsis_dir/$1.nsi" <<NSI
Unicode false
SetCompressor zlib
Name "QLX Tessel 3 Starter Edition"
OutFile "$nsis_dir/$1.exe"
InstallDir "C:\\QLX Bench\\QLXT3SE"
RequestExecutionLevel admin
SilentInstall silent
Section
  SetOutPath "\$INSTDIR"
  File "$product/QLX_Tessel_3.dll"
  File "$product/sqlite3.dll"
  File "$product/uninstall.exe"
  File "$2"
  ExecWait '"\$SYSDIR\\regsvr32.exe" /s "\$INSTDIR\\QLX_Tessel_3.dll"'
  WriteRegStr HKLM "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QLXT3SE" "DisplayName" "QLX Tessel 3 Starter Edition"
  WriteRegStr HKLM "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QLXT3SE" "UninstallString" '"\$INSTDIR\\Uninstall.exe"'
  WriteRegStr HKCR "CLSID\\{5E2A9C71-3B64-4D0F-A8E2-91C7D04B36F5}\\ShellEx\\Preferencies\\General" "InstallFolder" "\$INSTDIR"
SectionEnd
NSI
  makensis -V1 "$nsis_dir/$1.nsi" >&2
  echo "$nsis_dir/$1.exe"
}
sample_nsis="" large_nsis=""
if command -v makensis >/dev/null; then
  sample_nsis=$(nsis sample "$build/product/Msvcrt.dll")
  large_nsis=$(nsis large "$build/bench/install/large/product/Msvcrt.dll")
  echo "NSIS $(makensis -VERSION): $(stat -c %s "$large_nsis") bytes with the large payload"
fi
echo "== sample payload"
wine "$bench" "$setup" "$build/bench/install/QLXT3SE_Setup_unchecked.exe" "${QLX_BENCH_RUNS:-5}" \
  "$minimal" $sample_nsis
echo "== large payload"
wine "$bench" "$large.exe" "${large}_unchecked.exe" "${QLX_BENCH_LARGE_RUNS:-1}" "$minimal" $large_nsis
