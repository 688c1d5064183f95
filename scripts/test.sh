#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the sanitized damaged-file checks and
# fuzzer, then the whole CTest suite (which starts its own PostgreSQL and DICOM peers on free
# loopback ports). Exits non-zero on any failure, or when no test ran.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
"$root/scripts/install-deps.sh" --test
"$root/scripts/check-layers.sh"
"$root/scripts/build.sh"
if [[ -x "$root/tests/outside/dicom/sanitized.sh" && "${SKIP_SANITIZED:-0}" != 1 ]]; then
  "$root/tests/outside/dicom/sanitized.sh" "${ASAN_BUILD_DIR:-$root/build-asan}"
fi
cd "${BUILD_DIR:-$root/build}"
ctest --output-on-failure --no-tests=error -j "${JOBS:-2}" --timeout 900
