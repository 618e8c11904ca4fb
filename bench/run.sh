#!/usr/bin/env bash
# run.sh: the benchmark suite: builds the drivers, runs every figure against its baseline on a
# virtual LAN of its own and gathers their result lines; bench/report.py turns those into the
# table, bench/out/results.json and bench/out/scaling.png.
#
#   bench/run.sh [--quick] [--build DIR] [--out DIR] [--no-build]
#
#   --quick     a small configuration (fewer and smaller runs) that only shows the suite works
#   --build     the build directory (default build/bench, configured as Release if missing)
#   --out       where results.json, scaling.png, table.txt, the raw result lines (results.txt)
#               and the drivers' logs go (default bench/out)
#   --no-build  use the drivers already in the build directory
#
# Needs root and iproute2 (network namespaces), like the system tests. Every plug-in instance,
# baseline and flood runs inside namespaces that tests/vlan.sh builds and removes; nothing is
# sent on the machine's own interfaces. Every figure is a median over repeated runs, and every
# comparison divides by a baseline measured in the same run over the same path. Nothing here
# asserts a speed: the exit status says only whether the suite ran. Interrupted, it stops every
# part it started and removes their LANs and its scratch folder.
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
self=$top/bench/run.sh

# ---------------------------------------------------------------- shared helpers

# Appends the "R key value" lines of a driver's output to the results file.
collect() { grep '^R ' "$1" >> "$2" || true; }

# Waits up to $2 seconds for file $1.
wait_for() {
  local i
  for ((i = 0; i < $2 * 100; i++)); do
    [ -e "$1" ] && return 0
    sleep 0.01
  done
  echo "run.sh: timed out waiting for $1" >&2
  return 1
}

# Records that a part of the suite failed (it still runs the rest); the exit status shows it.
note_failure() {
  echo "run.sh: $2" >&2
  echo "F $2" >> "$1"
}

# Runs of one presence flood: in each of RUNS runs a receiver of each side starts on host 2
# (which side goes first alternates) and host 1 floods it; their result lines become samples.
#   presence_runs BIN WORK RESULTS RUNS NAME "RECEIVER OPTIONS" "FLOOD OPTIONS"
# Each options string is split on spaces.
presence_runs() {
  local bin=$1 work=$2 results=$3 runs=$4 name=$5 receiver_options=$6 flood_options=$7
  local run side order rdir receiver
  for ((run = 1; run <= runs; run++)); do
    order="plugin plain"
    [ $((run % 2)) = 0 ] && order="plain plugin"
    for side in $order; do
      rdir=$work/$name-$run-$side
      mkdir -p "$rdir"
      # shellcheck disable=SC2086 # the options are meant to split
      "$PB_VLAN_SH" exec 2 "$bin/presence_bench" "$side" --dir "$rdir" --ifaddr "$PB_ADDR_2" \
        $receiver_options >"$rdir/receiver.out" 2>&1 &
      receiver=$!
      if wait_for "$rdir/receiver.ready" 10; then
        # shellcheck disable=SC2086
        "$PB_VLAN_SH" exec 1 "$bin/presence_bench" flood --dir "$rdir" $flood_options \
          >"$rdir/flood.out" 2>&1 || note_failure "$results" "$name flood failed"
      fi
      wait "$receiver" || note_failure "$results" "$name receiver ($side) failed"
      grep '^R ' "$rdir/receiver.out" "$rdir/flood.out" 2>/dev/null | grep -v ' resources\.' |
        sed 's/^[^:]*:R /S /' >> "$results"
    done
  done
}

# ---------------------------------------------------------------- inside the LANs

