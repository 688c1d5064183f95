#!/usr/bin/env bash
# Film print of COUNT CT images (512 x 512, 16-bit; 12 make two STANDARD\2,3 films) to dcmprscp
# against DCMTK's own print SCU path, in the same run. Ours is orvaline-cli print (the film
# printer layer the viewer's "Dicom Print" job uses): one association, the images windowed to
# 8 bits and placed box by box, each film printed as it fills. DCMTK's path is dcmpsprt
# rendering the images into a stored print job per film (hardcopy greyscale images in its
# database, as its print spooler takes them) followed by dcmprscu sending those jobs to the
# same printer (one association per film). Both print to one dcmprscp started here, with a
# configuration derived from the system's dcmpstat.cfg (client and server each keep their own
# database folder).
# usage: bench/film-print.sh [build-dir]   (default build; COUNT=12, ROUNDS=5)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh" "$@"
count=${COUNT:-12}
rounds=${ROUNDS:-5}
server=""
trap '[[ -n $server ]] && kill "$server" 2>/dev/null; rm -rf "$work"' EXIT

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
config() { # $1: folder of its database, spool and log
  mkdir -p "$1/database" "$1/spool" "$1/log"
  sed -e "s|^Directory = database$|Directory = $1/database|" -e "s|^Directory = spool$|Directory = $1/spool|" \
      -e "s|^LogDirectory = log$|LogDirectory = $1/log|" -e "s|^Port = 10005$|Port = $port|" \
      -e "s|^Hostname = localhost$|Hostname = 127.0.0.1|" /etc/dcmtk/dcmpstat.cfg >"$1/dcmpstat.cfg"
}
config "$work/server"
config "$work/client"
dcmprscp -c "$work/server/dcmpstat.cfg" -p IHEFULL >"$work/server/out.log" 2>&1 &
server=$!
for ((i = 0; i < 100; i++)); do
  python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.2)" 2>/dev/null && break
  sleep 0.1
done

samples=/usr/lib/python3/dist-packages/pydicom/data/test_files
dcmscale --scale-x-factor 4 "$samples/CT_small.dcm" "$work/ct512.dcm"
mkdir -p "$work/files"
for ((i = 0; i < count; i++)); do cp "$work/ct512.dcm" "$work/files/ct$(printf %03d "$i").dcm"; done
mapfile -t files < <(ls "$work"/files/*.dcm)
cat "${files[@]}" >/dev/null

best_ours=""; best_peer=""
for ((r = 0; r < rounds; r++)); do
  t0=$(now)
  "$cli" print --host 127.0.0.1 --port "$port" --aet ORVBENCH --aec IHEFULL --format 'STANDARD\2,3' --film-size 14INX17IN "${files[@]}" >/dev/null
  t1=$(now)
  rm -rf "$work/client/database"/*
  for ((f = 0; f < count; f += 6)); do
    dcmpsprt -q -c "$work/client/dcmpstat.cfg" -p IHEFULL --layout 2 3 --filmsize 14INX17IN "${files[@]:f:6}"
  done
  dcmprscu -q -c "$work/client/dcmpstat.cfg" -p IHEFULL "$work/client/database"/SP_*
  t2=$(now)
  o=$(calc "$t1 - $t0"); p=$(calc "$t2 - $t1")
  if [[ -z $best_ours ]] || (( $(calc "$o < $best_ours" 0) )); then best_ours=$o; fi
  if [[ -z $best_peer ]] || (( $(calc "$p < $best_peer" 0) )); then best_peer=$p; fi
done
films=$(ls "$work/server/database" | grep -c '^SP_' || true)
echo "$count CT images on STANDARD\\2,3 films (best of $rounds): orvaline-cli print ${best_ours} s, dcmpsprt + dcmprscu ${best_peer} s, ratio $(ratio "$best_ours" "$best_peer")   (target <= 1.5; $films films stored by dcmprscp in all)"
