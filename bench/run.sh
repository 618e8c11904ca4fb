#!/usr/bin/env bash
# run.sh: the benchmark suite: builds the drivers, runs every figure against its baseline on a
# virtual LAN of its own, prints a table, writes bench/out/results.json and bench/out/scaling.png.
#
#   bench/run.sh [--quick] [--build DIR] [--out DIR] [--no-build]
#
#   --quick     a small configuration (fewer and smaller runs) that only shows the suite works
#   --build     the build directory (default build/bench, configured as Release if missing)
#   --out       where results.json, scaling.png and the raw logs go (default bench/out)
#   --no-build  use the drivers already in the build directory
#
# Needs root and iproute2 (network namespaces), like the system tests. Every plug-in instance,
# baseline and flood runs inside namespaces that tests/vlan.sh builds and removes; nothing is
# sent on the machine's own interfaces. Every figure is a median over repeated runs, and every
# comparison divides by a baseline measured in the same run over the same path. Nothing here
# asserts a speed: the exit status says only whether the suite ran.
set -euo pipefail

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
self=$top/bench/run.sh

# ---------------------------------------------------------------- shared helpers

# Appends the "R key value" lines of a driver's output to the results file.
collect() { grep '^R ' "$1" >> "$2" || true; }

# The value of key in a results file ("" when absent).
value() { awk -v k="$2" '$1 == "R" && $2 == k { v = $3 } END { print v }' "$1"; }

# The median of the numbers on standard input ("" for none).
median() {
  sort -g | awk '{ v[NR] = $1 } END {
    if (NR == 0) print ""; else if (NR % 2) print v[(NR + 1) / 2];
    else printf "%.9g\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# Adds "R key median" for every key that has per-run samples "S key value" in the file.
reduce_samples() {
  local file=$1 key m
  for key in $(awk '$1 == "S" { print $2 }' "$file" | sort -u); do
    m=$(awk -v k="$key" '$1 == "S" && $2 == k { print $3 }' "$file" | median)
    [ -z "$m" ] || echo "R $key $m" >> "$file"
  done
}

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

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b == "" || b + 0 == 0) print ""; else printf "%.6g\n", a / b }'; }

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

  echo "  presence: $flood updates at $rate/s, $runs runs each side" >&2
  local run side order rdir receiver
  for ((run = 1; run <= runs; run++)); do
    order="plugin plain"
    [ $((run % 2)) = 0 ] && order="plain plugin"
    for side in $order; do
      rdir=$work/presence-$run-$side
      mkdir -p "$rdir"
      "$PB_VLAN_SH" exec 2 "$bin/presence_bench" "$side" --expect "$flood" --dir "$rdir" \
        --ifaddr "$PB_ADDR_2" --max-seconds 60 >"$rdir/receiver.out" 2>&1 &
      receiver=$!
      if wait_for "$rdir/receiver.ready" 10; then
        "$PB_VLAN_SH" exec 1 "$bin/presence_bench" flood --count "$flood" --rate "$rate" \
          --dir "$rdir" >"$rdir/flood.out" 2>&1 || note_failure "$results" "flood failed"
      fi
      wait "$receiver" || note_failure "$results" "presence receiver ($side) failed"
      grep '^R ' "$rdir/receiver.out" "$rdir/flood.out" 2>/dev/null | grep -v ' resources\.' |
        sed 's/^[^:]*:R /S /' >> "$results"
    done
  done

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
}

# Up to 16 hosts: discovery convergence for each instance count.
lan_many() {
  local bin=$1 work=$2 results=$3 quick=$4 counts=$5
  local runs=5 n run i rdir pids start_max seen_max bad
  [ "$quick" = 1 ] && runs=3
  for n in $counts; do
    echo "  discovery: $n instances, $runs runs" >&2
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
        note_failure "$results" "discovery with $n instances: $bad did not list everyone"
      fi
    done
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
    -h|--help) sed -n '2,16p' "$self" | sed 's/^# \{0,1\}//'; exit 0 ;;
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
fi

