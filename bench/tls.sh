#!/usr/bin/env bash
# 500 Secondary Capture images sent over DICOM TLS against the same over plain TCP, twice: by the
# image list's "S&end to PACS" (through the send queue, one association for the send) and by the
# workstation's storage SCU (orvaline-cli send, one association per image, so one handshake each), to storescp (TLS with a test CA made here by the openssl command line; the workstation
# shows its certificate and verifies the receiver's). For reference: DCMTK storescu over TLS
# against storescu plain (one association for all files).
# usage: bench/tls.sh [build-dir]   (default build; COUNT=500, SIZE=640x480, KEY=rsa|ec: RSA 2048
# or ECDSA P-256 certificates)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh" "$@"
count=${COUNT:-500}
size=${SIZE:-640x480}
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT

cd "$work"
mkdir -p pic in-plain in-tls
ssl() { openssl "$@" 2>/dev/null >/dev/null; }
case ${KEY:-rsa} in
  ec) newkey=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1) ;;
  *) newkey=(-newkey rsa:2048) ;;
esac
ssl req -x509 "${newkey[@]}" -nodes -keyout ca.key -out ca.pem -days 2 -subj "/CN=Bench CA"
for who in server client; do
  ssl req "${newkey[@]}" -nodes -keyout $who.key -out $who.csr -subj "/CN=$who"
  ssl x509 -req -in $who.csr -CA ca.pem -CAkey ca.key -set_serial $RANDOM -days 2 -out $who.pem
done

for v in 0 1 2 3; do convert -seed "$v" -size "$size" plasma:fractal -blur 0x3 -type TrueColor "BMP3:seed$v.bmp"; done
for ((i = 0; i < count; i++)); do cp "seed$((i % 4)).bmp" "pic/img$i.bmp"; done
"$cli" dicomize --out dcm --patient-name BENCH^TLS --ts explicit pic/*.bmp >/dev/null
mapfile -t files < <(ls "$work"/dcm/*.dcm)
echo "${#files[@]} files of $size, $(du -sh dcm | cut -f1), ${KEY:-rsa} certificates"

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
wait_port() { for _ in $(seq 50); do (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return; sleep 0.1; done; }
plain=$(free_port)
storescp --ignore -aet STORESCP "$plain" & pids+=($!)
secure=$(free_port)
storescp --ignore -aet STORESCP +tls server.key server.pem +cf ca.pem "$secure" & pids+=($!)
wait_port "$plain"; wait_port "$secure"

tls=(--tls-ca ca.pem --tls-cert client.pem --tls-key client.key)
tool="$build/bench/orv_bench_send_list"
mkdir -p home
q0=$(now)
HOME="$work/home" XDG_DATA_HOME= XDG_CONFIG_HOME= "$tool" --host 127.0.0.1 --port "$plain" --aec STORESCP "${files[@]}" >queue-plain.txt
q1=$(now)
HOME="$work/home" XDG_DATA_HOME= XDG_CONFIG_HOME= "$tool" --host 127.0.0.1 --port "$secure" --aec STORESCP \
  --tls-ca "$work/ca.pem" --tls-cert "$work/client.pem" --tls-key "$work/client.key" "${files[@]}" >queue-tls.txt
q2=$(now)
t0=$(now)
"$cli" send --host 127.0.0.1 --port "$plain" --aec STORESCP "${files[@]}" >plain.txt
t1=$(now)
"$cli" send --host 127.0.0.1 --port "$secure" --aec STORESCP "${tls[@]}" "${files[@]}" >tls.txt
t2=$(now)
storescu -aec STORESCP 127.0.0.1 "$plain" "${files[@]}"
t3=$(now)
storescu +tls client.key client.pem +cf ca.pem -aec STORESCP 127.0.0.1 "$secure" "${files[@]}"
t4=$(now)

ours_plain=$(calc "$t1 - $t0"); ours_tls=$(calc "$t2 - $t1")
ref_plain=$(calc "$t3 - $t2"); ref_tls=$(calc "$t4 - $t3")
ok_plain=$(grep -c $'\t0x0000$' plain.txt || true); ok_tls=$(grep -c $'\t0x0000$' tls.txt || true)
queue_plain=$(calc "$q1 - $q0"); queue_tls=$(calc "$q2 - $q1")
echo "S&end to PACS through the queue, plain TCP (one association): ${queue_plain} s ($(cat queue-plain.txt))"
echo "S&end to PACS through the queue, DICOM TLS (one association): ${queue_tls} s ($(cat queue-tls.txt))"
echo "ratio TLS/plain, the workstation's send: $(ratio "$queue_tls" "$queue_plain") (target <= 1.3)"
echo "orvaline-cli send, plain TCP ($ok_plain/${#files[@]} status 0, one association each): ${ours_plain} s"
echo "orvaline-cli send, DICOM TLS ($ok_tls/${#files[@]} status 0, one association each): ${ours_tls} s"
echo "ratio TLS/plain, one association per image: $(ratio "$ours_tls" "$ours_plain")"
echo "reference, storescu plain / TLS (one association): ${ref_plain} s / ${ref_tls} s, ratio $(ratio "$ref_tls" "$ref_plain")"
