#!/usr/bin/env bash
# Lays every image of a pack out on contact sheets (PNG) for looking at the art:
#   tools/stockpack/contact-sheet.sh PACK_DIR OUT_DIR
set -euo pipefail
pack=$1
out=$2
mkdir -p "$out"
font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
sheet() {  # sheet NAME TILE FILES...
  local name=$1 tile=$2
  shift 2
  montage -font "$font" -pointsize 10 -background '#6b6f80' -label '%t' -auto-orient \
    -geometry 160x160+4+4 -tile "$tile" "$@" "$out/$name.png"
}
sheet gfx 7x "$pack"/server/gfx/*.tga "$pack"/server/gfx/*.jpg "$pack"/demo/sng/*.tga
for skin in $(ls "$pack"/demo/MKR | sed -n 's/_prev\.tga$//p'); do
  files=()
  for state in normal normalpassed perfect great good bad miss; do
    for ((i = 0; i < 26; i++)); do
      f="$pack/demo/MKR/${skin}_${state}_$i.tga"
      [[ -f $f ]] && files+=("$f")
    done
  done
  montage -font "$font" -pointsize 9 -background '#20243a' -fill white -label '%t' -auto-orient \
    -geometry 96x96+2+2 -tile 16x "${files[@]}" "$pack/demo/MKR/${skin}_prev.tga" "$out/skin-$skin.png"
done
echo "contact sheets in $out"
