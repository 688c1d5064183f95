#!/usr/bin/env bash
# Installs what is missing, builds, starts the demonstration PACS (scripts/demo-orthanc.sh: a
# local Orthanc archive and worklist where DICOM Settings point by default) and the workstation on
# the embedded database with the demonstration data. Extra arguments go to the program (see
# `build/src/app/orvaline --help`). The demo PACS stops with the workstation unless it was
# already running.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" --target orvaline
if ! "$root/scripts/demo-orthanc.sh" status >/dev/null; then
  "$root/scripts/demo-orthanc.sh" start
  trap '"$root/scripts/demo-orthanc.sh" stop' EXIT
fi
program=("$root/build/src/app/orvaline" --demo "$@")
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
  echo "No display: starting under a virtual X server (xvfb-run)." >&2
  program=(xvfb-run -a "${program[@]}")
fi
"${program[@]}"
