#!/usr/bin/env bash
# The setup program's own size: the executable less its compressed payload,
# the stored items' zlib data with their 4-byte length prefixes in TFORM1.
#   bench/startup/size.sh [BUILD]      (default: build/win32)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(cd "${1:-build/win32}" && pwd)
setup="$build/src/setup/QLXT3SE_Setup.exe"
qlxform="$build/host-tools/tools/qlxform"

total=$(stat -c %s "$setup")
# qlxform list: a header line, then one line per item with its Size in column 4.
read -r items payload < <("$qlxform" list "$setup" | awk -F'\t' 'NR > 1 { n++; s += $4 + 4 } END { print n + 0, s + 0 }')
own=$((total - payload))
echo "QLXT3SE_Setup.exe: $total bytes"
echo "compressed payload: $payload bytes ($items items, zlib data with length prefixes)"
awk -v own="$own" 'BEGIN { printf "size less payload: %d bytes (%.1f KB)\n", own, own / 1024 }'
