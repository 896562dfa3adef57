#!/usr/bin/env bash
# Installs everything the two builds need on a Debian 12 machine (run as root).
# Idempotent: when all is present it only checks and returns within seconds.
set -euo pipefail

JPEG_PREFIX=${QLX_JPEG_PREFIX:-/opt/qlx/libjpeg-mingw32}
here=$(cd "$(dirname "$0")/.." && pwd)

log() { printf 'bootstrap: %s\n' "$*" >&2; }

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

packages=(
  wine wine32 wine64 wine32-preloader wine64-preloader xvfb xauth x11-utils imagemagick fonts-liberation fonts-wine
  mingw-w64 g++-mingw-w64-i686-posix libz-mingw-w64-dev
  gcc g++ libc6-dev zlib1g-dev libjpeg-dev cmake ninja-build googletest
  procps openssl osslsigncode faketime
  clang-14 libclang-rt-14-dev clang-format dpkg-dev locales qemu-user-static
)

missing_packages() {
  local p
  for p in "${packages[@]}"; do
    case "$p" in
      wine32 | wine32-preloader) p=$p:i386 ;;
    esac
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

ensure_i386() {
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    log "adding the i386 architecture"
    as_root dpkg --add-architecture i386
    need_update=1
  fi
}

# A deb-src entry mirroring the machine's own deb entries, so apt-get source works.
ensure_deb_src() {
  local f=/etc/apt/sources.list.d/qlx-deb-src.sources
  [ -f "$f" ] && return 0
  log "adding deb-src entries derived from the existing apt sources"
  local tmp
  tmp=$(mktemp)
  if compgen -G '/etc/apt/sources.list.d/*.sources' >/dev/null; then
    for s in /etc/apt/sources.list.d/*.sources; do
      [ "$s" = "$f" ] && continue
      grep -q '^Types:.*\bdeb\b' "$s" || continue
      sed -e 's/^Types:.*/Types: deb-src/' "$s" >>"$tmp"
      echo >>"$tmp"
    done
  fi
  if [ -s "$tmp" ]; then
    as_root install -m 0644 "$tmp" "$f"
  elif [ -f /etc/apt/sources.list ]; then
    grep -E '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' >"$tmp"
    as_root install -m 0644 "$tmp" /etc/apt/sources.list.d/qlx-deb-src.list
    as_root touch "$f"
  fi
  rm -f "$tmp"
  need_update=1
}

need_update=0
ensure_i386
ensure_deb_src
miss=$(missing_packages)
if [ -n "$miss" ] || [ "$need_update" = 1 ]; then
  log "installing: ${miss:-nothing (index refresh only)}"
  as_root apt-get update -qq
  if [ -n "$miss" ]; then
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq --no-install-recommends $miss
  fi
fi

# Some kernels (this kind of VM among them) cannot run 32-bit Linux programs,
# which the 32-bit Wine loader is; qemu's user-mode emulation then runs it.
# With Wine's preloader installed, a Wine process still starts in seconds.
ensure_i386_exec() {
  /usr/lib/wine/wine --version >/dev/null 2>&1 && return 0
  log "32-bit programs do not run natively: registering qemu-i386 with binfmt_misc"
  if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
    as_root mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  fi
  if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
    echo 1 | as_root tee /proc/sys/fs/binfmt_misc/qemu-i386 >/dev/null
  else
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:PF' |
      as_root tee /proc/sys/fs/binfmt_misc/register >/dev/null
  fi
  /usr/lib/wine/wine --version >/dev/null 2>&1 || { log "cannot run 32-bit Wine"; exit 1; }
}
ensure_i386_exec

