#!/usr/bin/env bash
# 500 DICOM images sent to Orthanc from the image list ("S&end to PACS": through the send queue, one association,
# off the GUI thread) against DCMTK storescu sending the same files to the same Orthanc over one
# association; the archive is emptied between the two. Also prints the longest gap between two
# turns of the GUI event loop during the list's send (target <= 100 ms).
# usage: bench/send-list.sh [build-dir]   (default build; COUNT=500, SIZE=640x480)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh" "$@"
count=${COUNT:-500}
size=${SIZE:-640x480}
tool="$build/bench/orv_bench_send_list"
[[ -x $tool ]] || { echo "build orv_bench_send_list first ($tool)"; exit 1; }
orthanc_pid=
cleanup() { [[ -n $orthanc_pid ]] && kill "$orthanc_pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT

mkdir -p "$work/pic"
for v in 0 1 2 3; do convert -seed "$v" -size "$size" plasma:fractal -blur 0x3 -type TrueColor "BMP3:$work/seed$v.bmp"; done
for ((i = 0; i < count; i++)); do cp "$work/seed$((i % 4)).bmp" "$work/pic/img$i.bmp"; done
"$cli" dicomize --out "$work/dcm" --patient-name BENCH^SEND --ts explicit "$work"/pic/*.bmp >/dev/null
mapfile -t files < <(ls "$work"/dcm/*.dcm)
echo "${#files[@]} files of $size, $(du -sh "$work/dcm" | cut -f1)"

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
port=$(free_port)
http=$(free_port)
cat >"$work/orthanc.json" <<JSON
{ "Name": "bench", "StorageDirectory": "$work/storage", "IndexDirectory": "$work/index",
  "DicomAet": "ORTHANC", "DicomPort": $port, "HttpPort": $http, "RemoteAccessAllowed": false,
  "AuthenticationEnabled": false, "DicomAlwaysAllowStore": true, "DicomCheckCalledAet": false }
JSON
Orthanc "$work/orthanc.json" >"$work/orthanc.log" 2>&1 &
orthanc_pid=$!
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done

rest() { # method path: Orthanc's REST API, JSON on stdout
  python3 -c 'import sys, urllib.request as u; r = u.Request("http://127.0.0.1:'"$http"'" + sys.argv[2], method=sys.argv[1]); print(u.urlopen(r).read().decode())' "$1" "$2"
}
instances() { rest GET /statistics | python3 -c 'import json,sys; print(json.load(sys.stdin)["CountInstances"])'; }
empty() { for p in $(rest GET /patients | python3 -c 'import json,sys; print(" ".join(json.load(sys.stdin)))'); do rest DELETE "/patients/$p" >/dev/null; done; }

t0=$(now)
storescu -aec ORTHANC 127.0.0.1 "$port" "${files[@]}"
t1=$(now)
peer=$(calc "$t1 - $t0")
peer_count=$(instances)
empty
t2=$(now)
ours_line=$("$tool" --host 127.0.0.1 --port "$port" --aec ORTHANC "${files[@]}")
t3=$(now)
ours=$(calc "$t3 - $t2")
ours_count=$(instances)
echo "storescu (one association), $peer_count in Orthanc:          ${peer} s"
echo "image list through the send queue, $ours_count in Orthanc:     ${ours} s (send itself: ${ours_line})"
echo "ratio list/storescu: $(calc "$ours / $peer" 2) (target <= 1.5)"
