#!/usr/bin/env bash
# The verdict over a database bench's log: every search of every run within 50 ms, on every backend.
set -euo pipefail
log=${1:?log}
fills=$(grep -c "^every search within\|searches over" "$log" || true)
missed=$(grep -c -- "-- NOT met$" "$log" || true)
if [[ $missed -eq 0 && $fills -gt 0 ]]; then
  echo "all $fills runs: every first screen and prefix search within 50 ms: met"
else
  echo "over $fills runs: $missed searches over 50 ms: NOT met"
  exit 1
fi
