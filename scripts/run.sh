#!/usr/bin/env bash
# Installs what is missing, builds and starts the program: the window when a
# display is there, otherwise the headless demo of the command-line program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
BUILD_DIR=${BUILD_DIR:-build}
cd "$BUILD_DIR"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec ./marvane
fi
echo "No display: running the headless demo."
./marvane-cli --version
./marvane-cli settings show
