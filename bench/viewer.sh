#!/usr/bin/env bash
# Viewer display speed against DCMTK's DicomImage rendering of the same images and windows, in
# the same run: W/L drag on 3x3 CT tiles, window changes on a 3000x3000 CR, opening 500 CT
# images (with the memory they take), a measuring line dragged over 3x3 CT tiles. The images are
# generated in a scratch folder. Ends with whether the W/L drag meets its target (at most 1.0x
# DicomImage); check `uptime` first, the figures need a quiet machine.
# usage: bench/viewer.sh [build-dir]   (default build; STEPS=60 COUNT=500)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}
tool="$build/bench/orv_bench_viewer"
[[ -x $tool ]] || { echo "build orv_bench_viewer first ($tool)"; exit 1; }
out=$(mktemp)
trap 'rm -f "$out"' EXIT
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$tool" --steps "${STEPS:-60}" --count "${COUNT:-500}" | tee "$out"
# The W/L drag is to take at most the time DicomImage takes (ratio 1.0); a busy machine skews it.
awk '/^W\/L drag/ { for (i = 1; i < NF; ++i) if ($i == "ratio") r = $(i + 1) }
     END { if (r == "") { print "W/L drag target: no figure"; exit 1 }
           printf "W/L drag target (at most 1.0x DicomImage): %s (%.2fx)\n", r <= 1.0 ? "met" : "NOT met", r }' "$out"
