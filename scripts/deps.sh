#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when missing.
# With --fuzz also clang 14 and its libFuzzer runtime (scripts/fuzz.sh).
set -euo pipefail
PKGS=(cmake ninja-build g++ pkg-config ccache
      qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-charts-dev libqt6opengl6-dev libgl-dev
      libgtest-dev libgmock-dev
      libcurl4-openssl-dev openssl python3-aiosmtpd
      fonts-dejavu-core fonts-nanum xvfb xauth poppler-utils
      libqt6sql6-sqlite libsqlite3-dev libqt6sql6-psql postgresql libpq-dev qt6-translations-l10n)
if [ "${1:-}" = "--fuzz" ]; then
  PKGS+=(clang-14 libclang-rt-14-dev)
fi
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
