#!/usr/bin/env bash
# run.sh: builds the fuzz targets and runs each for a while on a copy of its seed corpus, inside
# a network namespace of its own, and reports executions, coverage and PASS/FAIL per target.
#
# Usage: fuzz/run.sh [SECONDS_PER_TARGET] [TARGET...]     (default 30 s, every target)
# Every target is every *_fuzz program the fuzz build made (build/fuzz/fuzz).
# Environment: PB_FUZZ_JOBS=2 runs two targets at a time; PB_FUZZ_KEEP=1 keeps the scratch
# directory (grown corpora, logs) also when every target passed.
# Exit status: 0 all passed, 1 a target crashed or broke an invariant, 2 build or setup failed.
# Interrupted, it stops the running targets and removes the scratch directory (unless kept).
set -u

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
bin_dir=$root/build/fuzz/fuzz
seconds=${1:-30}
shift $(( $# > 0 ? 1 : 0 ))
targets=("$@")
jobs=${PB_FUZZ_JOBS:-1}

max_len_of() {
  case $1 in
    entry_command_fuzz) echo 1600 ;;      # a datagram of a few hundred bytes and then some
    presence_datagram_fuzz) echo 8192 ;;  # several datagrams
    memo_frame_fuzz) echo 4096 ;;
    access_list_fuzz) echo 2048 ;;
    group_string_fuzz) echo 1024 ;;
    *) echo 4096 ;;                       # files and record probes
  esac
}

if [ -z "${PB_FUZZ_IN_NETNS:-}" ]; then
  # Build outside the namespace, then run everything inside one, so that nothing a target does
  # can reach another machine.
  if ! [[ $seconds =~ ^[1-9][0-9]*$ && $jobs =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: [PB_FUZZ_JOBS=N] $0 [SECONDS_PER_TARGET] [TARGET...]" >&2
    exit 2
  fi
  (cd "$root" && cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j2 >/dev/null) || {
    echo "fuzz build failed: cmake --preset fuzz && cmake --build --preset fuzz" >&2
    exit 2
  }
  built=$(find "$bin_dir" -maxdepth 1 -type f -name '*_fuzz' -perm -u+x -printf '%f\n' | sort)
  [ -n "$built" ] || { echo "no fuzz targets in $bin_dir" >&2; exit 2; }
  for t in "${targets[@]}"; do
    grep -qx "$t" <<<"$built" || { echo "no fuzz target $t; built: ${built//$'\n'/ }" >&2; exit 2; }
  done
  [ ${#targets[@]} -gt 0 ] || mapfile -t targets <<<"$built"
  export PB_FUZZ_IN_NETNS=1
  exec unshare --net -- "$0" "$seconds" "${targets[@]}"
fi

ip link set lo up 2>/dev/null || true
scratch=$(mktemp -d /tmp/pb_fuzz.XXXXXX) || exit 2
keep=${PB_FUZZ_KEEP:-}
# Stops whatever target still runs, then removes the scratch directory or says where it is.
# A target is killed outright: libFuzzer's own handling of TERM and INT may hang, since it prints
# from the signal handler.
finish() {
  local running
  running=$(jobs -pr)
  [ -z "$running" ] || kill -KILL $running 2>/dev/null
  wait
  if [ -n "$keep" ]; then
    echo "scratch directory (logs, grown corpora): $scratch"
  else
    rm -rf "$scratch"
  fi
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
cd "$scratch" || exit 2
# The targets' own temporary files go under the scratch directory, and are removed with it.
export TMPDIR=$scratch

# Starts target $1 on a copy of its seed corpus, in the background; $! is the fuzzer itself.
start() {
  local t=$1 dir=$scratch/$1
  mkdir -p "$dir/corpus" "$dir/artifacts"
  cp "$here/corpus/$t/"* "$dir/corpus/" 2>/dev/null
  (cd "$dir" && exec "$bin_dir/$t" -max_total_time="$seconds" -max_len="$(max_len_of "$t")" \
      -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$dir/artifacts/" \
      "$dir/corpus" >"$dir/log" 2>&1) &
}

# $jobs targets at a time; each writes its exit status beside its log.
for ((i = 0; i < ${#targets[@]}; i += jobs)); do
  batch=("${targets[@]:i:jobs}")
  pids=()
  for t in "${batch[@]}"; do
    start "$t"
    pids+=($!)
  done
  for k in "${!batch[@]}"; do
    status=0
    wait "${pids[k]}" || status=$?
    echo "$status" >"$scratch/${batch[k]}/status"
  done
done

failed=0
printf '%-24s %6s %12s %8s %8s %9s  %s\n' target secs executions cov ft new result
for t in "${targets[@]}"; do
  dir=$scratch/$t
  log=$dir/log
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  new=$(sed -n 's/^stat::new_units_added: *//p' "$log" | tail -1)
  last=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -1)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  result=PASS
  if [ "$(cat "$dir/status" 2>/dev/null)" != 0 ] || ls "$dir/artifacts/"* >/dev/null 2>&1; then
    result=FAIL
    failed=1
    keep=1
  fi
  printf '%-24s %6s %12s %8s %8s %9s  %s\n' "$t" "$seconds" "${execs:-?}" "${cov:-?}" \
    "${ft:-?}" "${new:-?}" "$result"
  if [ $result = FAIL ]; then
    grep -E 'invariant broken|ERROR:|SUMMARY:' "$log" | head -5 | sed 's/^/    /'
    for a in "$dir/artifacts/"*; do
      [ -e "$a" ] && echo "    input: $a (keep it in fuzz/corpus/$t/ once fixed)"
    done
  fi
done
exit $failed