# Two hosts: memo figures (host 1 sends to host 2), the presence flood (host 1 floods host 2)
# and the host read (host 1 alone).
lan_two() {
  local bin=$1 work=$2 results=$3 quick=$4
  local runs=9 sizes=1,16,64 latency=1000 concurrent=2000 conc_runs=5 flood=10000 rate=20000
  if [ "$quick" = 1 ]; then
    runs=3 sizes=1,16 latency=200 concurrent=400 conc_runs=1 flood=2000 rate=20000
  fi
  # The sender closes every memo connection first; let its TIME_WAIT ports be reused so a
  # long run never runs out of them (the same for the plug-in and the plain client).
  "$PB_VLAN_SH" exec 1 sysctl -qw net.ipv4.tcp_tw_reuse=1 'net.ipv4.ip_local_port_range=10000 65000'

  echo "  memo: throughput, latency, concurrency" >&2
  "$PB_VLAN_SH" exec 2 "$bin/memo_bench" serve --max-seconds 400 >"$work/memo_serve.out" 2>&1 &
  local serve=$! i
  for ((i = 0; i < 1000; i++)); do
    grep -q '^READY' "$work/memo_serve.out" 2>/dev/null && break
    sleep 0.01
  done
  "$PB_VLAN_SH" exec 1 "$bin/memo_bench" send --target "$PB_ADDR_2" --runs "$runs" \
    --sizes "$sizes" --latency-count "$latency" --threads 8,32 \
    --concurrent-total "$concurrent" --concurrent-runs "$conc_runs" \
    >"$work/memo_send.out" 2>&1 || note_failure "$results" "memo sender failed"
  wait "$serve" || note_failure "$results" "memo receiver failed"
  collect "$work/memo_send.out" "$results"
  collect "$work/memo_serve.out" "$results"

  # A memo to every peer: host 2 answers on $fan_peers addresses of its own (198.18.1.1 up),
  # which host 1 reaches on the LAN as it reaches host 2's own.
  local fan_peers=100 fan_runs=9
  [ "$quick" = 1 ] && fan_runs=3
  echo "  memo: one memo to each of $fan_peers peers, $fan_runs runs" >&2
  for ((i = 1; i <= fan_peers; i++)); do echo "addr add 198.18.1.$i/32 dev lan0"; done \
    >"$work/fan_addresses"
  "$PB_VLAN_SH" exec 2 ip -batch "$work/fan_addresses"
  "$PB_VLAN_SH" exec 2 "$bin/memo_bench" serve-peers --first-peer 198.18.1.1 \
    --peers "$fan_peers" --max-seconds 200 >"$work/fan_serve.out" 2>&1 &
  serve=$!
  for ((i = 0; i < 1000; i++)); do
    grep -q '^READY' "$work/fan_serve.out" 2>/dev/null && break
    sleep 0.01
  done
  "$PB_VLAN_SH" exec 1 "$bin/memo_bench" fanout --first-peer 198.18.1.1 --peers "$fan_peers" \
    --runs "$fan_runs" --threads 8 >"$work/fan_send.out" 2>&1 ||
    note_failure "$results" "memo fan-out sender failed"
  wait "$serve" || note_failure "$results" "memo fan-out receivers failed"
  collect "$work/fan_send.out" "$results"
  collect "$work/fan_serve.out" "$results"

  echo "  presence: $flood updates at $rate/s, $runs runs each side" >&2
  presence_runs "$bin" "$work" "$results" "$runs" presence \
    "--expect $flood --max-seconds 60" "--count $flood --rate $rate"

  # Saturation: more than either receiver can store, from $sat_senders sender threads and a
  # new source address for every datagram; the rate is how fast each table grows while the
  # flood lasts (the window leaves out its first and last moments).
  local sat_runs=5 sat_seconds=2 sat_window=400,1800 sat_senders=2 sat_cap=16000000
  [ "$quick" = 1 ] && sat_runs=2 sat_seconds=1 sat_window=200,900
  echo "  presence at saturation: $sat_senders senders for $sat_seconds s, $sat_runs runs each side" >&2
  presence_runs "$bin" "$work" "$results" "$sat_runs" saturation \
    "--expect $sat_cap --prefix presence.saturation --window-ms $sat_window --idle-ms 300 --max-seconds 60" \
    "--count $sat_cap --rate 0 --senders $sat_senders --seconds $sat_seconds --first-source 10.0.0.1 --prefix presence.saturation"

  local rdir receiver
  # The memory of an instance that holds every peer of the flood: sent gently, so none is lost.
  echo "  resources: an instance holding $flood peers" >&2
  rdir=$work/presence-load
  mkdir -p "$rdir"
  "$PB_VLAN_SH" exec 2 "$bin/presence_bench" plugin --expect "$flood" --dir "$rdir" \
    --max-seconds 60 >"$rdir/receiver.out" 2>&1 &
  receiver=$!
  if wait_for "$rdir/receiver.ready" 10; then
    "$PB_VLAN_SH" exec 1 "$bin/presence_bench" flood --count "$flood" --rate 5000 \
      --dir "$rdir" >"$rdir/flood.out" 2>&1 || note_failure "$results" "gentle flood failed"
  fi
  wait "$receiver" || note_failure "$results" "loaded instance failed"
  grep '^R resources\.' "$rdir/receiver.out" >> "$results" || note_failure "$results" "no resource figures"

  echo "  host read: node list off and on" >&2
  local mode sizes_read=100,1000,10000 read_runs=7
  [ "$quick" = 1 ] && sizes_read=100,1000 read_runs=3
  for mode in off on; do
    mkdir -p "$work/hostread-$mode"
    cp "$bin/host_read_bench" "$work/hostread-$mode/"
    (cd "$work/hostread-$mode" && "$PB_VLAN_SH" exec 1 ./host_read_bench --node-list "$mode" \
      --sizes "$sizes_read" --runs "$read_runs" >"$work/hostread-$mode.out" 2>&1) ||
      note_failure "$results" "host read ($mode) failed"
    collect "$work/hostread-$mode.out" "$results"
  done
  # The same read by the Windows build under Wine (in a display of its own: the plug-in makes
  # its notification window), its figures named host_read_win.
  if [ -f "$bin/host_read_bench.exe" ]; then
    echo "  host read, Windows build under Wine: node list off and on" >&2
    for mode in off on; do
      mkdir -p "$work/hostread-win-$mode"
      cp "$bin/host_read_bench.exe" "$work/hostread-win-$mode/"
      (cd "$work/hostread-win-$mode" && "$PB_VLAN_SH" exec 1 xvfb-run -a -s "-screen 0 640x480x24" \
        "$PB_VLAN_SH" wine 1 ./host_read_bench.exe --node-list "$mode" --sizes "$sizes_read" \
        --runs "$read_runs" >"$work/hostread-win-$mode.out" 2>&1) ||
        note_failure "$results" "host read, Windows build ($mode) failed"
      grep '^R host_read\.' "$work/hostread-win-$mode.out" | sed 's/^R host_read\./R host_read_win./' \
        >> "$results" || true
    done
  fi
}

