#!/usr/bin/env bash
# Draws the program's icon: a blue tile holding the rows of a code table (a short code, a longer
# word) and a green tick, the table that imports. Written at 16, 32, 48 and 256 pixels into
# packaging/icon/ as PNG files and one .ico, which the repository keeps so that a build needs no
# ImageMagick. Run it after changing the drawing:
#
#   tools/make_icon.sh
#
# Each size is drawn on its own, on a grid of 16 units, so that the small ones stay sharp.
set -euo pipefail

OUT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/packaging/icon
mkdir -p "$OUT"

# The drawing on a 16-unit grid. "rect X0 Y0 X1 Y1" fills the grid cells from X0,Y0 up to X1,Y1
# exactly, so that its edges fall between pixels at every size; the other shapes are in units.
DRAWING='
  fill #1d5fb4 tile 0 0 16 16 3
  fill #ffffff
  rect 2 3 5 5   rect 6 3 13 5
  rect 2 7 5 9   rect 6 7 10 9
  rect 2 11 5 13
  badge 11.75 11.75 4.25 0.9
  tick 9.6 11.9 11.2 13.4 13.9 10.3 1.3
'

# The drawing as ImageMagick draw primitives for a size of $1 pixels.
mvg() {
  awk -v u="$(($1))" -v drawing="$DRAWING" 'BEGIN {
    u /= 16
    n = split(drawing, w, /[ \n]+/)
    for (i = 1; i <= n; i++) {
      if (w[i] == "fill") { printf "fill \"%s\"\n", w[++i] }
      else if (w[i] == "tile") {
        printf "roundrectangle %g,%g %g,%g %g,%g\n", w[i+1]*u, w[i+2]*u, w[i+3]*u-1, w[i+4]*u-1,
               w[i+5]*u, w[i+5]*u; i += 5
      } else if (w[i] == "rect") {
        printf "rectangle %g,%g %g,%g\n", w[i+1]*u, w[i+2]*u, w[i+3]*u-1, w[i+4]*u-1; i += 4
      } else if (w[i] == "badge") {
        # a green disc with a white ring, centre and radius in units
        printf "push graphic-context fill \"#2e9d46\" stroke \"#ffffff\" stroke-width %g\n", w[i+4]*u
        printf "circle %g,%g %g,%g pop graphic-context\n", w[i+1]*u-0.5, w[i+2]*u-0.5,
               w[i+1]*u-0.5, (w[i+2]-w[i+3])*u-0.5; i += 4
      } else if (w[i] == "tick") {
        printf "push graphic-context fill none stroke \"#ffffff\" stroke-width %g ", w[i+7]*u
        printf "stroke-linecap round stroke-linejoin round\n"
        printf "polyline %g,%g %g,%g %g,%g pop graphic-context\n", w[i+1]*u-0.5, w[i+2]*u-0.5,
               w[i+3]*u-0.5, w[i+4]*u-0.5, w[i+5]*u-0.5, w[i+6]*u-0.5; i += 7
      }
    }
  }'
}

draw() {
  local size=$1
  convert -size "${size}x${size}" xc:none -draw "$(mvg "$size")" -strip \
    "PNG32:$OUT/qoviratabletool-$size.png"
}

for size in 16 32 48 256; do
  draw "$size"
done
convert "$OUT"/qoviratabletool-{16,32,48,256}.png -strip "$OUT/QoviraTableTool.ico"
identify "$OUT/QoviraTableTool.ico"
