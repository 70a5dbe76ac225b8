#!/bin/sh
# Renders the application icon artwork (orvane.svg) to the PNG sizes that the
# desktop programs ship. Needs ImageMagick. The results are checked in.
set -eu
cd "$(dirname "$0")"
for size in 16 24 32 48 256; do
  convert -background none -density 384 orvane.svg -resize "${size}x${size}" "PNG32:icons/orvane-$size.png"
done
# The Windows icon group is built from these renderings.
python3 make-ico.py
