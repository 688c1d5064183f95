#!/usr/bin/env bash
# Clip recording against the ffmpeg command line, in the same run.
#  1. Live: the capture station records the 1920x1080 test pattern at 25 fps with H.264 for
#     SECONDS (default 60) while its live picture runs: frames dropped, and the processor time of
#     the threads the recording starts (its job and the codec's) against ffmpeg encoding the same frames (the same test pattern, piped in raw
#     at 25 a second) with the same codec and settings (x264 veryfast, CRF 21, 4:2:0, AVI).
#  2. Re-encode: a 1280x720 Motion JPEG AVI with sound (SECONDS_FILE, default 20 s) re-encoded
#     with H.264, MPEG-4 Part 2 and Motion JPEG at quality 75, against ffmpeg with the same
#     settings; time ratio (target <= 1.2x).
# usage: bench/clips.sh [build-dir]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}
tool="$build/bench/orv_bench_clips"
[[ -x $tool ]] || { echo "build orv_bench_clips first ($tool)"; exit 1; }
command -v ffmpeg >/dev/null || { echo "ffmpeg is not installed (scripts/install-deps.sh --test)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
calc() { awk "BEGIN { printf \"%.${2:-2}f\", $1 }"; }
seconds=${SECONDS_LIVE:-60}
# SECONDS_LIVE and SECONDS_FILE shorten the two parts.
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

TIMEFORMAT='%U %S %R'

echo "== live 1920x1080 H.264, $seconds s, live picture running"
line=$("$tool" live "$seconds" "$work" 2>/dev/null | grep '^live:')
echo "ours: $line"
written=$(awk '{for (i=1;i<=NF;i++) if ($i=="written") print $(i+1)}' <<<"$line")
dropped=$(awk '{for (i=1;i<=NF;i++) if ($i=="dropped") print $(i+1)}' <<<"$line")
enc_cpu=$(awk '{for (i=1;i<=NF;i++) if ($i=="encoder-cpu") print $(i+1)}' <<<"$line")
wall=$(awk '{for (i=1;i<=NF;i++) if ($i=="seconds") print $(i+1)}' <<<"$line")
# ffmpeg reads the same frames from the pipe as they are produced; only its own time is counted.
{ time ffmpeg -v error -y -f rawvideo -pix_fmt bgra -s 1920x1080 -r 25 -i - -c:v libx264 -preset veryfast \
    -crf 21 -pix_fmt yuv420p "$work/ffmpeg-live.avi" < <("$tool" emit "$seconds" 2>/dev/null) ; } 2> "$work/ff-live.time"
read -r ff_user ff_sys ff_wall < <(tail -1 "$work/ff-live.time")
ff_frames=$(ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets -of csv=p=0 "$work/ffmpeg-live.avi")
ff_cpu=$(calc "$ff_user + $ff_sys")
echo "ffmpeg: frames $ff_frames processor $ff_cpu s over $ff_wall s"
echo "live: dropped $dropped of $((written + dropped)) frames the source delivered ($(calc "$written / $wall" 1) fps);" \
     "encoder threads' processor time $enc_cpu s = $(calc "$enc_cpu / $written * 1000" 1) ms" \
     "a frame vs ffmpeg $(calc "$ff_cpu / $ff_frames * 1000" 1) ms a frame; ratio $(calc "($enc_cpu / $written) / ($ff_cpu / $ff_frames)")x"

echo "== re-encode 1280x720 Motion JPEG AVI with sound, ${SECONDS_FILE:-20} s"
ffmpeg -v error -y -f lavfi -i testsrc=size=1280x720:rate=25 -f lavfi -i sine=frequency=440 -t "${SECONDS_FILE:-20}" \
  -c:v mjpeg -q:v 3 -pix_fmt yuvj420p -c:a pcm_s16le "$work/in.avi"
declare -A args=(
  [0]="-c:v mjpeg -q:v 10 -pix_fmt yuvj420p"
  [1]="-c:v mpeg4 -q:v 10 -pix_fmt yuv420p"
  [2]="-c:v libx264 -preset veryfast -crf 21 -pix_fmt yuv420p"
)
# Each side three times, alternately; the fastest run of each counts (the machine may be shared).
for codec in 2 1 0; do
  best_ours=999999 best_ff=999999
  for run in 1 2 3; do
    ours=$("$tool" file "$work/in.avi" "$work/ours-$codec.avi" "$codec" 2>/dev/null | grep '^file:')
    t_ours=$(awk '{for (i=1;i<=NF;i++) if ($i=="seconds") print $(i+1)}' <<<"$ours")
    name=$(awk '{print $3}' <<<"$ours")
    # shellcheck disable=SC2086
    { time ffmpeg -v error -y -i "$work/in.avi" ${args[$codec]} -c:a copy "$work/ff-$codec.avi" ; } 2> "$work/ff.time"
    t_ff=$(tail -1 "$work/ff.time" | awk '{print $3}')
    best_ours=$(calc "($t_ours < $best_ours) ? $t_ours : $best_ours" 3)
    best_ff=$(calc "($t_ff < $best_ff) ? $t_ff : $best_ff" 3)
  done
  echo "$name: ours $best_ours s, ffmpeg $best_ff s, ratio $(calc "$best_ours / $best_ff")x (target <= 1.2x)"
done
