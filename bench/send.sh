#!/usr/bin/env bash
# 500 Secondary Capture images to storescp: orvaline-cli send (one association per image, as
# the workstation sends) against DCMTK storescu sending the same files over one association.
# usage: bench/send.sh [build-dir]   (default build; COUNT=500, SIZE=640x480)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh" "$@"
count=${COUNT:-500}
size=${SIZE:-640x480}
scp_pid=
cleanup() { [[ -n $scp_pid ]] && kill "$scp_pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT

mkdir -p "$work/pic" "$work/in"
for v in 0 1 2 3; do convert -seed "$v" -size "$size" plasma:fractal -blur 0x3 -type TrueColor "BMP3:$work/seed$v.bmp"; done
for ((i = 0; i < count; i++)); do cp "$work/seed$((i % 4)).bmp" "$work/pic/img$i.bmp"; done
"$cli" dicomize --out "$work/dcm" --patient-name BENCH^SEND --ts explicit "$work"/pic/*.bmp >/dev/null
mapfile -t files < <(ls "$work"/dcm/*.dcm)
echo "${#files[@]} files of $size, $(du -sh "$work/dcm" | cut -f1)"

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
storescp --ignore -aet STORESCP "$port" &
scp_pid=$!
for _ in $(seq 50); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done

t0=$(now)
"$cli" send --host 127.0.0.1 --port "$port" --aec STORESCP "${files[@]}" >"$work/ours.txt"
t1=$(now)
storescu -aec STORESCP 127.0.0.1 "$port" "${files[@]}"
t2=$(now)
ours=$(calc "$t1 - $t0")
peer=$(calc "$t2 - $t1")
sent=$(grep -c $'\t0x0000$' "$work/ours.txt" || true)
echo "orvaline-cli send ($sent/${#files[@]} status 0, one association each): ${ours} s"
echo "storescu (one association):                                 ${peer} s"
echo "ratio ours/storescu: $(calc "$ours / $peer" 2) (target <= 1.5)"
