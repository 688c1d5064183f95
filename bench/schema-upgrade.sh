#!/usr/bin/env bash
# The schema upgrade from version 8 with ten million transactions and five million hospital
# patients (scale with --transactions N --patients N), on new embedded SQLite files and on a
# throw-away PostgreSQL server: the upgrade's time and the longest a second workstation's writes
# waited meanwhile. Add --blocking for the peer: the same index work inside the upgrade's
# transaction, as upgrades ran before.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tool=${ORV_BENCH_UPGRADE:-$root/build/bench/orv_bench_upgrade}
dir=${BENCH_DIR:-/tmp/orvaline-bench}
mkdir -p "$dir"
sqlite=$(mktemp -d "$dir/upgrade-sqlite.XXXXXX")
trap 'rm -rf "$sqlite"' EXIT
"$tool" --data-dir "$sqlite" "$@"
"$root/tests/peers/postgres.sh" start "$dir/pg-upgrade" >/dev/null
trap 'rm -rf "$sqlite"; "$root/tests/peers/postgres.sh" stop "$dir/pg-upgrade"' EXIT
"$tool" --db postgres --db-host 127.0.0.1 --db-port "$(cat "$dir/pg-upgrade/port")" --db-user postgres --db-name orvaline "$@"
