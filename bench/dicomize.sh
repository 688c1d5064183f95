#!/usr/bin/env bash
# Pictures to JPEG (1.2.840.10008.1.2.4.51, quality 100) Secondary Capture files:
# orvaline-cli dicomize (one process) against a shell loop of DCMTK img2dcm (+ dcmcjpeg for the
# same JPEG output), and our throughput against libjpeg-turbo's tjbench on the same frames.
# usage: bench/dicomize.sh [build-dir]   (default build-dicom; SMALL=300 LARGE=100 frames)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build-dicom}
cli="$build/src/cli/orvaline-cli"
small=${SMALL:-300}
large=${LARGE:-100}
[[ -x $cli ]] || { echo "build orvaline-cli first ($cli)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
now() { date +%s.%N; }
ratio() { echo "scale=2; $1 / $2" | bc; }

echo "making $small frames of 720x576 and $large of 1920x1080 (24-bit BMP)"
mkdir -p "$work/in"
for size in 720x576 1920x1080; do
  for v in 0 1 2 3; do
    convert -seed "$v" -size "$size" plasma:fractal -blur 0x4 \
      -type TrueColor "BMP3:$work/seed-$size-$v.bmp"
  done
done
for ((i = 0; i < small; i++)); do cp "$work/seed-720x576-$((i % 4)).bmp" "$work/in/s$i.bmp"; done
for ((i = 0; i < large; i++)); do cp "$work/seed-1920x1080-$((i % 4)).bmp" "$work/in/l$i.bmp"; done
mapfile -t pictures < <(ls "$work"/in/*.bmp)
megapixels=$(echo "scale=3; ($small * 720 * 576 + $large * 1920 * 1080) / 1000000" | bc)
sync

t0=$(now)
"$cli" dicomize --out "$work/ours" --ts jpeg51 --quality 100 "${pictures[@]}" >/dev/null
t1=$(now)
ours=$(echo "$t1 - $t0" | bc)

mkdir -p "$work/peer" "$work/peerjpeg"
t0=$(now)
for p in "${pictures[@]}"; do
  b=$(basename "$p" .bmp)
  img2dcm -i BMP "$p" "$work/peer/$b.dcm"
done
t1=$(now)
for p in "${pictures[@]}"; do
  b=$(basename "$p" .bmp)
  dcmcjpeg +ee +q 100 "$work/peer/$b.dcm" "$work/peerjpeg/$b.dcm"
done
t2=$(now)
img2dcm_only=$(echo "$t1 - $t0" | bc)
img2dcm_jpeg=$(echo "$t2 - $t0" | bc)

echo "orvaline-cli dicomize (one process):        ${ours} s"
echo "img2dcm loop (uncompressed output):         ${img2dcm_only} s   ratio $(ratio "$img2dcm_only" "$ours")x faster"
echo "img2dcm + dcmcjpeg loop (same JPEG output): ${img2dcm_jpeg} s   ratio $(ratio "$img2dcm_jpeg" "$ours")x faster"

# Throughput of the whole dicomize run (read, convert, encode, write) against tjbench's
# compression alone, quality 100, on the same frames.
ours_mps=$(echo "scale=2; $megapixels / $ours" | bc)
tj() { tjbench "$1" 100 -subsamp "$2" -benchtime 2 -warmup 0.5 -quiet 2>/dev/null | awk 'NF >= 8 && $1 == "BGR" {print $7}'; }
for size in 720x576 1920x1080; do
  (cd "$work" && echo "tjbench $size 4:4:4 $(tj seed-$size-0.bmp 444) Mpixel/s, 4:2:2 $(tj seed-$size-0.bmp 422) Mpixel/s")
done
tj444=$(cd "$work" && tj seed-1920x1080-0.bmp 444)
tj422=$(cd "$work" && tj seed-1920x1080-0.bmp 422)
echo "ours (whole run, 4:2:2):                    ${ours_mps} Mpixel/s"
echo "ours / tjbench 1920x1080 4:4:4:             $(ratio "$ours_mps" "$tj444")"
echo "ours / tjbench 1920x1080 4:2:2:             $(ratio "$ours_mps" "$tj422")"
