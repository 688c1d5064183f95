#!/usr/bin/env bash
# The transaction list with 1,000,000 transactions and 200,000 patients, on the embedded SQLite
# files and on a throw-away PostgreSQL server: a last-name prefix search (all rows) and the
# empty search (first screen), median of 5 each, for patients from the department register and
# from the hospital master, each beside the list statement as written read through one cursor.
# The filled SQLite files are kept in $BENCH_DIR (default /tmp/orvaline-bench) so that a second
# run skips their fill; the PostgreSQL server is filled anew each run.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tool=${ORV_BENCH_LIST:-$root/build/bench/orv_bench_list}
dir=${BENCH_DIR:-/tmp/orvaline-bench}
mkdir -p "$dir/sqlite"
"$tool" --data-dir "$dir/sqlite" "$@"
"$root/tests/peers/postgres.sh" start "$dir/pg" >/dev/null
trap '"$root/tests/peers/postgres.sh" stop "$dir/pg"' EXIT
"$tool" --db postgres --db-host 127.0.0.1 --db-port "$(cat "$dir/pg/port")" --db-user postgres --db-name orvaline "$@"
