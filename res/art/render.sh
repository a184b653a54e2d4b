#!/usr/bin/env bash
# Renders the art sources in res/art/src into the PNGs the program embeds
# (res/img/<id>.png), builds res/icon/app.ico, checks both and draws
# docs/art-contact-sheet.png. The rendered files are kept in the repository,
# so only whoever changes the art needs these tools:
#   rsvg-convert (librsvg2-bin), montage/convert (imagemagick), python3,
#   and the fonts named in the sources (fonts-liberation).
# Nothing in res/img or res/icon is replaced unless every check passes.
#
# usage: res/art/render.sh [--no-sheet]
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
res=$(dirname "$here")
root=$(dirname "$res")
src=$here/src
sheet=1
[ "${1:-}" = "--no-sheet" ] && sheet=0

for tool in rsvg-convert convert montage python3; do
  command -v "$tool" >/dev/null || { echo "render.sh: $tool is missing" >&2; exit 1; }
done

export PYTHONDONTWRITEBYTECODE=1  # keep res/art free of __pycache__
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/img"

# One source per id: src/<id>-<name>.svg.
for f in "$src"/[0-9][0-9][0-9]-*.svg; do
  name=$(basename "$f")
  rsvg-convert -o "$work/img/${name%%-*}.png" "$f"
done

# The spinner's eight frames turn the same wheel clockwise by 45 degrees each.
grep -q 'id="wheel" transform="rotate(0 66 66)"' "$src/spinner.svg" || {
  echo "render.sh: spinner.svg has no wheel at rotate(0 66 66)" >&2
  exit 1
}
for k in 0 1 2 3 4 5 6 7; do
  sed "s/id=\"wheel\" transform=\"rotate(0 66 66)\"/id=\"wheel\" transform=\"rotate($((k * 45)) 66 66)\"/" \
    "$src/spinner.svg" | rsvg-convert -o "$work/img/$((141 + k)).png"
done

python3 "$here/verify.py" "$work/img"
python3 "$here/make_icon.py" "$work/app.ico"

mkdir -p "$res/img" "$res/icon"
rm -f "$res"/img/*.png
cp "$work"/img/*.png "$res/img/"
cp "$work/app.ico" "$res/icon/app.ico"
echo "render.sh: wrote $(ls "$res"/img/*.png | wc -l) images to res/img and res/icon/app.ico"

[ "$sheet" = 1 ] || exit 0

# Contact sheet: every image on a checkerboard, so transparency shows, with
# its id and size; the icon's seventeen images follow.
tiles=()
for f in $(ls "$res"/img/*.png | sort -V); do
  id=$(basename "$f" .png)
  size=$(identify -format '%wx%h' "$f")
  convert -size "$size" tile:pattern:checkerboard +level 50%,80% "$f" -compose over -composite \
    -set label "$id  ($size)" "$work/tile-$id.png"
  tiles+=("$work/tile-$id.png")
done
n=$(identify -format '%n\n' "$res/icon/app.ico" | head -n1)
for ((i = 0; i < n; i++)); do
  info=$(identify -format '%wx%h %z' "$res/icon/app.ico[$i]")
  bpp=$(python3 -c "import struct,sys; d=open(sys.argv[1],'rb').read(); print(struct.unpack_from('<H', d, 6+16*$i+6)[0])" \
    "$res/icon/app.ico")
  convert -size "${info%% *}" tile:pattern:checkerboard +level 50%,80% "$res/icon/app.ico[$i]" -compose over -composite \
    -set label "icon ${info%% *}  ${bpp} bpp" "$work/icon-$i.png"
  tiles+=("$work/icon-$i.png")
done
mkdir -p "$root/docs"
montage "${tiles[@]}" -geometry '372x300>+12+12' -tile 6x -background '#FFFFFF' -pointsize 18 \
  -font DejaVu-Sans "$work/sheet.png"
convert "$work/sheet.png" -strip PNG32:"$root/docs/art-contact-sheet.png"
echo "render.sh: wrote docs/art-contact-sheet.png"
