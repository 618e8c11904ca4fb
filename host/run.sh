#!/usr/bin/env bash
# run.sh: builds the Linux plug-in and the reference host when needed, then starts the host on
# this machine's network with the built-in settings (or Peerbeacon.ini where it finds one).
#
#   host/run.sh [HOST OPTIONS...]       e.g. host/run.sh --script commands.txt --machine
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$top/build/release
if [ ! -x "$build/peerbeacon-host" ] || [ ! -f "$build/Peerbeacon.nxl" ]; then
  cmake --preset release -S "$top" >/dev/null
  cmake --build "$build" --target peerbeacon-host Peerbeacon -j"$(nproc)"
fi
exec "$build/peerbeacon-host" --plugin "$build/Peerbeacon.nxl" "$@"
