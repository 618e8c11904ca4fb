#!/usr/bin/env bash
# run-all.sh: installs what a fresh Debian 12 machine lacks, builds both targets and runs every
# test inside an isolated network namespace. Run as root from the repository's top folder.
#
#   tests/run-all.sh            everything: the native, ASan+UBSan, TSan and Windows (under Wine)
#                               builds with their tests, then short fuzz runs of every target
#                               and the benchmark suite in its small configuration
#   PB_CONFIGS="release" tests/run-all.sh    only the named parts (release asan tsan windows
#                               windows64 fuzz bench)
#
# On a machine that cannot run 32-bit programs (tests/can_run_32bit.sh), "windows" builds the
# 32-bit product without running its tests, and the 64-bit build (windows64) runs them under
# wine64 instead; the mixed virtual-LAN test then uses that build's host and module.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
configs=${PB_CONFIGS:-release asan tsan windows fuzz bench}
builds=()
for c in $configs; do
  case $c in release | asan | tsan | windows | windows64 | debug) builds+=("$c") ;; esac
done

log() { printf '\n== %s\n' "$*"; }

# A kernel without IA-32 emulation runs no 32-bit program, so no 32-bit Wine. There the 32-bit
# Windows build (the product) is still built and its exports checked, and the Windows tests run
# on the 64-bit build of the same code under wine64.
can_run_32bit=yes
tests/can_run_32bit.sh || can_run_32bit=no
win64_stands_in=no
if [ $can_run_32bit = no ] && [[ " ${builds[*]} " == *" windows "* ]]; then
  win64_stands_in=yes
  [[ " ${builds[*]} " == *" windows64 "* ]] || builds+=(windows64)
fi

install_packages() {
  # dpkg-dev and file make the Debian package (dpkg-shlibdeps); groff-base checks the manual page.
  local want=(cmake make g++ pkg-config libgtest-dev libbenchmark-dev iproute2 procps
              g++-mingw-w64-i686-posix binutils-mingw-w64-i686 wine xvfb xauth
              xdotool fonts-ipafont-gothic gnuplot-nox clang libclang-rt-14-dev python3
              dpkg-dev file groff-base libedit-dev)
  # 32-bit Wine only where it can run; the 64-bit Windows build needs its cross compiler and
  # wine64 (which "wine" does not pick while 32-bit Wine is installed).
  if [ $can_run_32bit = yes ]; then want+=(wine32:i386); fi
  if [[ " ${builds[*]} " == *" windows64 "* ]]; then want+=(g++-mingw-w64-x86-64-posix wine64); fi
  local missing=()
  for p in "${want[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    log "installing ${missing[*]}"
    if [ $can_run_32bit = yes ]; then
      dpkg --print-foreign-architectures | grep -q i386 || dpkg --add-architecture i386
    fi
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
# Removes namespace $1 and its /etc/netns entries.
remove_namespace() {
  ip netns del "$1" 2>/dev/null || true
  rm -rf "/etc/netns/$1"
}
make_namespace() {
  for old in $(ip netns list | awk '/^pbtest[0-9]+/{print $1}'); do
    kill -0 "${old#pbtest}" 2>/dev/null || remove_namespace "$old"
  done
  ip netns add "$ns"
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
  # The 32-bit product's own tests need 32-bit Wine; where the 64-bit build stands in, this
  # build only serves the export check that the native builds run.
  if [ "$preset" = windows ] && [ $win64_stands_in = yes ]; then return 0; fi
  log "testing $preset"
  local runner=(ctest --preset "$preset" --no-tests=error)
  local rc=0
  if [ "$preset" = windows ] || [ "$preset" = windows64 ]; then
    ip netns exec "$ns" xvfb-run -a -s "-screen 0 1024x768x24" "${runner[@]}" | tee -a "$summary" ||
      rc=1
  else
    ip netns exec "$ns" "${runner[@]}" -j2 | tee -a "$summary" || rc=1
  fi
  return $rc
}

# The totals of every ctest run, as one closing line.
summary=$(mktemp)
trap 'remove_namespace "$ns"; rm -f "$summary"' EXIT
report_totals() {
  local passed=0 failed=0 p f
  while read -r p f; do
    passed=$((passed + p))
    failed=$((failed + f))
  done < <(sed -nE 's/^[0-9]+% tests passed, ([0-9]+) tests failed out of ([0-9]+)$/\2 \1/p' "$summary" |
           awk '{print $1 - $2, $2}')
  echo "tests: $passed passed, $failed failed"
}

install_packages
if [ $win64_stands_in = yes ]; then
  log "this machine cannot run 32-bit programs: the Windows tests run on the 64-bit build under wine64"
fi
# The Windows builds first: the native builds' mixed virtual-LAN test runs beside them.
ordered=()
for c in "${builds[@]}"; do
  case $c in windows | windows64) ordered=("$c" "${ordered[@]}") ;; *) ordered+=("$c") ;; esac
done
for c in "${ordered[@]}"; do build "$c"; done
make_namespace
status=0
for c in "${builds[@]}"; do run_tests "$c" || status=1; done
remove_namespace "$ns"
if [[ " $configs " == *" fuzz "* ]]; then
  # Every fuzz target for a short while; each run makes a namespace of its own.
  log "fuzzing every target for 30 s"
  PB_FUZZ_JOBS=2 fuzz/run.sh 30 || status=1
fi
if [[ " $configs " == *" bench "* ]]; then
  # Only that the suite runs and its figures come out: no speed is checked.
  log "benchmarks, small configuration"
  bench_build=build/bench
  [[ " ${builds[*]} " == *" release "* ]] && bench_build=build/release
  bench/run.sh --quick --build "$bench_build" || status=1
fi
if [ "$status" = 0 ]; then log "all passed"; else log "FAILED"; fi
report_totals
exit $status
