#!/usr/bin/env bash
# Starts or stops a throw-away PostgreSQL 15 server on a free loopback port for the test run.
#   postgres.sh start DIR   -> initdb into DIR/data, start, create database "orvaline"; writes DIR/port
#   postgres.sh stop DIR
# Connections from 127.0.0.1 are trusted, except the role orv_secure, which needs its password
# ("right-password") so that tests can check a refused password.
set -euo pipefail
cmd=${1:?start|stop}
dir=${2:?folder}
bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n1)

as_pg() {
  if [[ $(id -u) -eq 0 ]]; then runuser -u postgres -- "$@"; else "$@"; fi
}

case "$cmd" in
start)
  "$0" stop "$dir" >/dev/null 2>&1 || true
  rm -rf "$dir"
  mkdir -p "$dir"
  if [[ $(id -u) -eq 0 ]]; then chown postgres:postgres "$dir"; fi
  for _ in $(seq 1 50); do
    port=$((20000 + RANDOM % 40000))
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || break
  done
  as_pg "$bin/initdb" -D "$dir/data" -U postgres -A trust -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1
  cat >"$dir/data/pg_hba.conf" <<HBA
host all orv_secure 127.0.0.1/32 scram-sha-256
host all all 127.0.0.1/32 trust
local all all trust
HBA
  as_pg "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
    -o "-c listen_addresses=127.0.0.1 -p $port -k $dir -c fsync=off -c synchronous_commit=off -c full_page_writes=off" start >/dev/null
  as_pg "$bin/psql" -h 127.0.0.1 -p "$port" -U postgres -q -c "CREATE DATABASE orvaline" \
    -c "CREATE ROLE orv_secure LOGIN SUPERUSER PASSWORD 'right-password'"
  echo "$port" >"$dir/port"
  echo "PostgreSQL listening on 127.0.0.1:$port"
  ;;
stop)
  if [[ -f "$dir/data/postmaster.pid" ]]; then
    as_pg "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  ;;
*)
  echo "usage: $0 start|stop DIR" >&2
  exit 2
  ;;
esac
