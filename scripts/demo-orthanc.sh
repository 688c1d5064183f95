#!/usr/bin/env bash
# The demonstration's local PACS: Orthanc on loopback, answering where the workstation's DICOM
# Settings point by default (address localhost, AE title VELMOR): an archive on port 104 and a
# modality worklist provider on port 105 (a second Orthanc with the ModalityWorklists plugin and
# a few procedures scheduled for today). Everything lives in the user's data folder
# (~/.local/share/Orvaline/orthanc); the archive's web interface is http://localhost:8042.
#
# usage: scripts/demo-orthanc.sh start|stop|status
# Ports may be moved with ORVALINE_DEMO_STORAGE_PORT, ORVALINE_DEMO_WORKLIST_PORT,
# ORVALINE_DEMO_HTTP_PORT and ORVALINE_DEMO_WORKLIST_HTTP_PORT (a non-root user cannot listen on
# 104/105: the script then uses 11104/11105 and says so).
set -euo pipefail

data=${XDG_DATA_HOME:-$HOME/.local/share}/Orvaline/orthanc
aet=VELMOR
storage_port=${ORVALINE_DEMO_STORAGE_PORT:-104}
worklist_port=${ORVALINE_DEMO_WORKLIST_PORT:-105}
http_port=${ORVALINE_DEMO_HTTP_PORT:-8042}
worklist_http_port=${ORVALINE_DEMO_WORKLIST_HTTP_PORT:-8043}
plugin=/usr/share/orthanc/plugins/libModalityWorklists.so

running() { # instance name
  local pidfile="$data/$1.pid"
  [[ -f $pidfile ]] && kill -0 "$(cat "$pidfile")" 2>/dev/null
}

wait_port() {
  for _ in $(seq 150); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

config() { # name dicom-port http-port [worklist folder]
  local extra=""
  if [[ -n ${4:-} ]]; then
    extra=",
  \"Plugins\": [\"$plugin\"],
  \"Worklists\": { \"Enable\": true, \"Database\": \"$4\" }"
  fi
  cat >"$data/$1.json" <<JSON
{
  "Name": "Orvaline demo $1",
  "StorageDirectory": "$data/$1/storage",
  "IndexDirectory": "$data/$1/index",
  "DicomAet": "$aet",
  "DicomPort": $2,
  "HttpPort": $3,
  "RemoteAccessAllowed": false,
  "AuthenticationEnabled": false,
  "DicomCheckCalledAet": false,
  "DicomAlwaysAllowStore": true,
  "DicomAlwaysAllowFindWorklist": true$extra
}
JSON
}

# Today's scheduled procedures, rewritten at every start so that the dates are today's.
worklists() {
  local dir=$data/worklist/worklists today i=0
  today=$(date +%Y%m%d)
  mkdir -p "$dir"
  rm -f "$dir"/demo*.wl
  while IFS='|' read -r acc pid name sex birth doctor procid desc time; do
    i=$((i + 1))
    cat >"$data/item.dump" <<DUMP
(0008,0005) CS [ISO_IR 100]
(0008,0020) DA [$today]
(0008,0050) SH [$acc]
(0008,0090) PN [$doctor]
(0010,0010) PN [$name]
(0010,0020) LO [$pid]
(0010,0030) DA [$birth]
(0010,0040) CS [$sex]
(0020,000d) UI [2.25.$(date +%s)$i]
(0032,1032) PN [${doctor#*^}]
(0032,1060) LO [$desc]
(0040,0100) SQ
(fffe,e000) -
(0008,0060) CS [US]
(0040,0001) AE [ORVALINE]
(0040,0002) DA [$today]
(0040,0003) TM [$time]
(0040,0006) PN
(0040,0007) LO [$desc]
(0040,0009) SH [SPS$acc]
(0040,0010) SH [US ROOM 1]
(0040,0011) SH [RADIOLOGY]
(0040,0012) LO
(0040,0400) LT
(fffe,e00d) -
(fffe,e0dd) -
(0040,1001) SH [$procid]
(0040,1003) SH [ROUTINE]
DUMP
    dump2dcm +te "$data/item.dump" "$dir/demo$i.wl"
  done <<'ITEMS'
WL0001|90001|SANTOS^MARIA^LOPEZ|F|19580314|1004^GONZAGA^PAOLO^R|US01|ABDOMEN, WHOLE|083000
WL0002|90002|REYES^JOSE^GARCIA|M|19711102|1005^SORIANO^BEATRIZ^L|US04|THYROID|093000
WL0003|90003|MULLER^ANNA^KATHARINA|F|19660130|1006^HARTMANN^KLAUS|US05|BREAST, BOTH|110000
WL0004|90004|NAKAMURA^KENJI|M|19490909|1007^ABELLA^MIGUEL^T|US02|KUB|140000
ITEMS
  rm -f "$data/item.dump"
}

start_one() { # name dicom-port http-port
  if running "$1"; then
    echo "Demo Orthanc $1 already runs (pid $(cat "$data/$1.pid"))."
    return 0
  fi
  mkdir -p "$data/$1"
  nohup Orthanc "$data/$1.json" >"$data/$1.log" 2>&1 &
  echo $! >"$data/$1.pid"
  if ! wait_port "$2" || ! wait_port "$3" || ! running "$1"; then
    echo "Demo Orthanc $1 did not start; see $data/$1.log" >&2
    return 1
  fi
  echo "Demo Orthanc $1: AE $aet on localhost:$2 (web: http://localhost:$3)."
}

stop_one() {
  if running "$1"; then
    kill "$(cat "$data/$1.pid")"
    for _ in $(seq 50); do running "$1" || break; sleep 0.1; done
  fi
  rm -f "$data/$1.pid"
}

case ${1:-} in
start)
  command -v Orthanc >/dev/null || { echo "Orthanc is not installed (scripts/install-deps.sh installs it)." >&2; exit 1; }
  if [[ $(id -u) -ne 0 ]] && ((storage_port < 1024 || worklist_port < 1024)); then
    storage_port=11104 worklist_port=11105
    echo "Not root: the demo archive listens on $storage_port and the worklist on $worklist_port." \
      "Enter these ports in Settings > DICOM Settings." >&2
  fi
  mkdir -p "$data"
  config archive "$storage_port" "$http_port"
  config worklist "$worklist_port" "$worklist_http_port" "$data/worklist/worklists"
  worklists
  start_one archive "$storage_port" "$http_port"
  start_one worklist "$worklist_port" "$worklist_http_port"
  ;;
stop)
  stop_one archive
  stop_one worklist
  ;;
status)
  rc=0
  for n in archive worklist; do
    if running "$n"; then echo "$n: running (pid $(cat "$data/$n.pid"))"; else echo "$n: stopped"; rc=3; fi
  done
  exit $rc
  ;;
*)
  echo "usage: $0 start|stop|status" >&2
  exit 2
  ;;
esac
