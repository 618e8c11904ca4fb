#!/usr/bin/env bash
# system_stray_settings.sh: a Peerbeacon.ini beside the build's host program (the settings
# dialog saves one there) must not change a virtual-LAN scenario: every host reads its own.
#
#   system_stray_settings.sh SCENARIO LINUX_BUILD_DIR
#
# Runs system_lan.sh SCENARIO on a copy of the Linux build's program and module with a
# settings file beside them that names another port, domain, nickname and group. Exit 0:
# passed; 77: skipped (not root, or no iproute2); anything else: failed.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
[ $# -eq 2 ] || { echo "usage: $0 SCENARIO LINUX_BUILD_DIR" >&2; exit 2; }
if [ "$(id -u)" != 0 ] || ! command -v ip >/dev/null; then
  echo "skipped: needs root and iproute2"
  exit 77
fi
build=$(mktemp -d "${TMPDIR:-/tmp}/pb-stray.XXXXXX")
trap 'rm -rf "$build"' EXIT
cp "$2/peerbeacon-host" "$2/Peerbeacon.nxl" "$build/"
{
  printf '[%s]\r\n' "$(id -un)"
  printf 'McstPort=7130\r\nDomainKeyLw=5\r\nNickname=stray\r\nGroup=Stray\r\n'
} > "$build/Peerbeacon.ini"
bash "$here/system_lan.sh" "$1" "$build"
