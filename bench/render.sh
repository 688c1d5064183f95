#!/usr/bin/env bash
# orvaline-cli render of COUNT CT files (512 x 512, 16-bit, generated once) against DCMTK's
# dcm2pnm writing PNGs of the same files with the same window, in the same run: both once per
# file from a shell loop (interleaved, so both meet the same machine load), and ours given all
# files in one command.
# usage: bench/render.sh [build-dir]   (default build; COUNT=500)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh" "$@"
count=${COUNT:-500}
trap 'rm -rf "$work"' EXIT

# A 512 x 512 CT: the sample's 128 x 128 pixels scaled up by DCMTK, then copied.
samples=/usr/lib/python3/dist-packages/pydicom/data/test_files
dcmscale --scale-x-factor 4 "$samples/CT_small.dcm" "$work/ct512.dcm"
mkdir -p "$work/files" "$work/ours" "$work/peer" "$work/one"
for ((i = 0; i < count; i++)); do cp "$work/ct512.dcm" "$work/files/ct$i.dcm"; done
mapfile -t files < <(ls "$work"/files/*.dcm)
cat "${files[@]}" >/dev/null

us() { local t=${EPOCHREALTIME/./}; echo "${t}"; }
ours_us=0; peer_us=0
for f in "${files[@]}"; do
  b=$(basename "$f" .dcm)
  a=$(us); "$cli" render --out "$work/ours" --window 400 --level 40 "$f" >/dev/null; m=$(us)
  dcm2pnm +Ww 40 400 +on "$f" "$work/peer/$b.png"; c=$(us)
  ours_us=$((ours_us + m - a)); peer_us=$((peer_us + c - m))
done
ours=$(calc "$ours_us / 1000000" 3); peer=$(calc "$peer_us / 1000000" 3)
echo "one process per file, ${#files[@]} CT files: orvaline-cli render ${ours} s, dcm2pnm ${peer} s, ratio ours/dcm2pnm $(ratio "$ours" "$peer")   (target <= 1)"

t0=$(now); "$cli" render --out "$work/one" --window 400 --level 40 "${files[@]}" >/dev/null; t1=$(now)
one=$(calc "$t1 - $t0")
echo "one command for all files:            orvaline-cli render ${one} s, ratio to dcm2pnm per file $(ratio "$one" "$peer")"
