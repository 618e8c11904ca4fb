#!/usr/bin/env bash
# vlan.sh: a virtual LAN of network namespaces on one bridge, for tests and the demo (root only).
#
#   vlan.sh with N -- CMD [ARG...]
#       Builds a LAN of N hosts owned by this process, runs CMD, and removes the LAN when CMD
#       ends, fails or is interrupted. Exit status: CMD's. CMD sees:
#         PB_VLAN=pbv<pid>  PB_VLAN_N=N  PB_VLAN_DIR=<scratch dir, removed afterwards>
#         PB_VLAN_SH=<this script>  PB_NS_<i>=pbv<pid>-<i>  PB_ADDR_<i>=198.18.0.<10+i>
#       for i = 1..N. Inside CMD, "$PB_VLAN_SH" exec/wine address hosts by number.
#   vlan.sh up N [OWNER]  builds a LAN owned by process OWNER (default: the calling shell)
#                         and prints the variables above as export lines; from a shell:
#                         eval "$(tests/vlan.sh up 3 $$)"   ...   tests/vlan.sh down $$
#   vlan.sh down [OWNER]  removes the LAN of the calling shell (or of process OWNER)
#   vlan.sh exec I CMD [ARG...]
#                         runs CMD in host I of the LAN named by $PB_VLAN (default: the
#                         calling shell's)
#   vlan.sh wine I PROGRAM [ARG...]
#                         runs a Windows program under Wine in host I. Each host gets a Wine
#                         prefix of its own ($PB_VLAN_DIR/wine-I), copied from the prepared
#                         prefix $PB_WINE_TEMPLATE (or made with wineboot when that is unset),
#                         because a wineserver serves sockets only in the namespace it was
#                         started in. The servers are stopped when the LAN is removed.
#                         $PB_WINE names the Wine loader (default "wine"; wine64 for a
#                         64-bit build, see wine_loader.sh).
#   vlan.sh clean         removes LANs whose owner process is gone
#
# Host i has the address 198.18.0.<10+i>/24 on its interface lan0 and no uplink, so nothing
# leaves the machine. Two details matter for multicast:
# - the bridge does no IGMP snooping: there is no querier on this LAN, and a snooping bridge
#   would stop forwarding the group after its membership timer ran out;
# - the multicast route and the default route differ (proto static / metric 100). Identical
#   ones share a next hop, whose cached unicast output route would later carry multicast
#   sends with TTL 64 and no loopback, so an instance would stop hearing itself.
# Each namespace also gets its own hosts file (the machine's name resolves to the namespace's
# address instead of loopback) and a resolv.conf pointing at its own loopback, so that name
# look-ups never wait for a server that is not there.
set -euo pipefail

readonly SELF="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/$(basename "${BASH_SOURCE[0]}")"
readonly STATE_ROOT=/run/pb-vlan
readonly MAX_HOSTS=200

die() {
  echo "vlan.sh: $*" >&2
  exit 2
}

address_of() { echo "198.18.0.$((10 + $1))"; }

# Removes every trace of the LAN owned by process $1: Wine servers, processes left in its hosts,
# namespaces, links, /etc/netns entries and the scratch directory. Safe to call on a half-built
# LAN.
remove_lan() {
  local owner=$1 lan=pbv$1 dir=$STATE_ROOT/pbv$1 ns prefix link
  if [ -d "$dir" ]; then
    for prefix in "$dir"/wine-*; do
      [ -d "$prefix" ] || continue
      WINEPREFIX=$prefix wineserver -k </dev/null >/dev/null 2>&1 || true
    done
  fi
  for ns in $(ip netns list 2>/dev/null | awk -v p="^$lan-[0-9]+$" '$1 ~ p {print $1}'); do
    # A deleted namespace lives on while a process runs in it: end whatever a host left running.
    ip netns pids "$ns" 2>/dev/null | xargs -r kill -KILL 2>/dev/null || true
    ip netns del "$ns" 2>/dev/null || true
    rm -rf "/etc/netns/$ns"
  done
  rm -rf /etc/netns/"$lan"-* 2>/dev/null || true
  for link in $(ip -o link show 2>/dev/null |
                awk -F': ' -v p="^(pbv${owner}b[0-9]+|pbbr${owner})(@|$)" '$2 ~ p {print $2}'); do
    ip link del "${link%%@*}" 2>/dev/null || true
  done
  rm -rf "$dir"
}

# Removes LANs whose owner process no longer exists.
clean_leftovers() {
  local owners owner
  owners=$( {
    ip netns list 2>/dev/null | awk '{print $1}' | sed -n 's/^pbv\([0-9][0-9]*\)-[0-9][0-9]*$/\1/p'
    ip -o link show 2>/dev/null | awk -F': ' '{print $2}' |
      sed -n 's/^pbbr\([0-9][0-9]*\)\(@.*\)\{0,1\}$/\1/p; s/^pbv\([0-9][0-9]*\)b[0-9][0-9]*\(@.*\)\{0,1\}$/\1/p'
    ls "$STATE_ROOT" 2>/dev/null | sed -n 's/^pbv\([0-9][0-9]*\)$/\1/p'
    ls /etc/netns 2>/dev/null | sed -n 's/^pbv\([0-9][0-9]*\)-[0-9][0-9]*$/\1/p'
  } | sort -u) || true
  for owner in $owners; do
    kill -0 "$owner" 2>/dev/null || remove_lan "$owner"
  done
}

