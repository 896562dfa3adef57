#!/usr/bin/env bash
# Makes the setup program's pictures and icon in src/setup/res: a screenshot of
# a computer folder window (drawn by scripts/computer-folder.cpp, run under
# Wine on Xvfb) with the product's entry circled in red, as the viewer's
# 500x434 JPEG and the finish page's 200x174 thumbnail, and QLXT3SE.ico.
# Needs MinGW-w64, Wine, Xvfb and ImageMagick (scripts/bootstrap.sh installs
# them). Not run by the tests; run it again after changing the pictures.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
res="$root/src/setup/res"
work=${QLX_CONTENT_WORK:-$(mktemp -d /tmp/qlx-content.XXXXXX)}
mkdir -p "$work" "$res"

# JFIF, baseline, 8-bit, YCbCr 4:4:4, 72 dpi, no metadata.
jpeg_options=(-strip -sampling-factor 1x1 -density 72 -units PixelsPerInch -interlace none
  -quality 90 -colorspace sRGB -type TrueColor)

# The icon: four tiles in a two by two tessellation, at 16, 32 and 48 pixels.
make_icon() {
  local size
  for size in 16 32 48; do
    local t=$((size / 2)) m=$((size / 16 > 0 ? size / 16 : 1))
    convert -size "${size}x${size}" xc:none \
      -fill '#1E5AA8' -draw "roundrectangle $m,$m $((t - 1)),$((t - 1)) $m,$m" \
      -fill '#E8A317' -draw "roundrectangle $t,$m $((size - m - 1)),$((t - 1)) $m,$m" \
      -fill '#2E9E4F' -draw "roundrectangle $m,$t $((t - 1)),$((size - m - 1)) $m,$m" \
      -fill '#C8322D' -draw "roundrectangle $t,$t $((size - m - 1)),$((size - m - 1)) $m,$m" \
      "PNG32:$work/icon-$size.png"
  done
  convert "$work/icon-16.png" "$work/icon-32.png" "$work/icon-48.png" "$res/QLXT3SE.ico"
}

# The window, shot under Wine with Wine drawing its own frame (no window manager).
take_screenshot() {
  i686-w64-mingw32-g++ -O2 -static -mwindows -o "$work/computer-folder.exe" \
    "$root/scripts/computer-folder.cpp"
  local env="$work/wine"
  mkdir -p "$env"
  local vars
  vars=$("$root/scripts/wine-env.sh" env "$env")
  eval "$vars"
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  rm -f "$work/entry.txt"
  wine "$work/computer-folder.exe" "$(winepath -w "$work/entry.txt")" \
    "$(winepath -w "$res/QLXT3SE.ico")" >/dev/null 2>&1 &
  local pid=$! _
  for _ in $(seq 1 120); do
    [ -s "$work/entry.txt" ] && break
    sleep 0.5
  done
  sleep 2
  import -display "$DISPLAY" -window root -crop 500x434+0+0 +repage "$work/window.png"
  kill "$pid" 2>/dev/null || true
  "$root/scripts/wine-env.sh" stop "$env"
}

# The product's entry circled in red, then both sizes.
annotate() {
  local x1 y1 x2 y2
  read -r x1 y1 x2 y2 < <(tr -d '\r' <"$work/entry.txt")
  local cx=$(((x1 + x2) / 2)) cy=$(((y1 + y2) / 2)) rx=$(((x2 - x1) / 2 + 14))
  local ry=$(((y2 - y1) / 2 + 10))
  convert "$work/window.png" -fill none -stroke '#E01010' -strokewidth 4 \
    -draw "ellipse $cx,$cy $rx,$ry 0,360" "$work/annotated.png"
  convert "$work/annotated.png" "${jpeg_options[@]}" "$res/screenshot.jpg"
  convert "$work/annotated.png" -filter Lanczos -resize '200x174!' "${jpeg_options[@]}" \
    "$res/thumbnail.jpg"
}

make_icon
take_screenshot
annotate
identify "$res/screenshot.jpg" "$res/thumbnail.jpg" "$res/QLXT3SE.ico"
