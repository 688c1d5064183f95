#!/usr/bin/env bash
# The viewer's "Print" of COUNT CT images (512 x 512; 60 make 10 pages) to a PDF at 600 dpi on
# Letter paper against ImageMagick's montage laying out the same images six to a page (2 x 3,
# each image enlarged pixel for pixel to the same 2183 dots, the same gaps, a title line per
# page) at the same 600 dpi, in the same run. Ours is the background job run by
# orv_bench_paperprint from the DICOM files (decoding and windowing included); montage is given
# the same images already rendered to PNG (rendering not timed). Debian's ImageMagick policy
# forbids writing PDF, so montage writes its pages as one ZIP-compressed multi-page TIFF (the
# same Flate compression a PDF would carry); its memory limits are raised through a policy
# file in the scratch folder so that it works in memory as ours does.
# usage: bench/paper-print.sh [build-dir]   (default build; COUNT=60, ROUNDS=3)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh" "$@"
tool="$build/bench/orv_bench_paperprint"
[[ -x $tool ]] || { echo "build orv_bench_paperprint first ($tool)"; exit 1; }
count=${COUNT:-60}
rounds=${ROUNDS:-3}
trap 'rm -rf "$work"' EXIT

samples=/usr/lib/python3/dist-packages/pydicom/data/test_files
dcmscale --scale-x-factor 4 "$samples/CT_small.dcm" "$work/ct512.dcm"
mkdir -p "$work/files" "$work/png"
for ((i = 0; i < count; i++)); do cp "$work/ct512.dcm" "$work/files/ct$i.dcm"; done
mapfile -t files < <(ls "$work"/files/*.dcm)
"$cli" render --out "$work/png" "${files[@]}" >/dev/null
mapfile -t pngs < <(ls "$work"/png/*.png)
cat "${files[@]}" "${pngs[@]}" >/dev/null
cat >"$work/policy.xml" <<'XML'
<policymap>
  <policy domain="resource" name="memory" value="4GiB"/>
  <policy domain="resource" name="map" value="8GiB"/>
  <policy domain="resource" name="area" value="2GP"/>
  <policy domain="resource" name="disk" value="8GiB"/>
</policymap>
XML

best_ours=""; best_peer=""
for ((r = 0; r < rounds; r++)); do
  rm -f "$work/ours.pdf" "$work/peer.tif"
  o=$("$tool" "$work/ours.pdf" "${files[@]}")
  t1=$(now)
  MAGICK_CONFIGURE_PATH=$work montage -font DejaVu-Sans-Mono -density 600 -units PixelsPerInch -tile 2x3 -geometry 2183x2183+75+104 -filter point \
    -title "Patient ID: H-1024   Patient Name: BENCH, PAPER   Trans. No.: 1" "${pngs[@]}" -compress zip "$work/peer.tif"
  t2=$(now)
  p=$(calc "$t2 - $t1")
  if [[ -z $best_ours ]] || (( $(calc "$o < $best_ours" 0) )); then best_ours=$o; fi
  if [[ -z $best_peer ]] || (( $(calc "$p < $best_peer" 0) )); then best_peer=$p; fi
done
pages=$(pdfinfo "$work/ours.pdf" | awk '/^Pages:/ { print $2 }')
peer_pages=$(identify "$work/peer.tif" | wc -l)
echo "$count CT images at 600 dpi (best of $rounds): ours ${best_ours} s ($pages PDF pages), montage ${best_peer} s ($peer_pages pages), ratio $(ratio "$best_ours" "$best_peer")   (target <= 2)"
