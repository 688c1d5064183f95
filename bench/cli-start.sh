#!/usr/bin/env bash
# Start of the command-line front's commands module (orvaline-cli send without arguments: the
# program, the module and its libraries loaded, the usage printed) as it is, against the same
# with FFmpeg's libraries loaded at start, which is what linking them into the module would do;
# DCMTK's storescu without arguments as the peer. Mean of RUNS interleaved runs (default 40).
# usage: bench/cli-start.sh [build-dir]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh" "$@"
runs=${RUNS:-40}
trap 'rm -rf "$work"' EXIT
libdir=$(pkg-config --variable=libdir libavformat)
ffmpeg=""
for lib in libavutil libavcodec libavformat libswscale; do
  ffmpeg+="${ffmpeg:+:}$(ls "$libdir/$lib".so.[0-9]* | head -1)"
done
us() { local t=${EPOCHREALTIME/./}; echo "$t"; }
ours=0; linked=0; peer=0
for ((i = 0; i < runs; i++)); do
  a=$(us); "$cli" send >/dev/null 2>&1 || true; b=$(us)
  LD_PRELOAD=$ffmpeg "$cli" send >/dev/null 2>&1 || true; c=$(us)
  storescu >/dev/null 2>&1 || true; d=$(us)
  ours=$((ours + b - a)); linked=$((linked + c - b)); peer=$((peer + d - c))
done
ours=$(calc "$ours / $runs / 1000" 1); linked=$(calc "$linked / $runs / 1000" 1); peer=$(calc "$peer / $runs / 1000" 1)
echo "orvaline-cli send, FFmpeg opened on first use: ${ours} ms; with FFmpeg loaded at start: ${linked} ms ($(ratio "$linked" "$ours")x); storescu: ${peer} ms"
