#!/usr/bin/env bash
# Installs every Debian package the workstation and its tests need.
# Idempotent: when every package is present it only checks and returns.
set -euo pipefail

BUILD_PKGS=(
  build-essential cmake ninja-build ccache pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev
  libqt6sql6-sqlite libqt6sql6-psql libqt6sql6-odbc
  libdcmtk-dev dcmtk libturbojpeg0-dev libjpeg-turbo-progs
  libavdevice-dev libavformat-dev libavcodec-dev libswscale-dev libavutil-dev
  libburn-dev libisofs-dev libsodium-dev libopenjp2-7-dev libssl-dev
  unixodbc-dev tdsodbc libsqlite3-dev libpq-dev
)
RUN_PKGS=(
  orthanc postgresql-15 xvfb xauth
)
TEST_PKGS=(
  clang libclang-rt-14-dev libgtest-dev dicom3tools python3-pydicom xorriso poppler-utils imagemagick ffmpeg openssl
  rsyslog rsyslog-gnutls libxml2-utils
)

want=("${BUILD_PKGS[@]}" "${RUN_PKGS[@]}")
if [[ "${1:-}" == "--test" ]]; then want+=("${TEST_PKGS[@]}"); fi

# The test peers Debian does not package (a performed procedure step provider) come from the npm
# registry, installed with the machine's Node.js into the peers' folder.
if [[ "${1:-}" == "--test" ]]; then
  peers="$(cd "$(dirname "$0")/.." && pwd)/tests/outside/dicom/peers"
  if [[ ! -f "$peers/node_modules/dcmjs-dimse/package.json" ]]; then
    command -v npm >/dev/null || { echo "npm is needed for the test peers (Node.js 18 or later)" >&2; exit 1; }
    (cd "$peers" && npm ci --no-audit --no-fund --loglevel=error)
  fi
fi

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]} == 0)); then exit 0; fi

SUDO=""
if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
echo "Installing: ${missing[*]}"
$SUDO apt-get update -q
# The orthanc package starts a system service on install; the workstation runs its own instance.
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
if command -v systemctl >/dev/null 2>&1; then $SUDO systemctl disable --now orthanc >/dev/null 2>&1 || true; fi
$SUDO service orthanc stop >/dev/null 2>&1 || true
# rsyslog likewise starts the system logger on install; the audit test runs its own instance.
if command -v systemctl >/dev/null 2>&1; then $SUDO systemctl disable --now rsyslog >/dev/null 2>&1 || true; fi
$SUDO service rsyslog stop >/dev/null 2>&1 || true
