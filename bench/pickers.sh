#!/usr/bin/env bash
# The patient picker's searches with 5,000,000 patients in the hospital master (50,000 admitted,
# 100,000 unbilled visits) and 200,000 in the department register: on the embedded SQLite files
# (filled once and kept in $BENCH_DIR, default /tmp/orvaline-bench) and on $PG_RUNS (default 5)
# throw-away PostgreSQL servers, each filled anew (the statements as written are read on SQLite
# and the first server only). Extra arguments go to the tool (for example --master 250000 to
# scale the fill down, --analyze to gather statistics after it). Ends with whether every search
# of every fill was within 50 ms.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tool=${ORV_BENCH_PICKERS:-$root/build/bench/orv_bench_pickers}
dir=${BENCH_DIR:-/tmp/orvaline-bench}
mkdir -p "$dir/pickers-sqlite"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
"$tool" --data-dir "$dir/pickers-sqlite" --written-runs "${WRITTEN_RUNS:-1}" "$@" | tee -a "$log"
for run in $(seq 1 "${PG_RUNS:-5}"); do
  echo "PostgreSQL server $run"
  "$root/tests/peers/postgres.sh" start "$dir/pg-pickers" >/dev/null
  trap '"$root/tests/peers/postgres.sh" stop "$dir/pg-pickers"; rm -f "$log"' EXIT
  written=()
  [[ $run -gt 1 ]] && written=(--written-runs 0) || written=(--written-runs "${WRITTEN_RUNS:-1}")
  "$tool" --db postgres --db-host 127.0.0.1 --db-port "$(cat "$dir/pg-pickers/port")" --db-user postgres --db-name orvaline "${written[@]}" "$@" | tee -a "$log"
  "$root/tests/peers/postgres.sh" stop "$dir/pg-pickers" >/dev/null
  trap 'rm -f "$log"' EXIT
done
"$root/bench/tools/targets.sh" "$log"
