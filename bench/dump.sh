#!/usr/bin/env bash
# Attribute dump of 1000 files: orvaline-cli dump against dcmdump, both given all files in one
# command, and both run once per file from a shell loop (also reported for the files with
# private attributes alone).
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
declare -A withPrivate
seedPrivate=()
for seed in "${seeds[@]}"; do
  seedPrivate+=("$(dcmdump "$seed" 2>/dev/null | grep -c '^ *([0-9a-f]\{3\}[13579bdf],' || true)")
done
for ((i = 0; i < count; i++)); do
  k=$((i % ${#seeds[@]}))
  cp "${seeds[$k]}" "$work/files/f$i.dcm"
  ((${seedPrivate[$k]} > 0)) && withPrivate[$work/files/f$i.dcm]=1
done
mapfile -t files < <(ls "$work"/files/*.dcm)
cat "${files[@]}" >/dev/null

t0=$(now); "$cli" dump "${files[@]}" >/dev/null; t1=$(now)
dcmdump "${files[@]}" >/dev/null 2>&1; t2=$(now)
ours=$(calc "$t1 - $t0"); peer=$(calc "$t2 - $t1")
echo "one command for ${#files[@]} files: orvaline-cli dump ${ours} s, dcmdump ${peer} s, ratio ours/dcmdump $(ratio "$ours" "$peer")"

# Interleaved, so that both tools meet the same machine load. Files with private attributes
# are also counted apart: for them the dump loads the private dictionary as dcmdump does.
ours_us=0; peer_us=0; pours_us=0; ppeer_us=0; private=0
us() { local t=${EPOCHREALTIME/./}; echo "${t}"; }
for f in "${files[@]}"; do
  a=$(us); "$cli" dump "$f" >/dev/null; b=$(us)
  dcmdump "$f" >/dev/null 2>&1; c=$(us)
  ours_us=$((ours_us + b - a)); peer_us=$((peer_us + c - b))
  if [[ -n ${withPrivate[$f]:-} ]]; then
    pours_us=$((pours_us + b - a)); ppeer_us=$((ppeer_us + c - b)); private=$((private + 1))
  fi
done
ours=$(calc "$ours_us / 1000000" 3); peer=$(calc "$peer_us / 1000000" 3)
echo "one process per file:          orvaline-cli dump ${ours} s, dcmdump ${peer} s, ratio ours/dcmdump $(ratio "$ours" "$peer")"
if ((private > 0)); then
  ours=$(calc "$pours_us / 1000000" 3); peer=$(calc "$ppeer_us / 1000000" 3)
  echo "  of which ${private} files with private attributes: orvaline-cli dump ${ours} s, dcmdump ${peer} s, ratio $(ratio "$ours" "$peer")"
fi
