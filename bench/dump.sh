#!/usr/bin/env bash
# Attribute dump of 1000 files: orvaline-cli dump against dcmdump, both given all files in one
# command, and both run once per file from a shell loop.
# usage: bench/dump.sh [build-dir]   (default build; COUNT=1000)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh" "$@"
count=${COUNT:-1000}
trap 'rm -rf "$work"' EXIT

# A mix: Secondary Capture made here (plain and JPEG) and real-world samples with sequences.
mkdir -p "$work/pic" "$work/seed" "$work/files"
for v in 0 1; do convert -seed "$v" -size 256x256 plasma:fractal -type TrueColor "BMP3:$work/pic/p$v.bmp"; done
"$cli" dicomize --out "$work/seed/plain" --patient-name BENCH^DUMP "$work"/pic/*.bmp >/dev/null
"$cli" dicomize --out "$work/seed/jpeg" --ts jpeg51 --patient-name BENCH^DUMP "$work"/pic/*.bmp >/dev/null
samples=/usr/lib/python3/dist-packages/pydicom/data/test_files
seeds=("$work"/seed/plain/*.dcm "$work"/seed/jpeg/*.dcm)
for f in CT_small.dcm MR_small.dcm rtplan.dcm JPGExtended.dcm; do
  [[ -f $samples/$f ]] && seeds+=("$samples/$f")
done
for ((i = 0; i < count; i++)); do cp "${seeds[$((i % ${#seeds[@]}))]}" "$work/files/f$i.dcm"; done
mapfile -t files < <(ls "$work"/files/*.dcm)
cat "${files[@]}" >/dev/null

t0=$(now); "$cli" dump "${files[@]}" >/dev/null; t1=$(now)
dcmdump "${files[@]}" >/dev/null 2>&1; t2=$(now)
ours=$(calc "$t1 - $t0"); peer=$(calc "$t2 - $t1")
echo "one command for ${#files[@]} files: orvaline-cli dump ${ours} s, dcmdump ${peer} s, ratio ours/dcmdump $(ratio "$ours" "$peer")"

# Interleaved, so that both tools meet the same machine load.
ours_us=0; peer_us=0
us() { local t=${EPOCHREALTIME/./}; echo "${t}"; }
for f in "${files[@]}"; do
  a=$(us); "$cli" dump "$f" >/dev/null; b=$(us)
  dcmdump "$f" >/dev/null 2>&1; c=$(us)
  ours_us=$((ours_us + b - a)); peer_us=$((peer_us + c - b))
done
ours=$(calc "$ours_us / 1000000" 3); peer=$(calc "$peer_us / 1000000" 3)
echo "one process per file:          orvaline-cli dump ${ours} s, dcmdump ${peer} s, ratio ours/dcmdump $(ratio "$ours" "$peer")"
