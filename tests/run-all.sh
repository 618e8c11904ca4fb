#!/usr/bin/env bash
# run-all.sh: installs what a fresh Debian 12 machine lacks, builds both targets and runs every
# test inside an isolated network namespace. Run as root from the repository's top folder.
#
#   tests/run-all.sh            everything (native, ASan+UBSan, TSan, Windows under Wine)
#   PB_CONFIGS="release" tests/run-all.sh    only the named configurations
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
configs=${PB_CONFIGS:-release asan tsan windows}

log() { printf '\n== %s\n' "$*"; }

install_packages() {
  local want=(cmake make g++ pkg-config libgtest-dev libbenchmark-dev iproute2 procps
              g++-mingw-w64-i686-posix binutils-mingw-w64-i686 wine wine32:i386 xvfb xauth
              xdotool fonts-ipafont-gothic gnuplot-nox clang libclang-rt-14-dev python3)
  local missing=()
  for p in "${want[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    log "installing ${missing[*]}"
    dpkg --print-foreign-architectures | grep -q i386 || dpkg --add-architecture i386
    apt-get update -q
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
  fi
}

build() {
  local preset=$1
  log "building $preset"
  cmake --preset "$preset" -DPB_STRICT=ON >/dev/null
  cmake --build --preset "$preset" -j"$(nproc)"
}

# One namespace for the whole run: loopback plus a veth pair whose ends both stay inside, so
# multicast loops back as on a LAN of one and nothing reaches the machine's own interfaces.
ns=pbtest$$
cleanup() { ip netns del "$ns" 2>/dev/null || true; }
make_namespace() {
  for old in $(ip netns list | awk '/^pbtest[0-9]+/{print $1}'); do
    kill -0 "${old#pbtest}" 2>/dev/null || ip netns del "$old" 2>/dev/null || true
  done
  ip netns add "$ns"
  trap cleanup EXIT
  ip -n "$ns" link set lo up
  ip -n "$ns" link add va type veth peer name vb
  ip -n "$ns" link set va up
  ip -n "$ns" link set vb up
  ip -n "$ns" addr add 198.18.200.1/24 dev va
  ip -n "$ns" route add 224.0.0.0/4 dev va proto static
  ip -n "$ns" route add default dev va metric 100
  mkdir -p "/etc/netns/$ns"
  echo "198.18.200.1 $(hostname)" > "/etc/netns/$ns/hosts"
  echo "127.0.0.1 localhost" >> "/etc/netns/$ns/hosts"
  echo "nameserver 127.0.0.1" > "/etc/netns/$ns/resolv.conf"
}

run_tests() {
  local preset=$1
  log "testing $preset"
  local runner=(ctest --preset "$preset" --no-tests=error)
  if [ "$preset" = windows ]; then
    ip netns exec "$ns" xvfb-run -a -s "-screen 0 1024x768x24" "${runner[@]}"
  else
    ip netns exec "$ns" "${runner[@]}" -j2
  fi
}

install_packages
for c in $configs; do build "$c"; done
make_namespace
status=0
for c in $configs; do run_tests "$c" || status=1; done
rm -rf "/etc/netns/$ns"
exit $status
