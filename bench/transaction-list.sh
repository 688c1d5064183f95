#!/usr/bin/env bash
# The transaction list with 10,000,000 transactions and 5,000,000 patients (in the department
# register and the hospital master), on the embedded SQLite files and on $PG_RUNS (default 5)
# throw-away PostgreSQL servers: for patients from the register and from the master, the empty
# search's first screen and a last-name prefix search's first screen and every row, median of 5
# each, beside the list statement as written read through one cursor ($WRITTEN_RUNS times,
# default 1, on SQLite and the first server only: it reads and sorts every row, minutes at this
# size). Ends with whether every search of every run was within 50 ms.
# The fills are kept in $BENCH_DIR (default /tmp/orvaline-bench): the SQLite files, and the first
# server's data folder, from a copy of which every later server starts and gathers its statistics
# anew (the fill is deterministic; a fresh fill differs only in the statistics' random sample).
# Extra arguments go to the tool (for example --transactions 1000000 --patients 500000 to scale
# the fill down, with a BENCH_DIR of its own).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tool=${ORV_BENCH_LIST:-$root/build/bench/orv_bench_list}
dir=${BENCH_DIR:-/tmp/orvaline-bench}
pg=$root/tests/peers/postgres.sh
template=$dir/pg-list-template
mkdir -p "$dir/sqlite"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
"$tool" --data-dir "$dir/sqlite" --written-runs "${WRITTEN_RUNS:-1}" "$@" | tee -a "$log"
for run in $(seq 1 "${PG_RUNS:-5}"); do
  echo "PostgreSQL server $run"
  options=(--written-runs "$([[ $run -eq 1 ]] && echo "${WRITTEN_RUNS:-1}" || echo 0)")
  if [[ -d $template ]]; then
    PG_TEMPLATE=$template "$pg" start "$dir/pg" >/dev/null
    options+=(--analyze)
  else
    "$pg" start "$dir/pg" >/dev/null
  fi
  trap '"$pg" stop "$dir/pg"; rm -f "$log"' EXIT
  "$tool" --db postgres --db-host 127.0.0.1 --db-port "$(cat "$dir/pg/port")" --db-user postgres --db-name orvaline "${options[@]}" "$@" | tee -a "$log"
  if [[ -d $template ]]; then "$pg" stop "$dir/pg" >/dev/null; else "$pg" keep "$dir/pg" "$template" >/dev/null; fi
  trap 'rm -f "$log"' EXIT
done
"$root/bench/tools/targets.sh" "$log"
