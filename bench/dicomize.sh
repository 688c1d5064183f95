#!/usr/bin/env bash
# Pictures to JPEG (1.2.840.10008.1.2.4.51, quality 100) Secondary Capture files:
# orvaline-cli dicomize (one process) against a shell loop of DCMTK img2dcm (+ dcmcjpeg for the
# same JPEG output), and our throughput against libjpeg-turbo's tjbench on the same frames.
# usage: bench/dicomize.sh [build-dir]   (default build; SMALL=300 LARGE=100 frames)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh" "$@"
small=${SMALL:-300}
large=${LARGE:-100}
trap 'rm -rf "$work"' EXIT

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
megapixels=$(calc "($small * 720 * 576 + $large * 1920 * 1080) / 1000000" 3)
sync

t0=$(now)
"$cli" dicomize --out "$work/ours" --ts jpeg51 --quality 100 "${pictures[@]}" >/dev/null
t1=$(now)
ours=$(calc "$t1 - $t0")

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
img2dcm_only=$(calc "$t1 - $t0")
img2dcm_jpeg=$(calc "$t2 - $t0")

echo "orvaline-cli dicomize (one process):        ${ours} s"
echo "img2dcm loop (uncompressed output):         ${img2dcm_only} s   ratio $(ratio "$img2dcm_only" "$ours")x faster"
echo "img2dcm + dcmcjpeg loop (same JPEG output): ${img2dcm_jpeg} s   ratio $(ratio "$img2dcm_jpeg" "$ours")x faster"

# JPEG encoding alone: the layer's encoder (libjpeg-turbo, 4:2:2) on the same frames, timed in
# a small program linked against the built layer, against tjbench on those frames.
cat > "$work/encode.cpp" <<'CPP'
#include "outside/dicom/Picture.h"
#include <chrono>
#include <cstdio>
int main(int argc, char **argv)
{
    const auto pic = orv::dicom::readPicture(QString::fromLocal8Bit(argv[1]), QStringLiteral("BMP"));
    const double seconds = argc > 2 ? atof(argv[2]) : 2.0;
    orv::dicom::encodeJpeg(pic.pixels.data(), pic.width, pic.height, pic.samples, 100); // warm-up
    int n = 0;
    const auto t0 = std::chrono::steady_clock::now();
    double elapsed = 0;
    while (elapsed < seconds) {
        orv::dicom::encodeJpeg(pic.pixels.data(), pic.width, pic.height, pic.samples, 100);
        ++n;
        elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    std::printf("%.1f\n", double(pic.width) * pic.height * n / elapsed / 1e6);
}
CPP
c++ -O2 -std=c++20 -fPIC -I"$root/src" $(pkg-config --cflags Qt6Core) "$work/encode.cpp" \
  "$build/src/outside/liborv_outside.a" $(pkg-config --libs Qt6Core libturbojpeg) \
  -ldcmjpeg -ldcmimage -ldcmimgle -ldcmnet -ldcmdata -loflog -lofstd -ldl -o "$work/encode"
tj() { tjbench "$1" 100 -subsamp "$2" -benchtime 1 -warmup 0.3 -quiet 2>/dev/null | awk 'NF >= 8 && $1 == "BGR" {print $7}'; }
best() { printf '%s\n' "$@" | sort -g | tail -1; }
for size in 720x576 1920x1080; do
  f="$work/seed-$size-0.bmp"
  o=(); a=(); b=()
  for round in 1 2 3; do # alternate, best of three: the machine may be shared
    o+=("$("$work/encode" "$f" 1)")
    a+=("$(cd "$work" && tj "seed-$size-0.bmp" 444)")
    b+=("$(cd "$work" && tj "seed-$size-0.bmp" 422)")
  done
  ourenc=$(best "${o[@]}"); t444=$(best "${a[@]}"); t422=$(best "${b[@]}")
  echo "JPEG encoding $size q100: ours (4:2:2) $ourenc Mpixel/s; tjbench 4:4:4 $t444, 4:2:2 $t422 Mpixel/s;" \
       "ratio vs 4:4:4 $(ratio "$ourenc" "$t444"), vs 4:2:2 $(ratio "$ourenc" "$t422")"
done
ours_mps=$(calc "$megapixels / $ours" 2)
echo "whole dicomize run (read, convert, encode, write): ${ours_mps} Mpixel/s"
