#!/usr/bin/env bash
# demo.sh: three hosts (two Linux, one Windows under Wine) find each other on a virtual LAN.
#
#   tests/demo.sh        (as root, after both builds; see the README)
#
# Uses the Linux build in $PB_LINUX_BUILD (default build/release) and the Windows build in
# $PB_WINDOWS_BUILD (default build/windows, or build/windows64 on a machine that cannot run
# 32-bit programs). Hosts 1 and 2 (198.18.0.11 and .12) run the Linux
# plug-in, host 3 (198.18.0.13) the Windows plug-in under Wine. Each announces itself, waits
# until it lists all three hosts (at most 30 s), passes a memo around, prints its peer list,
# and leaves once the others have printed theirs. The Windows host needs an X display for its
# window; without $DISPLAY the demo runs under xvfb-run.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
linux=${PB_LINUX_BUILD:-$top/build/release}
windows=${PB_WINDOWS_BUILD:-$top/build/windows}
n=3

if [ "${1:-}" != --inside ]; then
  [ "$(id -u)" = 0 ] || { echo "demo.sh: run as root (it builds network namespaces)" >&2; exit 2; }
  # A machine that cannot run 32-bit programs runs the 64-bit Windows build under wine64.
  if [ -z "${PB_WINDOWS_BUILD:-}" ] && ! sh "$top/tests/can_run_32bit.sh"; then
    windows=$top/build/windows64
    export PB_WINDOWS_BUILD=$windows
    echo "this machine cannot run 32-bit programs: the Windows host is the 64-bit build"
  fi
  for f in "$linux/peerbeacon-host" "$linux/Peerbeacon.nxl" \
           "$windows/peerbeacon-host.exe" "$windows/Peerbeacon.nxl"; do
    [ -f "$f" ] || { echo "demo.sh: $f is missing; build both targets first" >&2; exit 2; }
  done
  PB_WINE=$("$top/tests/wine_loader.sh" "$windows") || exit 2
  export PB_WINE
  # Every Windows host copies this prepared prefix; the build's test fixture makes it.
  export PB_WINE_TEMPLATE=${PB_WINE_TEMPLATE:-$windows/wineprefix}
  if [ ! -f "$PB_WINE_TEMPLATE/system.reg" ]; then
    echo "preparing the Wine prefix $PB_WINE_TEMPLATE ..."
    WINEPREFIX=$PB_WINE_TEMPLATE sh "$windows/wine-prefix-setup.sh" >/dev/null
    WINEPREFIX=$PB_WINE_TEMPLATE sh "$windows/wine-prefix-cleanup.sh" >/dev/null
  fi
  # --foreground keeps timeout in this process group, so that an interrupt from the terminal
  # reaches vlan.sh, which then removes the LAN with everything still running in it.
  run=(timeout --foreground -k 5 120 "$top/tests/vlan.sh" with "$n" -- "$0" --inside)
  if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" "${run[@]}"
  fi
  exec "${run[@]}"
fi

# Inside the LAN: hosts 1..n are namespaces $PB_NS_1..$PB_NS_n. Each host waits for the
# others, passes a memo on to the next host around the ring, waits for the one coming to it,
# prints its peer list, tells every other host that it has listed them, and leaves once all
# of them have told it the same (leaving earlier would take it off a list still to be shown).
make_script() {
  local i=$1 next=$(( $1 % n + 1 )) j
  local to_var=PB_ADDR_$next
  {
    printf '%s\n' "wait-peers $n 30" "send @${!to_var} \"memo from host $i to host $next\"" \
      "wait-memos 1 30" peers
    for j in $(seq 1 "$n"); do
      local other_var=PB_ADDR_$j
      [ "$j" = "$i" ] || printf '%s\n' "send @${!other_var} \"host $i has listed its peers\""
    done
    printf '%s\n' "wait-memos $n 30" quit
  } > "$PB_VLAN_DIR/h$i/commands.txt"
}

# Each host runs its own copies of the program and the module from a folder of its own, beside
# its own settings file: start-up reads the settings file beside the program before any
# other, so one left beside a build's program (the settings dialog saves one there) stays out.
start_host() {
  local i=$1 kind=$2
  local dir=$PB_VLAN_DIR/h$i log=$PB_VLAN_DIR/host$i.log
  mkdir -p "$dir"
  printf '[%s]\r\nNickname=host%s\r\n' "$(id -un)" "$i" > "$dir/Peerbeacon.ini"
  make_script "$i"
  local options=(--script "$dir/commands.txt")
  local rc=0
  if [ "$kind" = Linux ]; then
    cp "$linux/peerbeacon-host" "$linux/Peerbeacon.nxl" "$dir/"
    (cd "$dir" && "$PB_VLAN_SH" exec "$i" timeout -k 5 90 "$dir/peerbeacon-host" "${options[@]}" \
      --plugin "$dir/Peerbeacon.nxl" </dev/null >"$log" 2>&1) || rc=$?
  else
    cp "$windows/peerbeacon-host.exe" "$windows/Peerbeacon.nxl" "$dir/"
    (cd "$dir" && timeout -k 5 90 "$PB_VLAN_SH" wine "$i" \
      "$dir/peerbeacon-host.exe" "${options[@]}" --plugin "$dir/Peerbeacon.nxl" \
      </dev/null >"$log" 2>&1) || rc=$?
  fi
  echo "$rc" > "$PB_VLAN_DIR/host$i.rc"
}

kinds=(Linux Linux Windows)
# Ended early (vlan.sh passes an interrupt on as TERM), the host starters stop too; vlan.sh
# ends the hosts themselves when it removes the LAN.
stop_starters() {
  local running
  running=$(jobs -pr)
  [ -z "$running" ] || kill -TERM $running 2>/dev/null || true
}
trap stop_starters EXIT
echo "virtual LAN $PB_VLAN: starting $n hosts"
for i in $(seq 1 "$n"); do
  start_host "$i" "${kinds[$((i - 1))]}" &
done
wait

status=0
for i in $(seq 1 "$n"); do
  addr_var=PB_ADDR_$i
  echo
  echo "== host $i (${kinds[$((i - 1))]}, ${!addr_var}), exit status $(cat "$PB_VLAN_DIR/host$i.rc")"
  # Wine's own diagnostics are noise here.
  grep -v -e '^[0-9a-f]*:err:' -e '^[0-9a-f]*:fixme:' "$PB_VLAN_DIR/host$i.log" || true
  [ "$(cat "$PB_VLAN_DIR/host$i.rc")" = 0 ] || status=1
done
exit "$status"