# One host per instance: discovery convergence for each instance count.
lan_many() {
  local bin=$1 work=$2 results=$3 quick=$4 counts=$5
  local runs=5 n run i rdir pids start_max seen_max bad
  [ "$quick" = 1 ] && runs=3
  # Every host learns every other's link address beforehand. Resolved at the moment dozens of
  # instances answer each other, the ARP broadcasts (hosts x hosts x hosts frames) would
  # overflow the one receive backlog of this machine's few processors and lose datagrams,
  # which a real LAN spreads over as many machines.
  local macs=() j
  for ((i = 1; i <= PB_VLAN_N; i++)); do
    macs[i]=$(ip -n "$PB_VLAN-$i" -o link show lan0 2>/dev/null | sed -n 's/.*link\/ether \([0-9a-f:]*\).*/\1/p')
  done
  for ((i = 1; i <= PB_VLAN_N; i++)); do
    for ((j = 1; j <= PB_VLAN_N; j++)); do
      [ "$i" = "$j" ] || echo "neigh replace 198.18.0.$((10 + j)) lladdr ${macs[j]} dev lan0 nud permanent"
    done > "$work/neighbours"
    ip -n "$PB_VLAN-$i" -batch "$work/neighbours"
  done
  local lost
  for n in $counts; do
    echo "  discovery: $n instances, $runs runs" >&2
    lost=0
    for ((run = 1; run <= runs; run++)); do
      rdir=$work/converge-$n-$run
      mkdir -p "$rdir"
      pids=()
      for ((i = 1; i <= n; i++)); do
        "$PB_VLAN_SH" exec "$i" "$bin/instance_bench" converge --peers "$n" --dir "$rdir" \
          --id "$i" --max-seconds 20 >"$rdir/out.$i" 2>&1 &
        pids+=($!)
      done
      for ((i = 1; i <= n; i++)); do wait_for "$rdir/ready.$i" 15 || true; done
      touch "$rdir/go"
      for ((i = 1; i <= n; i++)); do wait_for "$rdir/seen.$i" 25 || true; done
      touch "$rdir/all-seen"
      wait "${pids[@]}" || true
      # From the last start to the last instance that lists everyone.
      read -r start_max seen_max bad < <(cat "$rdir"/seen.* 2>/dev/null | awk -v n="$n" '
        { if ($1 > s) s = $1; if ($2 > e) e = $2; if ($2 == 0) bad++; c++ }
        END { printf "%.0f %.0f %d\n", s, e, bad + (n - c) }')
      if [ "$bad" = 0 ] && [ "$seen_max" -gt 0 ]; then
        echo "S discovery.$n.converge_ms $(awk -v a="$seen_max" -v b="$start_max" 'BEGIN { printf "%.3f", (a - b) / 1e6 }')" >> "$results"
      else
        # Presence is a datagram apiece with no repeat, so a lost one leaves a peer unlisted
        # for good; on one machine's shared backlog that can happen to a burst of instances.
        # Such a run gives no time and is counted; only when no run converged has the part
        # failed.
        echo "  discovery: $n instances, run $run: $bad did not list everyone" >&2
        lost=$((lost + 1))
      fi
    done
    echo "R discovery.$n.runs_not_converged $lost" >> "$results"
    [ "$lost" -lt "$runs" ] ||
      note_failure "$results" "discovery with $n instances: no run listed everyone"
  done
}

lan_one() {
  local bin=$1 work=$2 results=$3 quick=$4 seconds=30
  [ "$quick" = 1 ] && seconds=5
  "$PB_VLAN_SH" exec 1 "$bin/instance_bench" idle --seconds "$seconds" >"$work/idle.out" 2>&1 ||
    note_failure "$results" "idle instance failed"
  collect "$work/idle.out" "$results"
}

case "${1:-}" in
  --inside-two) shift; lan_two "$@"; exit 0 ;;
  --inside-many) shift; lan_many "$@"; exit 0 ;;
  --inside-one) shift; lan_one "$@"; exit 0 ;;
