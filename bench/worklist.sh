#!/usr/bin/env bash
# The worklist window listing 1,000 scheduled procedures answered by Orthanc (ModalityWorklists
# plugin) against DCMTK findscu sending the same query to the same Orthanc; median of RUNS runs
# each. Also prints the longest gap between two turns of the GUI event loop while the window
# listed the answers (target <= 100 ms).
# usage: bench/worklist.sh [build-dir]   (COUNT=1000, RUNS=3)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh" "$@"
count=${COUNT:-1000}
runs=${RUNS:-3}
tool="$build/bench/orv_bench_worklist"
[[ -x $tool ]] || { echo "build orv_bench_worklist first ($tool)"; exit 1; }
orthanc_pid=
cleanup() { [[ -n $orthanc_pid ]] && kill "$orthanc_pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT

mkdir -p "$work/worklists"
today=$(date +%Y%m%d)
for ((i = 1; i <= count; i++)); do
  cat >"$work/item.dump" <<DUMP
(0008,0005) CS [ISO_IR 100]
(0008,0020) DA [$today]
(0008,0050) SH [BW$i]
(0008,0090) PN [$((1000 + i % 50))^DOCTOR^NUMBER^$((i % 50))]
(0010,0010) PN [PATIENT$i^BENCH^WORKLIST]
(0010,0020) LO [$((100000 + i))]
(0010,0030) DA [19700101]
(0010,0040) CS [F]
(0020,000d) UI [1.2.826.0.1.3680043.9.7777.8.$i]
(0032,1032) PN [REQUESTER]
(0032,1060) LO [PROCEDURE $((i % 20))]
(0040,0100) SQ
(fffe,e000) -
(0008,0060) CS [US]
(0040,0001) AE [STATION1]
(0040,0002) DA [$today]
(0040,0003) TM [0900]
(0040,0006) PN [PERFORMER]
(0040,0007) LO [PROCEDURE $((i % 20))]
(0040,0009) SH [SPS$i]
(0040,0010) SH [ROOM1]
(0040,0011) SH [FLOOR1]
(0040,0012) LO
(0040,0400) LT
(fffe,e00d) -
(fffe,e0dd) -
(0040,1001) SH [RP$((i % 20))]
(0040,1003) SH [LOW]
DUMP
  dump2dcm +te "$work/item.dump" "$work/worklists/item$i.wl"
done
echo "$count worklist files"

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
port=$(free_port)
http=$(free_port)
cat >"$work/orthanc.json" <<JSON
{ "Name": "bench", "StorageDirectory": "$work/storage", "IndexDirectory": "$work/index",
  "DicomAet": "ORTHANC", "DicomPort": $port, "HttpPort": $http, "RemoteAccessAllowed": false,
  "AuthenticationEnabled": false, "DicomAlwaysAllowFindWorklist": true, "DicomCheckCalledAet": false,
  "Plugins": ["/usr/share/orthanc/plugins/libModalityWorklists.so"],
  "Worklists": { "Enable": true, "Database": "$work/worklists" } }
JSON
Orthanc "$work/orthanc.json" >"$work/orthanc.log" 2>&1 &
orthanc_pid=$!
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done

# The window's query with every field empty: the same keys, the same values.
findscu_once() {
  findscu -W -aet VELMOR -aec ORTHANC -k "PatientName=*" -k StudyDate= -k AccessionNumber= -k InstitutionName= \
    -k Modality= -k PatientSex= -k ReferringPhysicianName= -k RequestedProcedureID= -k RequestedProcedureDescription= \
    -k PatientID= -k PatientBirthDate= -k "ScheduledProcedureStepSequence[0].ScheduledProcedureStepStartDate=" \
    -k "ScheduledProcedureStepSequence[0].ScheduledProcedureStepStartTime=" 127.0.0.1 "$port" 2>&1 | grep -c "Find Response" || true
}
times=()
for ((r = 0; r < runs; r++)); do
  t0=$(now); n=$(findscu_once); t1=$(now)
  times+=("$(calc "$t1 - $t0")")
  echo "findscu run $((r + 1)): $n responses in ${times[-1]} s"
done
peer=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$((runs / 2 + 1))p")
ours_out=$("$tool" --host 127.0.0.1 --port "$port" --aec ORTHANC --runs "$runs")
echo "$ours_out" | grep '^run'
ours=$(echo "$ours_out" | sed -n 's/^median //p')
echo "findscu median:            ${peer} s"
echo "worklist window median:    ${ours} s"
echo "ratio window/findscu: $(ratio "$ours" "$peer") (target <= 1.5)"
