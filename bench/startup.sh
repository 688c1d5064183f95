#!/usr/bin/env bash
# Cold start to the main window shown, login scripted, on the embedded database with the demo
# data. Prints each run and the median of RUNS (default 5) in milliseconds (wall clock of the
# whole process, measured from outside), and the program's own figure for comparison.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bin=${ORVALINE:-$root/build/src/app/orvaline}
runs=${RUNS:-5}
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME=$home QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
echo "bench-password" | "$bin" --add-user BENCH --name "Bench User" >/dev/null
# The first start creates the schema and seeds the demo data; it is not counted.
echo "bench-password" | "$bin" --demo --login BENCH --quit-when-shown >/dev/null 2>&1
times=()
for i in $(seq 1 "$runs"); do
  sync; echo 3 > /proc/sys/vm/drop_caches 2>/dev/null || true   # cold file cache where allowed
  start=$(date +%s%N)
  inner=$(echo "bench-password" | "$bin" --demo --login BENCH --quit-when-shown 2>/dev/null)
  end=$(date +%s%N)
  ms=$(( (end - start) / 1000000 ))
  times+=("$ms")
  echo "run $i: ${ms} ms (${inner})"
done
median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p")
echo "median cold start to main window: ${median} ms over ${runs} runs (target: under 1000 ms)"
