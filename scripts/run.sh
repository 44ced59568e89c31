#!/usr/bin/env bash
# Installs what is missing, builds and starts the program against the built-in
# simulated dock: the window when a display is there, otherwise a headless demo
# of the command-line program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
BUILD_DIR=${BUILD_DIR:-build}
cd "$BUILD_DIR"

# The simulated dock: a dock's file tree in a folder, as a dock plugged in as a USB drive shows it.
DOCK=${MARVANE_DEMO_DOCK:-$PWD/demo-dock}
if [ ! -f "$DOCK/CONFIG/DOCKINFORM.CFG" ]; then
  ./docksim/marvane-docksim fixture "$DOCK" --size small >/dev/null
fi

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "Simulated dock: $DOCK"
  echo "Press Read; when asked for the dock's drive, choose that folder."
  exec ./marvane
fi

echo "No display: headless demo against the simulated dock in $DOCK"
set -x
./marvane-cli --version
./marvane-cli read --link usb --target "$DOCK" --purge no
./marvane-cli config show | head -20
./marvane-cli config set DockCfgMaxBumpTimeEdit=45 DockInfoLocationEdit="Demo bay" write --link usb --target "$DOCK"
./marvane-cli read --link usb --target "$DOCK" --purge no | tail -1
./marvane-cli config show | grep -E 'DockCfgMaxBumpTimeEdit|DockInfoLocationEdit'
