#!/usr/bin/env bash
# A small disk of its own for the end-to-end tests: a tmpfs, drive T: of the
# build's Wine prefix (see scripts/wine-env.sh). Needs root for the mount.
#   e2e-disk.sh mount BUILD     a fresh empty disk
#   e2e-disk.sh unmount BUILD
set -euo pipefail

cmd=${1:?command}
build=$(cd "${2:?build folder}" && pwd)
disk="$build/e2e-disk"
drive="$build/wine-env/prefix/dosdevices/t:"

unmount() {
  rm -f "$drive"
  # Lazily if a Wine process still holds a file there: it ends with its server.
  if mountpoint -q "$disk"; then umount "$disk" || umount -l "$disk"; fi
  if [ -d "$disk" ]; then rmdir "$disk"; fi
}

case "$cmd" in
mount)
  unmount
  mkdir -p "$disk"
  # Room for the product's files, a few times over. Without the right to
  # mount, the tests that need the disk fail on a missing T:, the others run.
  if mount -t tmpfs -o size=4m,mode=0755 qlx-e2e-disk "$disk"; then
    ln -s "$disk" "$drive"
  else
    echo "e2e-disk: no small disk (mounting needs root): drive T: is missing" >&2
  fi
  ;;
unmount)
  unmount
  ;;
*)
  echo "usage: e2e-disk.sh mount|unmount BUILD" >&2
  exit 2
  ;;
esac
