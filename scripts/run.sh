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

# The demo keeps its settings and staging folders beside the build, so that the
# network settings below (loopback only) never touch the user's own.
DEMO_STATE=${MARVANE_DEMO_STATE:-$PWD/demo-state}
mkdir -p "$DEMO_STATE/tmp"
export TMPDIR="$DEMO_STATE/tmp" XDG_STATE_HOME="$DEMO_STATE"

# The same dock on a USB cable: the simulator serves it on a pseudo-terminal.
SIMOUT=$(mktemp)
NETOUT=$(mktemp)
./docksim/marvane-docksim serve-serial "$DOCK" >"$SIMOUT" 2>&1 &
SIM=$!
# And on the network, at 127.0.0.2: UDP commands, discovery answers, web server.
./docksim/marvane-docksim serve-net "$DOCK" --address 127.0.0.2 --udp-port 0 --tcp-port 0 >"$NETOUT" 2>&1 &
NET=$!
trap 'kill $SIM $NET 2>/dev/null; rm -f "$SIMOUT" "$NETOUT"' EXIT
for _ in 1 2 3 4 5 6 7 8 9 10; do grep -q '^PTY ' "$SIMOUT" && grep -q '^UDP ' "$NETOUT" && break; sleep 0.2; done
PTY=$(awk '/^PTY /{print $2; exit}' "$SIMOUT")
UDP_PORT=$(awk '/^UDP /{print $2; exit}' "$NETOUT")
TCP_PORT=$(awk '/^UDP /{print $4; exit}' "$NETOUT")
# The dock search stays on loopback: one interface, a mask whose broadcast is 127.255.255.255.
# Its saved logs and reports stay beside it too, out of the user's own local store.
mkdir -p "$DEMO_STATE/store"
./marvane-cli settings set NETWORK/Interfaces=127.0.0.1 NETWORK/SubnetMask=255.0.0.0 \
  NETWORK/Port="$UDP_PORT" NETWORK/TcpPort="$TCP_PORT" SET/LogDestination="$DEMO_STATE/store/"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "Simulated dock as a USB drive: $DOCK"
  echo "  USB Disk: press Read; when asked for the dock's drive, choose that folder."
  echo "Simulated dock on a USB cable: $PTY"
  echo "  USB Cable: type $PTY into the port box, then Read, Write, Get RTC, Set RTC ..."
  echo "Simulated dock on the network: 127.0.0.2 (UDP port $UDP_PORT, TCP port $TCP_PORT)"
  echo "  Ethernet: choose it, pick the dock from the list, then Read, Write, Get RTC ..."
  echo "  Service tools and the bay monitor (\"PC Operation\"): README.md, \"Service tools\"."
  echo "  Auto: press it to poll that dock unattended and report; Cancel ends it."
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
./marvane-cli auto --cycles 1 | grep -v '      '
./marvane-cli read --link cable --port "$PTY" --purge no | tail -1
./marvane-cli rtc get --link cable --port "$PTY"
./marvane-cli discover
./marvane-cli read --link udp --address 127.0.0.2 --purge no --save-first yes | tail -1
./marvane-cli read --link tcp --address 127.0.0.2 --purge no --save-first yes | tail -1