esac

# ---------------------------------------------------------------- the suite

quick=0 build=$top/build/bench out=$top/bench/out do_build=1
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) quick=1 ;;
    --build) build=$2; shift ;;
    --out) out=$2; shift ;;
    --no-build) do_build=0 ;;
    -h|--help) sed -n '2,/^set /p' "$self" | sed -n 's/^# \{0,1\}//p'; exit 0 ;;
    *) echo "run.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
[ "$(id -u)" = 0 ] || { echo "run.sh: needs root (network namespaces)" >&2; exit 2; }
command -v ip >/dev/null || { echo "run.sh: needs iproute2" >&2; exit 2; }

began=$(date +%s)
if [ "$do_build" = 1 ]; then
  echo "building the drivers in $build" >&2
  [ -f "$build/CMakeCache.txt" ] || cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --target bench_drivers -j2 >/dev/null
  # The Windows build's host read runs under Wine: the 64-bit build where this machine cannot
  # run 32-bit programs. Without the cross compiler or Wine that figure is left out.
  toolchain=mingw-i686 loader=wine
  sh "$top/tests/can_run_32bit.sh" || toolchain=mingw-x86_64 loader=wine64
  if command -v "${toolchain#mingw-}-w64-mingw32-g++-posix" >/dev/null && command -v xvfb-run >/dev/null &&
    { command -v "$loader" >/dev/null || [ -x /usr/lib/wine/$loader ]; }; then
    echo "building the Windows host read driver in $build-win" >&2
    [ -f "$build-win/CMakeCache.txt" ] || cmake -S "$top" -B "$build-win" \
      -DCMAKE_TOOLCHAIN_FILE="$top/cmake/$toolchain.cmake" -DCMAKE_BUILD_TYPE=Release \
      -DPB_BUILD_BENCH=ON >/dev/null
    cmake --build "$build-win" --target host_read_bench -j2 >/dev/null ||
      echo "run.sh: the Windows host read driver did not build" >&2
  fi
