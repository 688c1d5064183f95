#!/usr/bin/env bash
# 500 DICOM images through the send queue ("S&end to PACS" of the image list: each file copied
# into the queue folder, queued in the embedded database, delivered on one association and its
# answer recorded) against DCMTK storescu sending the same files over one association, both to
# the same storescp.
# usage: bench/send-queue.sh [build-dir]   (default build; COUNT=500, SIZE=640x480)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh" "$@"
count=${COUNT:-500}
size=${SIZE:-640x480}
tool="$build/bench/orv_bench_send_list"
[[ -x $tool ]] || { echo "build orv_bench_send_list first ($tool)"; exit 1; }
scp_pid=
cleanup() { [[ -n $scp_pid ]] && kill "$scp_pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT

mkdir -p "$work/pic" "$work/in" "$work/home"
for v in 0 1 2 3; do convert -seed "$v" -size "$size" plasma:fractal -blur 0x3 -type TrueColor "BMP3:$work/seed$v.bmp"; done
for ((i = 0; i < count; i++)); do cp "$work/seed$((i % 4)).bmp" "$work/pic/img$i.bmp"; done
"$cli" dicomize --out "$work/dcm" --patient-name BENCH^QUEUE --ts explicit "$work"/pic/*.bmp >/dev/null
mapfile -t files < <(ls "$work"/dcm/*.dcm)
echo "${#files[@]} files of $size, $(du -sh "$work/dcm" | cut -f1)"

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
storescp --ignore -aet STORESCP "$port" &
scp_pid=$!
for _ in $(seq 50); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done

t0=$(now)
storescu -aec STORESCP 127.0.0.1 "$port" "${files[@]}"
t1=$(now)
ours_line=$(HOME="$work/home" XDG_DATA_HOME= XDG_CONFIG_HOME= "$tool" --host 127.0.0.1 --port "$port" --aec STORESCP "${files[@]}")
t2=$(now)
peer=$(calc "$t1 - $t0")
ours=$(calc "$t2 - $t1")
echo "storescu (one association):                ${peer} s"
echo "through the send queue (one association):  ${ours} s (the send itself: ${ours_line})"
echo "ratio queue/storescu: $(calc "$ours / $peer" 2) (target <= 1.5)"
