#!/usr/bin/env bash
# A Video row made into a DICOM video object for "S&end to PACS" (decode the AVI, encode H.264
# High profile level 4.1 with libx264, write the object) against the ffmpeg command line encoding
# the same clip with the same codec and settings to a raw H.264 stream; median of RUNS, ratio.
# usage: bench/video-object.sh [build-dir]   (SIZE=1280x720, RATE=25, DURATION=20, RUNS=3)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}
tool="$build/bench/orv_bench_videoobject"
[[ -x $tool ]] || { echo "build orv_bench_videoobject first ($tool)"; exit 1; }
size=${SIZE:-1280x720} rate=${RATE:-25} seconds=${DURATION:-20} runs=${RUNS:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
now() { date +%s.%N; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

ffmpeg -v error -f lavfi -i "testsrc2=size=$size:rate=$rate" -t "$seconds" -c:v mjpeg -q:v 3 "$work/clip.avi"
echo "clip: $size at $rate fps, $seconds s, Motion JPEG, $(du -h "$work/clip.avi" | cut -f1)"
ours=() peer=()
for ((i = 0; i < runs; i++)); do
  t0=$(now)
  ffmpeg -v error -y -i "$work/clip.avi" -an -c:v libx264 -profile:v high -level:v 4.1 -preset veryfast -crf 18 \
    -maxrate 40M -bufsize 40M -g "$rate" -pix_fmt yuv420p -f h264 "$work/peer.h264"
  t1=$(now)
  "$tool" "$work/clip.avi" "$work/ours.dcm" >/dev/null
  t2=$(now)
  peer+=("$(awk "BEGIN { print $t1 - $t0 }")") ours+=("$(awk "BEGIN { print $t2 - $t1 }")")
done
p=$(printf '%s\n' "${peer[@]}" | median) o=$(printf '%s\n' "${ours[@]}" | median)
echo "ffmpeg CLI to raw H.264:        ${p} s ($(du -h "$work/peer.h264" | cut -f1))"
echo "video object (transcode+write): ${o} s ($(du -h "$work/ours.dcm" | cut -f1))"
echo "ratio ours/ffmpeg: $(awk "BEGIN { printf \"%.2f\", $o / $p }") (target <= 1.2)"
