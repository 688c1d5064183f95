#!/usr/bin/env bash
# The image list's long commands against the tools that do the same file work, in one run:
# - "&Save" of 1000 files of about 1 MB (about 1 GB) into a local server folder, against
#   `cp -r` of the same files (and `cp -r` followed by `sync`, since the save flushes each file
#   to disk before recording it);
# - "Import Folder" of 2000 DICOM files, against DCMTK's dcmmkdir reading the same folder.
# For each command, the longest gap of the GUI event loop while it ran.
# Usage: bench/imagelist.sh [build folder]   (scratch in $BENCH_DIR, default a new temp folder)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}
tool="$build/bench/orv_bench_imagelist"
cli="$build/src/cli/orvaline-cli"
[[ -x $tool && -x $cli ]] || { echo "build first: scripts/build.sh"; exit 1; }
work=${BENCH_DIR:-$(mktemp -d)}
trap 'rm -rf "$work"' EXIT
now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.${2:-3}f\", $1 }"; }

echo "== save: 1000 files of about 1 MB"
mkdir -p "$work/src"
for i in $(seq -w 1 1000); do head -c $((1000000 + 10#$i * 97)) /dev/urandom >"$work/src/IMG$i.dcm"; done
sync
cat "$work/src"/* >/dev/null # both read from the page cache
out=$("$tool" save "$work/src" "$work/server")
echo "$out"
ours=$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' <<<"$out")
sync
t0=$(now); cp -r "$work/src" "$work/cp-target"; t1=$(now); sync; t2=$(now)
cp_only=$(calc "$t1 - $t0"); cp_sync=$(calc "$t2 - $t0")
echo "cp -r: ${cp_only} s; cp -r + sync: ${cp_sync} s"
echo "ratio save / cp -r = $(calc "$ours / $cp_only" 2); save / (cp -r + sync) = $(calc "$ours / $cp_sync" 2)"
rm -rf "$work/src" "$work/server" "$work/cp-target"

echo "== import folder: 2000 DICOM files"
mkdir -p "$work/dicom"
# 2000 secondary-capture files of 256x256 grey, named as a CD would name them.
mkdir -p "$work/pictures"
convert -size 256x256 gradient: -colorspace Gray "$work/seed.png"
for i in $(seq 1 2000); do ln -s "$work/seed.png" "$work/pictures/IM$(printf %06d "$i").png"; done
"$cli" dicomize --out "$work/dicom" "$work/pictures"/*.png >/dev/null
(cd "$work/dicom" && for f in *.dcm; do mv "$f" "${f%.dcm}.DCM"; done)
sync
cat "$work/dicom"/* >/dev/null
out=$("$tool" import "$work/dicom")
echo "$out"
ours=$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' <<<"$out")
# dcmmkdir takes only DICOM file IDs (no extension): the same files, hard-linked under such names.
mkdir -p "$work/ids"
(cd "$work/dicom" && for f in *.DCM; do ln "$f" "$work/ids/${f%.DCM}"; done)
t0=$(now)
(cd "$work" && dcmmkdir -q +D "$work/DICOMDIR" -Pgp +I +id ids +r)
t1=$(now)
[[ -s $work/DICOMDIR ]] || { echo "dcmmkdir made no DICOMDIR"; exit 1; }
peer=$(calc "$t1 - $t0")
echo "dcmmkdir: ${peer} s"
echo "ratio import / dcmmkdir = $(calc "$ours / $peer" 2)"
