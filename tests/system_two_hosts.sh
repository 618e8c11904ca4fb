#!/usr/bin/env bash
# system_two_hosts.sh: two Linux hosts on a virtual LAN load the plug-in, start and find each other.
#
#   system_two_hosts.sh HOST_PROGRAM PLUGIN_FILE
#
# Runs peerbeacon-host --machine in two namespaces of a fresh virtual LAN (vlan.sh) at the same
# time and checks their output. Exit 0: passed; 77: skipped (not root, or no iproute2);
# anything else: failed, with the reasons and both hosts' output on standard error.
set -euo pipefail

# Presence (announce, hear, answer, list) is checked: each host must list both hosts. Set to 0
# to check only loading, start-up and shutdown.
CHECK_PRESENCE=1

here=$(cd "$(dirname "$0")" && pwd)

if [ "${1:-}" != --inside ]; then
  [ $# -eq 2 ] || { echo "usage: $0 HOST_PROGRAM PLUGIN_FILE" >&2; exit 2; }
  if [ "$(id -u)" != 0 ] || ! command -v ip >/dev/null; then
    echo "skipped: needs root and iproute2 for network namespaces"
    exit 77
  fi
  exec timeout -k 5 100 "$here/vlan.sh" with 2 -- "$0" --inside "$1" "$2"
fi

host_program=$2
plugin=$3
n=2
# Each host runs its own copy of the program and the module from a folder of its own, beside
# a settings file of its own: start-up reads the file beside the program before any other, so
# one that the settings dialog left beside the build's program cannot change the outcome.
pids=()
for i in $(seq 1 "$n"); do
  dir=$PB_VLAN_DIR/h$i
  mkdir -p "$dir"
  cp "$host_program" "$dir/peerbeacon-host"
  cp "$plugin" "$dir/Peerbeacon.nxl"
  printf '[%s]\r\nNickname=host%s\r\n' "$(id -un)" "$i" > "$dir/Peerbeacon.ini"
  other_var=PB_ADDR_$((3 - i))
  {
    echo status
    if [ "$CHECK_PRESENCE" = 1 ]; then
      echo "wait-peers $n 20"
      echo peers
      # Stay until the other host has listed us too (quitting announces the exit): each tells
      # the other by a memo once it has listed its peers.
      echo "send @${!other_var} listed"
      echo "wait-memos 1 20"
    fi
    echo quit
  } > "$dir/commands.txt"
  "$PB_VLAN_SH" exec "$i" sh -c 'cd "$1" && timeout -k 5 60 ./peerbeacon-host --machine \
      --plugin "$1/Peerbeacon.nxl" --script commands.txt </dev/null >"../host$2.out" 2>"../host$2.err"
      echo $? >"../host$2.rc"' sh "$dir" "$i" &
  pids+=($!)
done
wait "${pids[@]}" || true

failures=0
fail() {
  echo "host $1: $2" >&2
  failures=$((failures + 1))
}
for i in $(seq 1 "$n"); do
  out=$PB_VLAN_DIR/host$i.out
  rc=$(cat "$PB_VLAN_DIR/host$i.rc" 2>/dev/null || echo none)
  [ "$rc" = 0 ] || fail "$i" "exit status $rc"
  grep -q '^LOADED path=' "$out" || fail "$i" "no LOADED line: the plug-in did not load"
  grep -qx 'INIT 1' "$out" || fail "$i" "InitializeNetEx did not return 1"
  grep -q '^STATUS [0-9]* running=1 ' "$out" || fail "$i" "GetNxlStatus does not report running"
  grep -qx 'UNINIT 1' "$out" || fail "$i" "UnInitializeNetEx did not return 1"
  if [ "$CHECK_PRESENCE" = 1 ]; then
    grep -qx 'STATUS 7 running=1 listening=1 presence=1' "$out" ||
      fail "$i" "the memo listener or the presence receiver is not ready"
    grep -q '^WAITED peers=2 ' "$out" || fail "$i" "did not list both hosts in time"
    grep -qx "PEERS count=$n" "$out" || fail "$i" "peers does not list exactly $n hosts"
    for j in $(seq 1 "$n"); do
      addr_var=PB_ADDR_$j
      addr=${!addr_var}
      grep -Eq "^PEER index=[0-9]+ addr=$addr port=7129 status=1 name=\"[^\"]* \\($addr\\)\" " \
        "$out" || fail "$i" "host $j ($addr) is not listed as present with its display name"
    done
  fi
done

if [ "$failures" -gt 0 ]; then
  for i in $(seq 1 "$n"); do
    echo "---- host $i output" >&2
    cat "$PB_VLAN_DIR/host$i.out" "$PB_VLAN_DIR/host$i.err" >&2 || true
  done
  echo "FAILED: $failures check(s)" >&2
  exit 1
fi
echo "passed: $n hosts started$([ "$CHECK_PRESENCE" = 1 ] && echo ' and listed each other')"
