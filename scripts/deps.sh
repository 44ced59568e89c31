#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when missing.
set -euo pipefail
PKGS=(cmake ninja-build g++ pkg-config ccache
      qt6-base-dev qt6-base-dev-tools libqt6serialport6-dev libgl-dev
      libgtest-dev libgmock-dev
      libcurl4-openssl-dev openssl python3-aiosmtpd
      fonts-dejavu-core xvfb xauth poppler-utils)
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
