#!/usr/bin/env bash
# Starts or stops a throw-away PostgreSQL 15 server on a free loopback port for the test run.
#   postgres.sh start DIR   -> a new cluster in a temporary folder, database "orvaline";
#                              writes DIR/port and DIR/cluster (the cluster's folder)
#   postgres.sh stop DIR    -> stops the server and removes the cluster
#   postgres.sh keep DIR T  -> stops the server and keeps its data folder as T (a filled database
#                              that later servers start from)
# With PG_TEMPLATE set to such a folder, start copies it instead of creating a new cluster.
# Connections from 127.0.0.1 are trusted, except the role orv_secure, which needs its password
# ("right-password") so that tests can check a refused password. As root the server runs as the
# postgres user (PostgreSQL refuses root), so the cluster lives under /tmp where that user can reach it.
set -euo pipefail
cmd=${1:?start|stop}
dir=$(realpath -m "${2:?folder}")
bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n1)

as_pg() {
  if [[ $(id -u) -eq 0 ]]; then runuser -u postgres -- "$@"; else "$@"; fi
}

case "$cmd" in
start)
  "$0" stop "$dir" >/dev/null 2>&1 || true
  mkdir -p "$dir"
  cluster=$(mktemp -d /tmp/orvaline-pg.XXXXXX)
  if [[ $(id -u) -eq 0 ]]; then chown postgres:postgres "$cluster"; fi
  echo "$cluster" >"$dir/cluster"
  for _ in $(seq 1 50); do
    port=$((20000 + RANDOM % 40000))
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || break
  done
  if [[ -n ${PG_TEMPLATE:-} ]]; then
    cp -a "$PG_TEMPLATE" "$cluster/data"
    rm -f "$cluster/data/postmaster.pid"
  else
    as_pg "$bin/initdb" -D "$cluster/data" -U postgres -A trust -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1
  fi
  as_pg bash -c "cat > '$cluster/data/pg_hba.conf'" <<HBA
host all orv_secure 127.0.0.1/32 scram-sha-256
host all all 127.0.0.1/32 trust
local all all trust
HBA
  as_pg "$bin/pg_ctl" -D "$cluster/data" -l "$cluster/server.log" -w -t 60 \
    -o "-c listen_addresses=127.0.0.1 -p $port -k $cluster -c fsync=off -c synchronous_commit=off -c full_page_writes=off" start >/dev/null \
    || { cat "$cluster/server.log" >&2; exit 1; }
  if [[ -z ${PG_TEMPLATE:-} ]]; then
    as_pg "$bin/psql" -h 127.0.0.1 -p "$port" -U postgres -q -c "CREATE DATABASE orvaline" \
      -c "CREATE ROLE orv_secure LOGIN SUPERUSER PASSWORD 'right-password'"
  fi
  echo "$port" >"$dir/port"
  echo "PostgreSQL listening on 127.0.0.1:$port"
  ;;
stop)
  if [[ -f "$dir/cluster" ]]; then
    cluster=$(cat "$dir/cluster")
    if [[ -f "$cluster/data/postmaster.pid" ]]; then
      as_pg "$bin/pg_ctl" -D "$cluster/data" -m immediate -w stop >/dev/null 2>&1 || true
    fi
    case "$cluster" in /tmp/orvaline-pg.*) rm -rf "$cluster" ;; esac
    rm -f "$dir/cluster" "$dir/port"
  fi
  ;;
keep)
  template=$(realpath -m "${3:?template folder}")
  cluster=$(cat "$dir/cluster")
  as_pg "$bin/pg_ctl" -D "$cluster/data" -m fast -w stop >/dev/null
  rm -rf "$template"
  mv "$cluster/data" "$template"
  "$0" stop "$dir"
  ;;
*)
  echo "usage: $0 start|stop DIR | keep DIR TEMPLATE" >&2
  exit 2
  ;;
esac
