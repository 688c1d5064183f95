#!/usr/bin/env bash
# Viewer display speed against DCMTK's DicomImage rendering of the same images and windows, in
# the same run: W/L drag on 3x3 CT tiles, window changes on a 3000x3000 CR, opening 500 CT
# images (with the memory they take), a measuring line dragged over 3x3 CT tiles. The images are
# generated in a scratch folder.
# usage: bench/viewer.sh [build-dir]   (default build; STEPS=60 COUNT=500)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}
tool="$build/bench/orv_bench_viewer"
[[ -x $tool ]] || { echo "build orv_bench_viewer first ($tool)"; exit 1; }
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$tool" --steps "${STEPS:-60}" --count "${COUNT:-500}"