fi

mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$(mktemp -d /tmp/pb-bench.XXXXXX)
# Every LAN part runs in the background under timeout, which heads a process group of its own
# (so a terminal's interrupt does not reach it) and passes a TERM on to the whole group; vlan.sh
# then removes its LAN. Waiting with the wait builtin lets an interrupt here act at once.
stop_parts() {
  local parts
  parts=$(jobs -pr)
  [ -z "$parts" ] || kill -TERM $parts 2>/dev/null || true
  wait || true
  rm -rf "$work"
}
trap stop_parts EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
# Starts "run.sh --inside-PART ARG..." on a LAN of HOSTS hosts for at most SECONDS, in the
# background: lan_part SECONDS HOSTS --inside-PART ARG...
lan_part() {
  local seconds=$1 hosts=$2
  shift 2
  timeout -k 5 "$seconds" "$top/tests/vlan.sh" with "$hosts" -- "$self" "$@" &
}

bin=$work/bin
mkdir -p "$bin"
# The drivers run from a folder of their own: the plug-in looks for its settings and writes its
# error log beside the program, and must not meet the machine's own configuration either.
for driver in memo_bench presence_bench host_read_bench instance_bench entry_list_bench node_list_bench; do
  found=$(find "$build" -name "$driver" -type f -perm -u+x | head -n 1)
  [ -n "$found" ] || { echo "run.sh: $driver is not built in $build" >&2; exit 2; }
  cp "$found" "$bin/"
done
win_driver=$(find "$build-win" -name host_read_bench.exe -type f 2>/dev/null | head -n 1 || true)
if [ -n "$win_driver" ]; then
  cp "$win_driver" "$bin/"
  export PB_WINE
  PB_WINE=$(sh "$top/tests/wine_loader.sh" "$build-win") || rm -f "$bin/host_read_bench.exe"
fi
export PEERBEACON_WINDOWS_DIR=$work/windir PEERBEACON_SYSTEM_DIR=$work/sysdir
mkdir -p "$PEERBEACON_WINDOWS_DIR" "$PEERBEACON_SYSTEM_DIR"
results=$work/results.txt
: > "$results"
cd "$work"

# Discovery instance counts; the LAN has as many hosts as the largest.
counts="4 8 16 32 64"
[ "$quick" = 1 ] && counts="4 8 16"
echo "idle instance (in the background) and two-host figures" >&2
lan_part 120 1 --inside-one "$bin" "$work" "$results.idle" "$quick"
idle=$!
lan_part 400 2 --inside-two "$bin" "$work" "$results" "$quick"
wait $! || note_failure "$results" "the two-host part failed"
wait "$idle" || note_failure "$results" "the idle part failed"
cat "$results.idle" >> "$results" 2>/dev/null || true
echo "discovery" >&2
lan_part 900 "${counts##* }" --inside-many "$bin" "$work" "$results" "$quick" "$counts"
wait $! || note_failure "$results" "the discovery part failed"
# The two in-process benches of the entry store and the node list; their own tables are kept.
for micro in entry_list_bench node_list_bench; do
  "$bin/$micro" >"$work/$micro.out" 2>&1 || note_failure "$results" "$micro failed"
done

cp "$results" "$out/results.txt"
cat "$work/entry_list_bench.out" "$work/node_list_bench.out" > "$out/micro.txt" 2>/dev/null || true
# Every driver's own output, for a look at what went wrong.
rm -rf "$out/logs"
mkdir -p "$out/logs"
(cd "$work" && find . -name '*.out' -exec cp --parents {} "$out/logs/" \;) 2>/dev/null || true

mode=full
[ "$quick" = 1 ] && mode=quick
status=0
python3 "$top/bench/report.py" "$results" --out "$out" --mode "$mode" --counts "$counts" \
  --began "$began" || status=$?
echo "results: $out/results.json, $out/table.txt, $out/scaling.png" >&2
exit "$status"
