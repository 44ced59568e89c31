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

# The same dock on a USB cable: the simulator serves it on a pseudo-terminal.
SIMOUT=$(mktemp)
./docksim/marvane-docksim serve-serial "$DOCK" >"$SIMOUT" 2>&1 &
SIM=$!
trap 'kill $SIM 2>/dev/null; rm -f "$SIMOUT"' EXIT
for _ in 1 2 3 4 5 6 7 8 9 10; do grep -q '^PTY ' "$SIMOUT" && break; sleep 0.2; done
PTY=$(awk '/^PTY /{print $2; exit}' "$SIMOUT")

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "Simulated dock as a USB drive: $DOCK"
  echo "  USB Disk: press Read; when asked for the dock's drive, choose that folder."
  echo "Simulated dock on a USB cable: $PTY"
  echo "  USB Cable: type $PTY into the port box, then Read, Write, Get RTC, Set RTC ..."
  echo "  Service tools and the bay monitor (\"PC Operation\"): README.md, \"Service tools\"."
  ./marvane
  exit $?
fi

echo "No display: headless demo against the simulated dock in $DOCK"
set -x
./marvane-cli --version
./marvane-cli read --link usb --target "$DOCK" --purge no --save-first yes
./marvane-cli config show | head -20
./marvane-cli config set DockCfgMaxBumpTimeEdit=45 DockInfoLocationEdit="Demo bay" write --link usb --target "$DOCK"
# The first read's logs were not saved: a second read says so unless told what to do.
./marvane-cli read --link usb --target "$DOCK" --purge no || true
./marvane-cli read --link usb --target "$DOCK" --purge no --save-first yes | tail -1
./marvane-cli config show | grep -E 'DockCfgMaxBumpTimeEdit|DockInfoLocationEdit'
./marvane-cli save-log
./marvane-cli read --link cable --port "$PTY" --purge no | tail -1
./marvane-cli rtc get --link cable --port "$PTY"
