#!/usr/bin/env bash
# Makes the setup program's pictures and icon in src/setup/res: a screenshot of
# Wine's explorer showing the computer folder with the sample product
# registered (opened by scripts/computer-folder.cpp, under Wine on Xvfb), the
# product's entry circled in red, as the viewer's 500x434 JPEG and the finish
# page's 200x174 thumbnail, and QLXT3SE.ico.
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

# The sample product's library, registered in a prefix of the script's own,
# so that the computer folder lists it as an install leaves it.
register_product() {
  local dll="$WINEPREFIX/drive_c/Program Files/QLXT3SE"
  mkdir -p "$dll"
  i686-w64-mingw32-windres -I "$res" "$root/product/QLX_Tessel_3.rc" -O coff -o "$work/product.res"
  i686-w64-mingw32-g++ -O2 -shared -static -o "$dll/QLX_Tessel_3.dll" \
    "$root/product/QLX_Tessel_3.cpp" "$root/product/QLX_Tessel_3.def" "$work/product.res" \
    -lshell32 -lole32 -ladvapi32 -luuid
  wine regsvr32 /s 'C:\Program Files\QLXT3SE\QLX_Tessel_3.dll'
}

# Wine's explorer showing the computer folder, shot with Wine drawing its own
# frame (no window manager).
take_screenshot() {
  i686-w64-mingw32-g++ -O2 -static -o "$work/computer-folder.exe" "$root/scripts/computer-folder.cpp"
  local env="$work/wine"
  mkdir -p "$env"
  "$root/scripts/wine-env.sh" start "$env"
  eval "$("$root/scripts/wine-env.sh" env "$env")"
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  register_product
  rm -f "$work/ready.txt"
  wine "$work/computer-folder.exe" "$(winepath -w "$work/ready.txt")" >/dev/null 2>&1
  [ -s "$work/ready.txt" ] || { echo "make-content: the computer folder never showed" >&2; exit 1; }
  import -display "$DISPLAY" -window root -crop 500x434+0+0 +repage "$work/window.png"
  "$root/scripts/wine-env.sh" stop "$env"
}

# The product's row: where the red tile of its icon is in the folder's list
# (below the caption's own icon and the location bar), and the name beside it.
entry_rectangle() {
  local top_cut=90 geometry
  geometry=$(convert "$work/window.png" -crop "500x$((434 - top_cut))+0+$top_cut" +repage \
    -fuzz 12% -fill black +opaque '#C8322D' -fill white -opaque '#C8322D' -format '%@' info:)
  local w h x y
  IFS='x+' read -r w h x y <<<"$geometry"
  # The red tile is the small icon's bottom right quarter.
  local left=$((x + w - 16)) top=$((y + h - 16 + top_cut))
  echo "$((left - 2)) $((top - 1)) $((left + 76)) $((top + 17))"
}

# The product's entry circled in red, then both sizes.
annotate() {
  local x1 y1 x2 y2
  read -r x1 y1 x2 y2 < <(entry_rectangle)
  local cx=$(((x1 + x2) / 2)) cy=$(((y1 + y2) / 2)) rx=$(((x2 - x1) / 2 + 14))
  local ry=$(((y2 - y1) / 2 + 7))
  convert "$work/window.png" -fill none -stroke '#E01010' -strokewidth 3 \
    -draw "ellipse $cx,$cy $rx,$ry 0,360" "$work/annotated.png"
  convert "$work/annotated.png" "${jpeg_options[@]}" "$res/screenshot.jpg"
  convert "$work/annotated.png" -filter Lanczos -resize '200x174!' "${jpeg_options[@]}" \
    "$res/thumbnail.jpg"
}

make_icon
take_screenshot
annotate
identify "$res/screenshot.jpg" "$res/thumbnail.jpg" "$res/QLXT3SE.ico"