# Builds the LAN of process $1 with $2 hosts.
build_lan() {
  local owner=$1 n=$2 lan=pbv$1 bridge=pbbr$1 i ns inner outer addr
  mkdir -p "$STATE_ROOT/$lan"
  echo "$n" > "$STATE_ROOT/$lan/hosts"
  # Through netlink rather than /sys, which may show another namespace's devices.
  ip link add "$bridge" type bridge mcast_snooping 0
  ip link set "$bridge" up
  for i in $(seq 1 "$n"); do
    ns=$lan-$i inner=pbv${owner}i$i outer=pbv${owner}b$i addr=$(address_of "$i")
    ip netns add "$ns"
    ip link add "$inner" type veth peer name "$outer"
    ip link set "$outer" master "$bridge" up
    ip link set "$inner" netns "$ns"
    ip -n "$ns" link set "$inner" name lan0
    ip -n "$ns" addr add "$addr/24" dev lan0
    ip -n "$ns" link set lo up
    ip -n "$ns" link set lan0 up
    ip -n "$ns" route add 224.0.0.0/4 dev lan0 proto static
    ip -n "$ns" route add default dev lan0 metric 100
    mkdir -p "/etc/netns/$ns"
    printf '%s %s\n127.0.0.1 localhost\n' "$addr" "$(hostname)" > "/etc/netns/$ns/hosts"
    echo "nameserver 127.0.0.1" > "/etc/netns/$ns/resolv.conf"
  done
}

print_exports() {
  local owner=$1 n=$2 i
  echo "export PB_VLAN=pbv$owner PB_VLAN_N=$n PB_VLAN_DIR=$STATE_ROOT/pbv$owner PB_VLAN_SH=$SELF"
  for i in $(seq 1 "$n"); do
    echo "export PB_NS_$i=pbv$owner-$i PB_ADDR_$i=$(address_of "$i")"
  done
}

check_count() {
  [[ "$1" =~ ^[0-9]+$ ]] && [ "$1" -ge 1 ] && [ "$1" -le "$MAX_HOSTS" ] ||
    die "host count must be 1..$MAX_HOSTS, not '$1'"
}

# The namespace of host $1 in the current LAN.
namespace_of() {
  local lan=${PB_VLAN:-pbv$PPID}
  [[ "$1" =~ ^[0-9]+$ ]] || die "bad host number '$1'"
  ip netns list | awk '{print $1}' | grep -qx "$lan-$1" || die "no host $1 in LAN $lan"
  echo "$lan-$1"
}

[ "$(id -u)" = 0 ] || die "needs root (network namespaces)"
[ $# -ge 1 ] || die "usage: vlan.sh with N -- CMD... | up N | down [OWNER] | exec I CMD... | wine I PROGRAM... | clean"

command=$1
shift
case "$command" in
  with)
    [ $# -ge 3 ] && [ "$2" = "--" ] || die "usage: vlan.sh with N -- CMD [ARG...]"
    check_count "$1"
    n=$1
    shift 2
    clean_leftovers
    trap 'remove_lan $$' EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    build_lan $$ "$n"
    eval "$(print_exports $$ "$n")"
    # Not exec: this shell stays to remove the LAN. The command runs in the background (with
    # this shell's standard input, not /dev/null) so that a signal to this shell is handled at
    # once; it is passed on before the clean-up.
    "$@" 0<&0 &
    child=$!
    trap 'kill -TERM $child 2>/dev/null; wait $child 2>/dev/null || true; exit 130' INT
    trap 'kill -TERM $child 2>/dev/null; wait $child 2>/dev/null || true; exit 143' TERM
    status=0
    wait "$child" || status=$?
    exit "$status"
    ;;
  up)
    [ $# -ge 1 ] && [ $# -le 2 ] || die "usage: vlan.sh up N [OWNER]"
    check_count "$1"
    owner=${2:-$PPID}
    [[ "$owner" =~ ^[0-9]+$ ]] && kill -0 "$owner" 2>/dev/null || die "no owner process '$owner'"
    clean_leftovers
    [ ! -d "$STATE_ROOT/pbv$owner" ] || die "the calling shell already has LAN pbv$owner"
    trap 'remove_lan $owner; exit 1' ERR INT TERM
    build_lan "$owner" "$1"
    trap - ERR INT TERM
    print_exports "$owner" "$1"
    ;;
  down)
    owner=${1:-$PPID}
    [[ "$owner" =~ ^[0-9]+$ ]] || die "bad owner '$owner'"
    remove_lan "$owner"
    ;;
  exec)
    [ $# -ge 2 ] || die "usage: vlan.sh exec I CMD [ARG...]"
    ns=$(namespace_of "$1")
    shift
    exec ip netns exec "$ns" "$@"
    ;;
  wine)
    [ $# -ge 2 ] || die "usage: vlan.sh wine I PROGRAM [ARG...]"
    ns=$(namespace_of "$1")
    host=$1
    shift
    dir=${PB_VLAN_DIR:-$STATE_ROOT/${PB_VLAN:-pbv$PPID}}
    prefix=$dir/wine-$host
    export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:-fixme-all}
    export WINEDLLOVERRIDES="mscoree,mshtml="
    if [ ! -f "$prefix/system.reg" ]; then
      mkdir -p "$dir"
      if [ -n "${PB_WINE_TEMPLATE:-}" ]; then
        [ -f "$PB_WINE_TEMPLATE/system.reg" ] || die "no Wine prefix at $PB_WINE_TEMPLATE"
        cp -a "$PB_WINE_TEMPLATE" "$prefix"
      else
        ip netns exec "$ns" "${PB_WINE:-wine}" wineboot -i </dev/null >/dev/null 2>&1 ||
          die "wineboot failed"
      fi
    fi
    exec ip netns exec "$ns" "${PB_WINE:-wine}" "$@"
    ;;
  clean)
    clean_leftovers
    ;;
  *)
    die "unknown command '$command'"
    ;;
esac
