#!/usr/bin/env bash
# The main job on a generated sample: builds the programs, makes a synthetic
# raw frame of the four-channel detector with a bad box in channel b, splits
# it into its channel files, repairs the box in channel b, merges the frame
# back together and writes before/after pictures (PNG) and a thumbnail of the
# whole frame.
#   scripts/demo.sh [output folder]      (default: build/demo-output)
# The programs are those of the release build (built first), or those in the
# folder FITSQUAD_BIN names, e.g. installed ones:
#   FITSQUAD_BIN=/usr/local/bin scripts/demo.sh /tmp/demo
set -euo pipefail
# The output folder and FITSQUAD_BIN are taken relative to where the demo is
# started.
out=$(realpath -m "${1:-$(dirname "$0")/../build/demo-output}")
bin=${FITSQUAD_BIN:+$(realpath -m "$FITSQUAD_BIN")}
cd "$(dirname "$0")/.."
root=$(pwd)

# The demo writes only into a folder of its own: a new or empty one, or one
# it made before (it holds the marker file).
marker=.fitsquad-demo
if [ -d "$out" ] && [ -n "$(ls -A "$out")" ] && [ ! -e "$out/$marker" ]; then
    echo "demo: $out is not empty and was not made by the demo; give a new folder"
    exit 1
fi

if [ -n "$bin" ]; then
    program() { echo "$bin/$1"; }
    echo "== programs in $bin"
else
    echo "== building (build/release)"
    cmake --preset release >/dev/null
    cmake --build --preset programs -j "$(nproc 2>/dev/null || echo 2)" >/dev/null
    program() { echo "$root/build/release/$1/$1"; }
fi
for name in fitsframe fitspreview quadsplit quadmerge boxpatch; do
    [ -x "$(program "$name")" ] || { echo "demo: no program $(program "$name")"; exit 1; }
done
fitsframe=$(program fitsframe)
fitspreview=$(program fitspreview)
quadsplit=$(program quadsplit)
quadmerge=$(program quadmerge)
boxpatch=$(program boxpatch)

mkdir -p "$out"
cd "$out"
touch "$marker"
rm -f frame.fits frame.[abcd].fits frame-original.fits frame-original.b.fits \
    before.png after.png channel-b-before.png channel-b-after.png box-before-after.png thumbnail.png
stretch=(-z)  # zscale, as image viewers show a raw frame

echo "== a synthetic frame"
made=$("$fitsframe" frame.fits)
echo "$made"
limits=$(sed -n 's/.*boxpatch -b //p' <<<"$made")
cp frame.fits frame-original.fits
"$fitspreview" "${stretch[@]}" frame.fits before.png
# A thumbnail of the whole frame: each pixel the mean of 4 x 4, on the asinh
# curve; the hot columns and the bad box are plain to see.
"$fitspreview" "${stretch[@]}" -s 4 -f asinh frame.fits thumbnail.png

echo "== quadsplit: the four channel files"
"$quadsplit" frame.fits
"$fitspreview" "${stretch[@]}" frame.b.fits channel-b-before.png
cp frame.b.fits frame-original.b.fits

echo "== boxpatch: the bad box in channel b"
# shellcheck disable=SC2086  # four numbers
"$boxpatch" -b $limits frame.b.fits
echo "frame.b.fits patched with -b $limits"
"$fitspreview" "${stretch[@]}" frame.b.fits channel-b-after.png
# The box and twice its width to either side, its height above and below:
# channel b before the repair on the left, after it on the right.
read -r x1 x2 y1 y2 <<<"$limits"
w=$((x2 - x1 + 1)) h=$((y2 - y1 + 1))
"$fitspreview" "${stretch[@]}" -r $((x1 - 2 * w)) $((x2 + 2 * w)) $((y1 - h)) $((y2 + h)) \
    frame-original.b.fits frame.b.fits box-before-after.png

echo "== quadmerge: the frame rebuilt in place"
"$quadmerge" frame.fits
"$fitspreview" "${stretch[@]}" frame.fits after.png

echo
echo "Everything is in $(pwd):"
echo "  frame-original.fits    the frame as generated"
echo "  frame-original.b.fits  its channel b file before the repair"
echo "  frame.[abcd].fits      its channel files (b repaired)"
echo "  frame.fits             the frame rebuilt from them"
echo "  before.png after.png   the whole frame before and after (zscale)"
echo "  thumbnail.png          the frame as generated, shrunk 4 times (means of 4 x 4, asinh curve)"
echo "  channel-b-before.png channel-b-after.png   channel b before and after"
echo "  box-before-after.png   the bad box in channel b: before on the left, after on the right"
echo "Open them in any browser or picture viewer, e.g.: xdg-open $(pwd)/box-before-after.png"
