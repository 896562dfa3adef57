#!/usr/bin/env bash
# Builds the setup program twice from the current commit, in two fresh clones
# at different paths (the first with its build folder inside the clone, the
# second beside it) and with the clock moved on by more than a year for the
# second, then compares the setup program and the product's files byte for
# byte. Uncommitted changes are not built.
#   scripts/reproducible.sh          QLX_REPRO_KEEP=1 keeps the two builds
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
commit=$(git -C "$root" rev-parse HEAD)

command -v faketime >/dev/null || {
  echo "reproducible: faketime is missing (scripts/bootstrap.sh installs it)" >&2
  exit 1
}

work=$(mktemp -d "${TMPDIR:-/tmp}/qlx-repro.XXXXXX")
if [ "${QLX_REPRO_KEEP:-0}" = 1 ]; then
  echo "reproducible: builds kept in $work"
else
  trap 'rm -rf "$work"' EXIT
  trap 'exit 143' TERM INT
fi

# The build must not lean on a time from its environment: the clock is the
# only time it sees.
unset SOURCE_DATE_EPOCH

# clone <folder>: a fresh clone of the commit under test.
clone() {
  git clone -q --no-checkout "$root" "$1"
  git -C "$1" checkout -q --detach "$commit"
}

# build <source folder> <build folder> [command prefix...]: only the setup
# program and what it needs (the product, the native form tool).
build() {
  local src=$1 bin=$2
  shift 2
  (cd "$src" && "$@" cmake --preset win32 -B "$bin" >/dev/null)
  "$@" cmake --build "$bin" --target QLXT3SE_Setup -j2 >"$bin.log" 2>&1 || {
    cat "$bin.log" >&2
    exit 1
  }
}

a_src=$work/a
a_bin=$a_src/build/win32
b_src=$work/second-clone-at-a-longer-path/src
b_bin=$work/second-clone-at-a-longer-path/out/win32-build

echo "reproducible: building $commit in $a_src"
clone "$a_src"
build "$a_src" "$a_bin"
echo "reproducible: building it again in $b_src, build folder $b_bin, clock +400 days"
mkdir -p "$(dirname "$b_src")"
clone "$b_src"
build "$b_src" "$b_bin" faketime -f +400d

# first_differences <file a> <file b>: the first few differing offsets, in hex.
first_differences() {
  cmp -l "$1" "$2" 2>/dev/null | head -8 | awk '{ printf "  offset 0x%x: %03o %03o\n", $1 - 1, $2, $3 }' || true
}

status=0
for file in src/setup/QLXT3SE_Setup.exe product/QLX_Tessel_3.dll product/sqlite3.dll \
  product/uninstall.exe product/Msvcrt.dll src/setup/TFORM1.bin src/setup/TFORM3.bin; do
  a=$a_bin/$file b=$b_bin/$file
  if [ ! -f "$a" ] || [ ! -f "$b" ]; then
    echo "reproducible: $file was not built" >&2
    status=1
  elif cmp -s "$a" "$b"; then
    echo "reproducible: $file identical ($(stat -c %s "$a") bytes)"
  else
    echo "reproducible: $file DIFFERS (sizes $(stat -c %s "$a") and $(stat -c %s "$b"))" >&2
    first_differences "$a" "$b" >&2
    status=1
  fi
done

# Neither folder may show up in what ships, whatever its length.
for file in src/setup/QLXT3SE_Setup.exe product/QLX_Tessel_3.dll product/sqlite3.dll \
  product/uninstall.exe product/Msvcrt.dll; do
  if strings -a "$b_bin/$file" | grep -F -e "$work" -e "$(basename "$work")"; then
    echo "reproducible: $file holds a build path" >&2
    status=1
  fi
done

if [ $status = 0 ]; then
  echo "reproducible: the setup program and its payload are the same in both builds"
fi
exit $status
