#!/usr/bin/env bash
# Installs what is missing, builds, and starts the workstation on the embedded database with the
# demonstration data. Extra arguments go to the program (see `build/src/app/orvaline --help`).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" --target orvaline
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
  echo "No display: starting under a virtual X server (xvfb-run)." >&2
  exec xvfb-run -a "$root/build/src/app/orvaline" --demo "$@"
fi
exec "$root/build/src/app/orvaline" --demo "$@"