# libjpeg-turbo for MinGW i686 is not packaged: build it static from Debian's source package.
# The setup program only decodes baseline and progressive Huffman JPEG at full
# scale with the accurate integer IDCT and fancy upsampling, so what it never
# asks for is left out, and the rest is built for size: the program is
# downloaded. No C++ exception passes through libjpeg (its errors leave by
# longjmp), so its code needs no unwind tables.
jpeg_recipe=(
  -DCMAKE_BUILD_TYPE=Release
  "-DCMAKE_C_FLAGS_RELEASE=-Os -DNDEBUG"
  # msvcrt's sscanf for JPEGMEM rather than mingw's own, which is large.
  "-DCMAKE_C_FLAGS=-ffunction-sections -fdata-sections -fno-asynchronous-unwind-tables -D__USE_MINGW_ANSI_STDIO=0"
  -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF
  -DWITH_SIMD=OFF -DWITH_JPEG8=OFF -DWITH_ARITH_DEC=OFF -DWITH_ARITH_ENC=OFF -DFORCE_INLINE=OFF
)
# Features of jmorecfg.h turned off in the unpacked sources.
jpeg_unsupported=(
  DCT_IFAST_SUPPORTED DCT_FLOAT_SUPPORTED IDCT_SCALING_SUPPORTED
  UPSAMPLE_MERGING_SUPPORTED QUANT_1PASS_SUPPORTED QUANT_2PASS_SUPPORTED
)
# The recipe the prefix was built with; a different one rebuilds it.
jpeg_stamp="$JPEG_PREFIX/qlx-recipe.txt"
jpeg_recipe_text=$(printf '%s\n' 1 "${jpeg_recipe[@]}" "${jpeg_unsupported[@]}")
if [ ! -f "$JPEG_PREFIX/lib/libjpeg.a" ] || [ "$(cat "$jpeg_stamp" 2>/dev/null)" != "$jpeg_recipe_text" ]; then
  log "building libjpeg-turbo for i686-w64-mingw32 into $JPEG_PREFIX"
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  (
    cd "$work"
    apt-get source -qq --download-only libjpeg-turbo >/dev/null 2>&1 || apt-get source -qq --download-only libjpeg-turbo
    dpkg-source -x --no-check ./*.dsc src >/dev/null
    for feature in "${jpeg_unsupported[@]}"; do
      sed -i "s/^#define\( \+\)$feature\b/#undef\1$feature/" src/jmorecfg.h
      grep -q "^#undef \+$feature\b" src/jmorecfg.h || { log "cannot turn off $feature in jmorecfg.h"; exit 1; }
    done
    cmake -S src -B build -G Ninja -Wno-dev \
      -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-i686.cmake" \
      -DCMAKE_INSTALL_PREFIX="$JPEG_PREFIX" "${jpeg_recipe[@]}" >/dev/null
    cmake --build build >/dev/null
    # Installed beside the old prefix, then swapped in, so that a build
    # using the prefix meanwhile sees one library or the other.
    DESTDIR="$work/stage" cmake --install build >/dev/null
    printf '%s\n' "$jpeg_recipe_text" >"$work/stage$jpeg_stamp"
    as_root mkdir -p "$(dirname "$JPEG_PREFIX")"
    as_root rm -rf "$JPEG_PREFIX.old"
    if [ -e "$JPEG_PREFIX" ]; then as_root mv "$JPEG_PREFIX" "$JPEG_PREFIX.old"; fi
    as_root mv "$work/stage$JPEG_PREFIX" "$JPEG_PREFIX"
    as_root rm -rf "$JPEG_PREFIX.old"
  )
fi
# A locale whose decimal separator is a comma, for the ratio texts' tests.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  log "generating the de_DE.UTF-8 locale"
  as_root localedef -i de_DE -f UTF-8 de_DE.UTF-8 >/dev/null 2>&1 || true
fi
# A Japanese locale: Wine takes a process's ANSI code page (932 here) from the
# locale it starts in, for the double-byte folder scenario.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  log "generating the ja_JP.UTF-8 locale"
  as_root localedef -i ja_JP -f UTF-8 ja_JP.UTF-8 >/dev/null 2>&1 || true
fi
log "ready"