mkdir -p "$out"
work=$(mktemp -d /tmp/pb-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
bin=$work/bin
mkdir -p "$bin"
# The drivers run from a folder of their own: the plug-in looks for its settings and writes its
# error log beside the program, and must not meet the machine's own configuration either.
for driver in memo_bench presence_bench host_read_bench instance_bench entry_list_bench node_list_bench; do
  found=$(find "$build" -name "$driver" -type f -perm -u+x | head -n 1)
  [ -n "$found" ] || { echo "run.sh: $driver is not built in $build" >&2; exit 2; }
  cp "$found" "$bin/"
done
export PEERBEACON_WINDOWS_DIR=$work/windir PEERBEACON_SYSTEM_DIR=$work/sysdir
mkdir -p "$PEERBEACON_WINDOWS_DIR" "$PEERBEACON_SYSTEM_DIR"
results=$work/results.txt
: > "$results"
cd "$work"

counts="4 8 16"
echo "idle instance (in the background) and two-host figures" >&2
timeout -k 5 120 "$top/tests/vlan.sh" with 1 -- "$self" --inside-one "$bin" "$work" "$results.idle" "$quick" &
idle=$!
timeout -k 5 400 "$top/tests/vlan.sh" with 2 -- "$self" --inside-two "$bin" "$work" "$results" "$quick" ||
  note_failure "$results" "the two-host part failed"
wait "$idle" || note_failure "$results" "the idle part failed"
cat "$results.idle" >> "$results" 2>/dev/null || true
echo "discovery" >&2
timeout -k 5 300 "$top/tests/vlan.sh" with 16 -- "$self" --inside-many "$bin" "$work" "$results" "$quick" "$counts" ||
  note_failure "$results" "the discovery part failed"
# The two in-process benches of the entry store and the node list; their own tables are kept.
for micro in entry_list_bench node_list_bench; do
  "$bin/$micro" >"$work/$micro.out" 2>&1 || note_failure "$results" "$micro failed"
done
reduce_samples "$results"

# ---------------------------------------------------------------- derived figures and goals

v() { value "$results" "$1"; }
add() { [ -n "$2" ] && echo "R $1 $2" >> "$results"; return 0; }
add presence.ratio "$(ratio "$(v presence.plugin.per_s)" "$(v presence.plain.per_s)")"
add discovery.growth_16_vs_4 "$(ratio "$(v discovery.16.converge_ms)" "$(v discovery.4.converge_ms)")"
for phase in $(awk '$1 == "R" && $2 ~ /^sent\.phase/ { sub("sent.phase", "", $2); print $2 }' "$results" | sort -un); do
  add "memo.delivered.phase$phase" "$(v "recv.phase$phase.memos")"
done

biggest=$(awk '$1 == "R" && $2 ~ /^memo\.throughput\.[0-9]+MiB\.ratio$/ { split($2, p, "."); sub("MiB", "", p[3]); print p[3] }' "$results" | sort -n | tail -n 1)
goal_lines=()
goal() {  # name, figure, comparison ("ge" or "le"), threshold
  local met=missing
  [ -n "$2" ] && met=$(awk -v a="$2" -v t="$4" -v c="$3" 'BEGIN { print ((c == "ge" ? a >= t : a <= t) ? "met" : "missed") }')
  goal_lines+=("$1|$2|$3|$4|$met")
}
goal "memo throughput ratio at ${biggest:-?} MiB (plain time / plug-in time)" "$(v "memo.throughput.${biggest}MiB.ratio")" ge 0.8
goal "memo latency p50, plug-in / plain" "$(v memo.latency.p50_ratio)" le 1.5
goal "presence stored per s, plug-in / plain" "$(v presence.ratio)" ge 0.5
goal "host read per-entry cost, largest / smallest list, node list off" "$(v host_read.off.growth)" le 1.5
goal "host read per-entry cost, largest / smallest list, node list on" "$(v host_read.on.growth)" le 1.5

# Whatever the suite could not measure, or measured with lost or damaged memos, fails the run.
[ "$(v memo.sender_failures)" = 0 ] || note_failure "$results" "memo exchanges failed: $(v memo.sender_failures)"
damaged=$(awk '$1 == "R" && $2 ~ /^recv\..*\.bad$/ { s += $3 } END { print s + 0 }' "$results")
[ "$damaged" = 0 ] || note_failure "$results" "$damaged memos arrived damaged"
for phase in $(awk '$1 == "R" && $2 ~ /^sent\.phase/ { sub("sent.phase", "", $2); print $2 }' "$results" | sort -un); do
  [ "$(v "sent.phase$phase")" = "$(v "recv.phase$phase.memos")" ] ||
    note_failure "$results" "memo phase $phase: sent $(v "sent.phase$phase"), received $(v "recv.phase$phase.memos")"
done
for line in "${goal_lines[@]}"; do
  IFS='|' read -r name fig _ <<<"$line"
  [ -n "$fig" ] || note_failure "$results" "no figure for: $name"
done
failures=$(grep -c '^F ' "$results" || true)

# ---------------------------------------------------------------- table

machine="$(nproc) cores, $(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo), Linux $(uname -r), load $(cut -d' ' -f1-3 /proc/loadavg)"
f() { local x; x=$(v "$1"); [ -n "$x" ] && printf "%.${2:-1}f" "$x" || printf -- "-"; }
{
  echo
  echo "Peerbeacon benchmarks ($([ "$quick" = 1 ] && echo quick || echo full)) on $machine"
  echo "Medians over repeated runs; ratios against a baseline measured in this run on the same path."
  echo
  echo "1. Memo throughput (host 1 -> host 2 over the virtual LAN)"
  printf "   %-8s %12s %12s %12s %12s %8s\n" size "plug-in s" "plain s" "plug-in MB/s" "plain MB/s" ratio
  for mib in $(awk '$1 == "R" && $2 ~ /^memo\.throughput\.[0-9]+MiB\.ratio$/ { split($2, p, "."); sub("MiB", "", p[3]); print p[3] }' "$results" | sort -n); do
    k=memo.throughput.${mib}MiB
    printf "   %-8s %12s %12s %12s %12s %8s\n" "$mib MiB" "$(f $k.plugin_s 4)" "$(f $k.plain_s 4)" \
      "$(f $k.plugin_MBps 0)" "$(f $k.plain_MBps 0)" "$(f $k.ratio 2)"
  done
  echo
  echo "2. Memo latency, $(f memo.latency.count 0) sequential 1 KiB memos each way (us)"
  printf "   %-8s %10s %10s\n" "" p50 p99
  printf "   %-8s %10s %10s\n" plug-in "$(f memo.latency.plugin_p50_us)" "$(f memo.latency.plugin_p99_us)"
  printf "   %-8s %10s %10s\n" plain "$(f memo.latency.plain_p50_us)" "$(f memo.latency.plain_p99_us)"
  printf "   %-8s %10s %10s\n" ratio "$(f memo.latency.p50_ratio 2)" "$(f memo.latency.p99_ratio 2)"
  echo
  echo "3. Concurrent 1 KiB memos"
  printf "   %-8s %12s %12s %14s\n" threads memos/s exchanges "counted at recv"
  for t in 8 32; do
    k=memo.concurrent.${t}threads
    printf "   %-8s %12s %12s %14s\n" "$t" "$(f $k.memos_per_s 0)" "$(f $k.exchanges 0)" "$(f memo.delivered.phase$((400 + t)) 0)"
  done
  echo "   sender failures (all memo phases): $(f memo.sender_failures 0); damaged memos at the receiver: $(awk '$1 == "R" && $2 ~ /^recv\..*\.bad$/ { s += $3 } END { print s + 0 }' "$results")"
  echo
  echo "4. Presence: $(f presence.flood.sent 0) update datagrams from as many sources at $(f presence.flood.offered_per_s 0)/s offered"
  printf "   %-8s %10s %12s\n" "" stored "stored/s"
  printf "   %-8s %10s %12s\n" plug-in "$(f presence.plugin.stored 0)" "$(f presence.plugin.per_s 0)"
  printf "   %-8s %10s %12s\n" plain "$(f presence.plain.stored 0)" "$(f presence.plain.per_s 0)"
  printf "   %-8s %10s %12s\n" ratio "" "$(f presence.ratio 2)"
  echo
  echo "5. Host read through the exports (lock, every entry and group record size-first, unlock)"
  printf "   %-9s %8s %8s %14s %12s\n" "node list" peers groups "full read us" "ns/entry"
  for mode in off on; do
    for n in 100 1000 10000; do
      k=host_read.$mode.$n
      [ -n "$(v $k.ns_per_entry)" ] || continue
      printf "   %-9s %8s %8s %14s %12s\n" "$mode" "$n" "$(f $k.groups 0)" "$(f $k.full_read_us)" "$(f $k.ns_per_entry)"
    done
    printf "   %-9s growth of ns/entry, largest / smallest list: %s\n" "$mode" "$(f host_read.$mode.growth 2)"
  done
  echo
  echo "6. Discovery convergence (last start -> every instance lists every other)"
  printf "   %-10s %12s\n" instances "ms"
  for n in $counts; do printf "   %-10s %12s\n" "$n" "$(f discovery.$n.converge_ms 1)"; done
  echo "   growth 16 vs 4: $(f discovery.growth_16_vs_4 2)"
  echo
  echo "7. Resources"
  echo "   idle, not announced:   $(f resources.idle.threads 0) threads, $(f resources.idle.rss_kb 0) kB RSS"
  echo "   idle, announced:       $(f resources.idle_announced.threads 0) threads, $(f resources.idle_announced.rss_kb 0) kB RSS"
  echo "   holding $(f resources.loaded.peers 0) peers:   $(f resources.loaded.threads 0) threads, $(f resources.loaded.rss_kb 0) kB RSS"
  echo "   idle CPU: $(f resources.idle_cpu.cpu_ms 1) ms over $(f resources.idle_cpu.seconds_observed 0) s ($(f resources.idle_cpu.cpu_percent 3) %)"
  echo
  echo "Goals"
  for line in "${goal_lines[@]}"; do
    IFS='|' read -r name fig cmp thr met <<<"$line"
    printf "   %-72s %8s  (%s %s)  %s\n" "$name" "${fig:--}" "$([ "$cmp" = ge ] && echo '>=' || echo '<=')" "$thr" "$met"
  done
  echo
  echo "Micro benches (in process, no network): $out/micro.txt"
  if [ "$failures" -gt 0 ]; then
    echo
    echo "Failures ($failures):"
    sed -n 's/^F /   /p' "$results"
  fi
  echo
  echo "suite time: $(( $(date +%s) - began )) s"
} | tee "$out/table.txt"

# ---------------------------------------------------------------- results.json

json_escape() { sed 's/\\/\\\\/g; s/"/\\"/g'; }
{
  echo "{"
  echo "  \"suite\": \"peerbeacon-bench\","
  echo "  \"mode\": \"$([ "$quick" = 1 ] && echo quick || echo full)\","
  echo "  \"date\": \"$(date -u +%Y-%m-%dT%H:%M:%SZ)\","
  echo "  \"commit\": \"$(git -C "$top" rev-parse --short HEAD 2>/dev/null || echo unknown)\","
  echo "  \"machine\": \"$(echo "$machine" | json_escape)\","
  echo "  \"suite_seconds\": $(( $(date +%s) - began )),"
  echo "  \"failures\": [$(sed -n 's/^F //p' "$results" | json_escape | sed 's/.*/"&"/' | paste -sd, -)],"
  echo "  \"figures\": {"
  awk '$1 == "R" { v[$2] = $3; if (!($2 in seen)) { seen[$2] = 1; order[++n] = $2 } }
       END { for (i = 1; i <= n; i++) printf "    \"%s\": %s%s\n", order[i], v[order[i]], i < n ? "," : "" }' "$results"
  echo "  },"
  echo "  \"samples\": {"
  awk '$1 == "S" { if (!($2 in s)) order[++n] = $2; s[$2] = s[$2] (s[$2] == "" ? "" : ", ") $3 }
       END { for (i = 1; i <= n; i++) printf "    \"%s\": [%s]%s\n", order[i], s[order[i]], i < n ? "," : "" }' "$results"
  echo "  },"
  echo "  \"goals\": ["
  for i in "${!goal_lines[@]}"; do
    IFS='|' read -r name fig cmp thr met <<<"${goal_lines[$i]}"
    printf '    {"goal": "%s", "figure": %s, "compare": "%s", "threshold": %s, "status": "%s"}%s\n' \
      "$(echo "$name" | json_escape)" "${fig:-null}" "$cmp" "$thr" "$met" "$([ "$i" -lt $((${#goal_lines[@]} - 1)) ] && echo ,)"
  done
  echo "  ]"
  echo "}"
} > "$out/results.json"
cp "$results" "$out/results.txt"
cat "$work/entry_list_bench.out" "$work/node_list_bench.out" > "$out/micro.txt" 2>/dev/null || true
# Every driver's own output, for a look at what went wrong.
rm -rf "$out/logs"
mkdir -p "$out/logs"
(cd "$work" && find . -name '*.out' -exec cp --parents {} "$out/logs/" \;) 2>/dev/null || true

# ---------------------------------------------------------------- plot

if ! command -v gnuplot >/dev/null && command -v apt-get >/dev/null; then
  apt-get install -y -q gnuplot-nox >/dev/null 2>&1 || true
fi
if command -v gnuplot >/dev/null; then
  awk '$1 == "R" && $2 ~ /^memo\.throughput\.[0-9]+MiB\.(plugin|plain)_MBps$/ {
         split($2, p, "."); sub("MiB", "", p[3]); m[p[3]] = m[p[3]] " " $3 }
       END { for (k in m) print k m[k] }' "$results" | sort -n > "$work/tput.dat"
  for mode in off on; do
    awk -v m="$mode" '$1 == "R" && $2 ~ ("^host_read\\." m "\\.[0-9]+\\.ns_per_entry$") {
           split($2, p, "."); print p[3], $3 }' "$results" | sort -n > "$work/read-$mode.dat"
  done
  awk '$1 == "R" && $2 ~ /^discovery\.[0-9]+\.converge_ms$/ { split($2, p, "."); print p[2], $3 }' \
    "$results" | sort -n > "$work/converge.dat"
  gnuplot <<EOF || echo "run.sh: gnuplot failed; no plot" >&2
set terminal pngcairo size 1500,450 font ",10"
set output "$out/scaling.png"
set multiplot layout 1,3 title "Peerbeacon scaling ($([ "$quick" = 1 ] && echo quick || echo full) run, medians)"
set grid
set key top left
set title "Memo throughput"
set xlabel "memo size (MiB)"; set ylabel "MB/s"; set logscale x 2
plot "$work/tput.dat" using 1:2 with linespoints title "plug-in", "" using 1:3 with linespoints title "plain TCP"
unset logscale
set title "Host read cost per entry"
set xlabel "peers"; set ylabel "ns per entry (log)"; set logscale xy 10
plot "$work/read-off.dat" using 1:2 with linespoints title "node list off", \
     "$work/read-on.dat" using 1:2 with linespoints title "node list on"
unset logscale
set title "Discovery convergence"
set xlabel "instances"; set ylabel "ms from last start"; set yrange [0:*]
plot "$work/converge.dat" using 1:2 with linespoints title "all list all"
unset multiplot
EOF
else
  echo "run.sh: gnuplot (Debian's gnuplot-nox) is missing; no plot" >&2
fi
echo "results: $out/results.json, $out/table.txt, $out/scaling.png" >&2
[ "$failures" = 0 ] || exit 1
