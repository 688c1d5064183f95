#!/usr/bin/env bash
# "Export All" of COUNT images with a DICOMDIR against copying the same files and running
# DCMTK's dcmmkdir over them, in the same run. Ours is the viewer's Export All job run by
# orv_bench_export on the images held in the session (copies taken, each written as IMAGES/IMGn
# in explicit VR little endian, then the DICOMDIR; missing directory values are invented, as
# dcmmkdir --invent does), timed from the job's start to its end. The images are Secondary
# Capture files made from pictures.
# usage: bench/export.sh [build-dir]   (default build; COUNT=500, ROUNDS=3)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh" "$@"
tool="$build/bench/orv_bench_export"
[[ -x $tool ]] || { echo "build orv_bench_export first ($tool)"; exit 1; }
count=${COUNT:-500}
rounds=${ROUNDS:-3}
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/pic"
for v in 0 1 2 3; do convert -seed "$v" -size 512x512 plasma:fractal -type TrueColor "BMP3:$work/pic/p$v.bmp"; done
pics=()
for ((i = 0; i < count; i++)); do cp "$work/pic/p$((i % 4)).bmp" "$work/pic/f$i.bmp"; pics+=("$work/pic/f$i.bmp"); done
"$cli" dicomize --out "$work/src" --patient-name BENCH^EXPORT --patient-id B1 "${pics[@]}" >/dev/null
mapfile -t files < <(ls "$work"/src/*.dcm)
cat "${files[@]}" >/dev/null

best_ours=""; best_peer=""
for ((r = 0; r < rounds; r++)); do
  rm -rf "$work/ours" "$work/peer"
  o=$("$tool" "$work/ours" "${files[@]}")
  t1=$(now)
  mkdir -p "$work/peer/IMAGES"
  # One process copies every file to its IMGn name.
  python3 -c 'import shutil, sys
for i, f in enumerate(sys.argv[2:], 1): shutil.copyfile(f, f"{sys.argv[1]}/IMG{i}")' "$work/peer/IMAGES" "${files[@]}"
  (cd "$work/peer" && dcmmkdir --general-purpose --invent --recurse -q IMAGES)
  t2=$(now)
  p=$(calc "$t2 - $t1")
  if [[ -z $best_ours ]] || (( $(calc "$o < $best_ours" 0) )); then best_ours=$o; fi
  if [[ -z $best_peer ]] || (( $(calc "$p < $best_peer" 0) )); then best_peer=$p; fi
done
echo "${#files[@]} images with DICOMDIR (best of $rounds): ours ${best_ours} s, cp + dcmmkdir ${best_peer} s, ratio $(ratio "$best_ours" "$best_peer")   (target <= 1.2)"
