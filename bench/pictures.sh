#!/usr/bin/env bash
# The hand-written bitmap reader (and the PNG import) against Qt's image readers on the same
# frames, 1280x720 and 1920x1080: median time per picture and the ratio (below 1: ours is
# faster). The reader is kept only while it is clearly faster.
# usage: bench/pictures.sh [build-dir]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}
tool="$build/bench/orv_bench_pictures"
[[ -x $tool ]] || { echo "build orv_bench_pictures first ($tool)"; exit 1; }
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$tool"
