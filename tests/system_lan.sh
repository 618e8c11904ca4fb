#!/usr/bin/env bash
# system_lan.sh: whole hosts on a virtual LAN: presence, groups, absence and memos across
# Linux and Windows builds, domain keys, the access list, a port taken twice, no address, and
# a flood of malformed datagrams.
#
#   system_lan.sh SCENARIO LINUX_BUILD_DIR [WINDOWS_BUILD_DIR]
#
# SCENARIO is one of: mixed linux-pair domains access bind noaddress malformed kill japanese. The build
# folders hold peerbeacon-host(.exe) and Peerbeacon.nxl. Exit 0: passed; 77: skipped (not
# root, no iproute2, or the Windows build is missing, or cannot run on this machine, for a
# scenario that needs it).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)

if [ "${1:-}" != --inside ]; then
  [ $# -ge 2 ] || { echo "usage: $0 SCENARIO LINUX_BUILD_DIR [WINDOWS_BUILD_DIR]" >&2; exit 2; }
  if [ "$(id -u)" != 0 ] || ! command -v ip >/dev/null; then
    echo "skipped: needs root and iproute2"
    exit 77
  fi
  scenario=$1
  linux=$(cd "$2" && pwd)
  windows=${3:-}
  [ -n "$windows" ] && [ -d "$windows" ] && windows=$(cd "$windows" && pwd)
  hosts=3
  case $scenario in
    mixed | japanese)
      if [ -z "$windows" ] || [ ! -f "$windows/peerbeacon-host.exe" ] ||
         [ ! -f "$windows/Peerbeacon.nxl" ]; then
        echo "skipped: no Windows build at '${windows}'"
        exit 77
      fi
      # The 32-bit build needs a machine that runs 32-bit programs; the 64-bit one runs under
      # wine64 and speaks the same protocol.
      PB_WINE=$("$here/wine_loader.sh" "$windows") || exit $?
      export PB_WINE PB_WINE_TEMPLATE=$windows/wineprefix
      # One preparation of the shared prefix at a time; each host copies it.
      exec 9>"$windows/.wineprefix.lock"
      flock 9
      if [ ! -f "$PB_WINE_TEMPLATE/system.reg" ]; then
        WINEPREFIX=$PB_WINE_TEMPLATE sh "$windows/wine-prefix-setup.sh" >/dev/null
        WINEPREFIX=$PB_WINE_TEMPLATE sh "$windows/wine-prefix-cleanup.sh" >/dev/null
      fi
      flock -u 9
      ;;
    domains | bind | noaddress | kill | japanese) hosts=2 ;;
    linux-pair | access | malformed) hosts=3 ;;
    *) echo "unknown scenario $scenario" >&2; exit 2 ;;
  esac
  run=(timeout -k 5 170 "$here/vlan.sh" with "$hosts" -- "$0" --inside "$scenario" "$linux"
       "$windows")
  if { [ "$scenario" = mixed ] || [ "$scenario" = japanese ]; } && [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" "${run[@]}"
  fi
  exec "${run[@]}"
fi

scenario=$2 linux=$3 windows=${4:-}
work=$PB_VLAN_DIR
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
addr() { local v=PB_ADDR_$1; echo "${!v}"; }

# prepare I NICK GROUP [EXTRA-SETTINGS]: host I's folder with its settings file and its own
# copies of the host program and the module. Start-up reads the settings file beside the
# program before any other, and the settings dialog saves one beside the build's program; a
# copy beside the test's own file keeps such a file out of the scenario.
prepare() {
  local i=$1 dir=$work/h$1
  mkdir -p "$dir"
  {
    printf '[%s]\r\n' "$(id -un)"
    printf 'Nickname=%s\r\nGroup=%s\r\n' "$2" "$3"
    [ -n "${4:-}" ] && printf '%b' "$4"
  } > "$dir/Peerbeacon.ini"
  cp "$linux/peerbeacon-host" "$linux/Peerbeacon.nxl" "$dir/"
}

# The hosts started in the background, for wait_hosts.
started=()
wait_hosts() {
  wait "${started[@]}" || true
  started=()
}

# run_linux I SCRIPT-LINES...: runs a Linux host in namespace I in the background.
run_linux() {
  local i=$1
  shift
  printf '%s\n' "$@" quit > "$work/h$i/script.txt"
  (cd "$work/h$i" && "$PB_VLAN_SH" exec "$i" timeout -k 5 120 "$work/h$i/peerbeacon-host" \
     --machine --plugin "$work/h$i/Peerbeacon.nxl" --script script.txt </dev/null \
     >out.txt 2>err.txt && echo 0 > rc.txt || echo $? > rc.txt) &
  started+=($!)
}

# run_windows I SCRIPT-LINES...: the same with the Windows build under Wine.
run_windows() {
  local i=$1
  shift
  printf '%s\r\n' "$@" quit > "$work/h$i/script.txt"
  cp "$windows/peerbeacon-host.exe" "$windows/Peerbeacon.nxl" "$work/h$i/"
  (cd "$work/h$i" && timeout -k 5 140 "$PB_VLAN_SH" wine "$i" "$work/h$i/peerbeacon-host.exe" \
     --machine --plugin "$work/h$i/Peerbeacon.nxl" --script script.txt </dev/null \
     >out.txt 2>err.txt && echo 0 > rc.txt || echo $? > rc.txt) &
  started+=($!)
}

# wait_for FILE REGEX SECONDS: waits until a line of FILE matches; false when none does in time.
wait_for() {
  local t=0
  until tr -d '\r' < "$1" 2>/dev/null | grep -Eq -- "$2"; do
    t=$((t + 1))
    [ "$t" -le $(($3 * 10)) ] || return 1
    sleep 0.1
  done
}

out() { tr -d '\r' < "$work/h$1/out.txt"; }
expect() {  # expect I REGEX WHY
  out "$1" | grep -Eq -- "$2" || fail "host $1: $3"
}
expect_not() {
  if out "$1" | grep -Eq -- "$2"; then fail "host $1: $3"; fi
}
expect_exit() {
  local rc
  rc=$(cat "$work/h$1/rc.txt" 2>/dev/null || echo "none ($(ls "$work/h$1" | tr '\n' ' '))")
  [ "$rc" = "${2:-0}" ] || fail "host $1: exit status $rc, wanted ${2:-0}"
}
finish() {
  if [ "$failures" -gt 0 ]; then
    for d in "$work"/h[0-9]*; do
      echo "---- $(basename "$d")" >&2
      cat "$d/out.txt" >&2 2>/dev/null || true
      grep -v -e ':fixme:' -e ':err:' "$d/err.txt" >&2 2>/dev/null || true
      cat "$d/Peerbeacon.err" >&2 2>/dev/null || true
    done
    echo "FAILED: $failures check(s) in $scenario" >&2
    exit 1
  fi
  [ -n "${PB_SHOW:-}" ] && for d in "$work"/h[0-9]*; do echo "---- $(basename "$d")"; cat "$d/out.txt"; done
  echo "passed: $scenario"
  exit 0
}

a1=$(addr 1) a2=$(addr 2)
a3=$( [ "$PB_VLAN_N" -ge 3 ] && addr 3 || echo none)

case $scenario in
  mixed | linux-pair)
    # Two Linux hosts and a third (Windows under Wine, or Linux): they find each other, see
    # absence changes and groups, carry memos every way, and see a leave. Nobody leaves before
    # the memos addressed to it have arrived: bob then leaves, alice once bob is gone, and the
    # third host once alice is gone.
    prepare 1 alice 'Sales>East&Staff'
    prepare 2 bob 'Sales>West'
    prepare 3 carol 'Support'
    common=("wait-peers 3 40")
    run_linux 1 "${common[@]}" "absence 5" "wait-memos 2 40" "send @$a3 alice-to-3" \
      "send @$a2 alice-to-bob" peers groups "wait-peer $a2 gone 40" leave
    run_linux 2 "${common[@]}" "wait-peer $a1 2 20" "send @$a1 bob-to-alice" "wait-memos 2 40" \
      peers groups leave
    third=("${common[@]}" "wait-peer $a1 2 20" "send @$a1 three-to-alice" "send @$a2 three-to-bob"
           "wait-memos 1 40" peers "wait-peer $a1 gone 40")
    if [ "$scenario" = mixed ]; then run_windows 3 "${third[@]}"; else run_linux 3 "${third[@]}"; fi
    wait_hosts
    for i in 1 2 3; do
      expect_exit "$i"
      expect "$i" '^STATUS 7 ' "not fully running"
      expect "$i" '^WAITED peers=3 ' "did not list all three hosts"
    done
    expect 2 "^PEERSTATUS addr=$a1 status=2 " "does not see alice absent"
    expect 3 "^PEERSTATUS addr=$a1 status=2 " "does not see alice absent"
    expect 2 "^SENT to=$a1 result=1$" "memo to the absent alice is not answered 1"
    expect 3 "^SENT to=$a1 result=1$" "memo to the absent alice is not answered 1"
    expect 3 "^SENT to=$a2 result=0$" "memo to bob is not answered 0"
    expect 1 "^SENT to=$a3 result=0$" "memo to host 3 is not answered 0"
    expect 1 "^SENT to=$a2 result=0$" "memo to bob is not answered 0"
    expect 1 "^MEMO accepted=1 from=$a2 port=7129 name=\"bob \\($a2\\)\" length=20 data=\"bob-to-alice\"" \
      "alice did not get bob's memo with his record"
    expect 1 "^MEMO accepted=1 from=$a3 port=7129 name=\"carol \\($a3\\)\" length=22 data=\"three-to-alice\"" \
      "alice did not get host 3's memo"
    expect 2 "^MEMO accepted=1 from=$a1 .*data=\"alice-to-bob\"" "bob did not get alice's memo"
    expect 2 "^MEMO accepted=1 from=$a3 .*data=\"three-to-bob\"" "bob did not get host 3's memo"
    expect 3 "^MEMO accepted=1 from=$a1 .*data=\"alice-to-3\"" "host 3 did not get alice's memo"
    expect 2 '^GROUP index=[0-9]+ parent=[0-9]+ name="East" path="Sales>East"' "no Sales>East"
    expect 2 '^GROUP index=[0-9]+ parent=[0-9]+ name="West" path="Sales>West"' "no Sales>West"
    expect 2 '^GROUP index=[0-9]+ parent=-1 name="Staff" path="Staff"' "no Staff"
    expect 2 '^GROUP index=[0-9]+ parent=-1 name="Support" path="Support"' "no Support"
    expect 1 "^PEER index=[0-9]+ addr=$a3 port=7129 status=1 name=\"carol \\($a3\\)\"" \
      "alice does not list host 3"
    expect 1 "^PEERSTATUS addr=$a2 status=0 " "bob's leave did not remove him from alice's list"
    expect 3 "^PEERSTATUS addr=$a1 status=0 " "alice's leave did not reach host 3"
    ;;

  japanese)
    # A person's Linux host in a UTF-8 terminal (human output, encoding from the locale) and a
    # Windows host under Wine exchange Japanese memos and see each other's Japanese names (the
    # Linux user addresses the other by the start of that name);
    # the Windows host's machine lines show the bytes as they came: code page 932. The
    # Windows host stays until the Linux host has listed it and left.
    sjis() { printf '%s' "$1" | iconv -f UTF-8 -t CP932; }
    # A machine line's escaping of the code page 932 form of $1.
    escaped() {
      sjis "$1" | od -An -v -tu1 | awk '{ for (i = 1; i <= NF; i++) {
        b = $i; if (b >= 32 && b < 127 && b != 34 && b != 92) printf "%c", b;
        else printf "\\x%02X", b } }'
    }
    expect_text() {  # expect_text I TEXT WHY: a line holds TEXT as it stands
      out "$1" | grep -Fq -- "$2" || fail "host $1: $3"
    }
    prepare 1 "$(sjis 山田)" "$(sjis 営業)"
    prepare 2 "$(sjis 鈴木)" "$(sjis 開発)"
    printf '%s\n' "wait-peers 2 40" "send 鈴 こんにちは、鈴木さん" "wait-memos 1 40" peers groups \
      leave quit > "$work/h1/script.txt"
    (cd "$work/h1" && "$PB_VLAN_SH" exec 1 env LC_ALL=C.UTF-8 timeout -k 5 120 \
       "$work/h1/peerbeacon-host" --plugin "$work/h1/Peerbeacon.nxl" --script script.txt \
       </dev/null >out.txt 2>err.txt && echo 0 > rc.txt || echo $? > rc.txt) &
    started+=($!)
    run_windows 2 "wait-peers 2 40" "wait-memos 1 40" "send @$a1 $(sjis ありがとう)" peers \
      "wait-peer $a1 gone 40"
    wait_hosts
    expect_exit 1
    expect_exit 2
    expect_text 2 "MEMO accepted=1 from=$a1 port=7129 name=\"$(escaped 山田) ($a1)\" length=28 data=\"$(escaped こんにちは、鈴木さん)\"" \
      "the Linux memo did not arrive as code page 932 with its sender's name"
    expect_text 2 "addr=$a1 port=7129 status=1 name=\"$(escaped 山田) ($a1)\"" \
      "the Windows host does not list the Linux user's Japanese name"
    expect_text 1 "memo from 鈴木 ($a2) (10 bytes): ありがとう" \
      "the Windows memo is not shown in the terminal's encoding"
    out 1 | grep -F "鈴木 ($a2)" | grep -F "$a2:7129" | grep -F present | grep -Fq 開発 ||
      fail "host 1: the Windows user is not listed present with the group"
    expect_text 1 "] 営業" "the own group is not shown"
    expect_text 2 "SENT to=$a1 result=0" "the Japanese memo to the Linux host was not delivered"
    ;;

  domains)
    # Different domain keys on one multicast group: neither sees the other. Host 1 runs
    # first, so it hears host 2's start; host 2 hears host 1's absence change. Each lists its
    # peers only after a memo (which no domain key stops) that the other sent behind its
    # announcement.
    prepare 1 one Anonymous 'DomainKeyLw=1\r\n'
    prepare 2 two Anonymous 'DomainKeyUw=1\r\nDomainKeyLw=1\r\n'
    run_linux 1 "wait-peers 1 20" "wait-memos 1 40" "absence 1" "send $a2:7129 one-to-two" peers
    wait_for "$work/h1/out.txt" '^WAITED ' 30 || fail "host 1 did not list itself"
    run_linux 2 "wait-peers 1 20" "send $a1:7129 two-to-one" "wait-memos 1 40" peers
    wait_hosts
    for i in 1 2; do
      expect_exit "$i"
      expect "$i" '^PEERS count=1$' "sees a host of another domain"
    done
    ;;

  access)
    # Host 2 admits only hosts 2 and 3: host 1's presence and memos are ignored. Host 1 runs
    # first, so it hears host 2's start and answers it; then it announces an absence, sends
    # its refused memo (to the address: host 2 never answers it) and tells host 3 by a memo,
    # whereupon host 3 sends the memo that host 2 waits for before it lists its peers. Each
    # host stays until the one it waits for has left, so that no leave hides a wrong entry.
    prepare 1 one Anonymous
    prepare 2 two Anonymous 'CheckFrom=1\r\n'
    prepare 3 three Anonymous
    printf '%s\n' "# hosts 2 and 3 only" "$a2" "$a3/32 # three" > "$work/h2/allow.lst"
    run_linux 1 "wait-peers 1 20" "wait-peer $a2 1 40" "absence 1" "send $a2:7129 refused-memo" \
      "wait-peer $a3 1 40" "send @$a3 go-ahead" "wait-peer $a3 gone 40"
    wait_for "$work/h1/out.txt" '^WAITED ' 30 || fail "host 1 did not list itself"
    run_linux 2 "wait-peers 2 20" "wait-memos 1 40" peers
    run_linux 3 "wait-peers 3 20" "wait-memos 1 40" "send @$a2 admitted-memo" \
      "wait-peer $a2 gone 40"
    wait_hosts
    expect_exit 1 1  # its memo was refused, as it should be
    expect_exit 2
    expect_exit 3
    expect 2 '^PEERS count=2$' "host 2 lists a host outside its access list"
    expect_not 2 "^PEER index=[0-9]+ addr=$a1 " "host 1 is listed by host 2"
    expect 1 "^SENT to=$a2 result=3$" "a memo from outside the access list was not refused"
    expect 3 "^SENT to=$a2 result=0$" "a memo from inside the access list was not taken"
    expect 2 "^MEMO accepted=1 from=$a3 .*data=\"admitted-memo\"" "host 3's memo did not arrive"
    expect_not 2 'refused-memo' "host 1's memo arrived"
    ;;

  bind)
    # A second instance in host 1's namespace cannot bind the port; the first goes on working.
    # The second does not announce: entries are keyed by address, so its leave would take the
    # first off every list.
    prepare 1 first Anonymous
    prepare 2 peer Anonymous
    mkdir -p "$work/h3"
    cp "$work/h1/Peerbeacon.ini" "$work/h1/peerbeacon-host" "$work/h1/Peerbeacon.nxl" "$work/h3/"
    run_linux 1 "wait-peers 2 20" "wait-memos 1 40" peers status
    # The first instance has its sockets once it reports its status.
    wait_for "$work/h1/out.txt" '^STATUS ' 30 || fail "host 1 did not start"
    printf '%s\n' "status" quit > "$work/h3/script.txt"
    (cd "$work/h3" && "$PB_VLAN_SH" exec 1 timeout -k 5 60 "$work/h3/peerbeacon-host" --machine \
       --no-announce --plugin "$work/h3/Peerbeacon.nxl" --script script.txt </dev/null >out.txt 2>err.txt \
       && echo 0 > rc.txt || echo $? > rc.txt)
    # Host 2 stays until host 1, which waits to list it, has left.
    run_linux 2 "wait-peers 2 20" "send @$a1 still-working" "wait-peer $a1 gone 40"
    wait_hosts
    expect 3 '^STATUS 5 running=1 listening=0 presence=1$' "the second instance is not at status 5"
    grep -Eq '^\[[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\] - Err\[sMulticast:bind\]:10048 : EntryControlThread'$'\r''$' \
      "$work/h3/Peerbeacon.err" || fail "host 3: no bind failure line in its error log"
    grep -q 'Err\[bind\]:10048 : ListenThread' "$work/h3/Peerbeacon.err" ||
      fail "host 3: no listener bind failure line"
    expect_exit 1
    expect 1 '^STATUS 7 ' "the first instance stopped working"
    expect 1 "^MEMO accepted=1 from=$a2 .*data=\"still-working\"" "the first instance lost a memo"
    ;;

  noaddress)
    # No route and no usable host name: the receiver gives up, the listener still listens.
    prepare 1 alone Anonymous
    printf '%s\n' status quit > "$work/h1/script.txt"
    # A network namespace of its own with loopback only, and a hosts file that does not know
    # the machine's name, so neither the name look-up nor the route probe finds an address.
    printf '127.0.0.1 localhost\n' > "$work/h1/hosts"
    (cd "$work/h1" && "$PB_VLAN_SH" exec 1 unshare --net --mount sh -c \
       'ip link set lo up && mount --bind "$0" /etc/hosts && exec "$@"' "$work/h1/hosts" \
       timeout -k 5 60 "$work/h1/peerbeacon-host" --machine \
       --plugin "$work/h1/Peerbeacon.nxl" --script script.txt </dev/null >out.txt 2>err.txt \
       && echo 0 > rc.txt || echo $? > rc.txt)
    expect 1 '^STATUS 3 running=1 listening=1 presence=0$' "status is not 3 without an address"
    ;;

  malformed)
    # Host 3 floods the group with malformed datagrams while host 2 changes its absence. The
    # flood runs from before the hosts start until they have ended. Host 2 goes back to
    # present once host 1 has told it (by a memo) that it saw the absence, and stays until
    # host 1 has left.
    prepare 1 watcher Anonymous
    prepare 2 changer Anonymous
    "$PB_VLAN_SH" exec 3 python3 -u "$here/flood_datagrams.py" 239.191.38.82 7129 1000000 120 \
      > "$work/flood.txt" &
    flood=$!
    wait_for "$work/flood.txt" '^flooding ' 30 || fail "the flood did not start"
    run_linux 1 "wait-peers 2 20" "wait-peer $a2 2 40" "send @$a2 seen-absent" \
      "wait-peer $a2 1 40" peers status
    run_linux 2 "wait-peers 2 20" "absence 1" "wait-memos 1 40" "absence 0" \
      "wait-peer $a1 gone 40"
    wait_hosts
    kill "$flood" 2>/dev/null || true
    wait "$flood" 2>/dev/null || true
    expect_exit 1
    expect_exit 2
    expect 1 '^PEERS count=2$' "the flood added or removed peers"
    expect 1 "^PEER index=[0-9]+ addr=$a2 port=7129 status=1 name=\"changer \\($a2\\)\"" \
      "the real peer's status is wrong after the flood"
    expect 1 '^STATUS 7 ' "the receiver stopped working"
    ;;

  kill)
    # A sender killed in the middle of a large memo, then a receiver killed in the middle of
    # one: the other side ends with the documented result and goes on working. Both links are
    # slowed to 20 Mbit/s so that a 16 MiB memo takes seconds.
    for i in 1 2; do
      "$PB_VLAN_SH" exec "$i" tc qdisc add dev lan0 root tbf rate 20mbit burst 32kbit latency 400ms
    done
    big=16777216
    start_host() {  # start_host DIR NAMESPACE SCRIPT-LINES...: the host's id goes to DIR/host.pid
      local dir=$1 ns=$2
      shift 2
      printf '%s\n' "$@" quit > "$dir/script.txt"
      (cd "$dir" && "$PB_VLAN_SH" exec "$ns" timeout -k 5 120 \
         sh -c 'echo $$ > host.pid && exec "$@"' sh "$dir/peerbeacon-host" --machine \
         --plugin "$dir/Peerbeacon.nxl" --script "$dir/script.txt" </dev/null >out.txt 2>err.txt \
         && echo 0 > rc.txt || echo $? > rc.txt) &
      started+=($!)
    }
    kill_host() { kill -9 "$(cat "$1/host.pid")" 2>/dev/null || true; }
    # wait_sending SECONDS: waits until a memo from host 2 has had 2 MB acknowledged: well under
    # way, with most of its 16 MiB still to go.
    wait_sending() {
      local t=0
      until "$PB_VLAN_SH" exec 2 ss -Htin state established '( dport = :7129 )' 2>/dev/null |
            grep -Eq 'bytes_acked:([2-9][0-9]{6}|[0-9]{8,})'; do
        t=$((t + 1))
        [ "$t" -le $(($1 * 10)) ] || return 1
        sleep 0.1
      done
    }
    prepare 1 receiver Anonymous
    prepare 2 sender Anonymous
    for d in h1b h2b; do
      mkdir -p "$work/$d"
      cp "$work/h${d:1:1}/Peerbeacon.ini" "$work/h${d:1:1}/Peerbeacon.nxl" \
        "$work/h${d:1:1}/peerbeacon-host" "$work/$d/"
    done
    start_host "$work/h1" 1 "wait-peers 2 20" "wait-memos 1 60" "sleep 60000"  # until killed
    start_host "$work/h2" 2 "wait-peers 2 20" "send-bytes @$a1 $big"
    wait_sending 60 || fail "host 2: its large memo did not get under way"
    kill_host "$work/h2"
    # The killed sender's memo never reaches the host; a new sender's does. Then the receiver
    # is killed in the middle of the new sender's large memo, and once restarted it tells the
    # sender by a memo that it is back.
    start_host "$work/h2b" 2 "wait-peers 2 20" "send @$a1 after-kill" "send-bytes @$a1 $big" \
      "wait-memos 1 60" "send @$a1 back-again"
    wait_for "$work/h1/out.txt" 'data="after-kill"' 30 || fail "host 1: no memo after the kill"
    wait_sending 60 || fail "host 2b: its large memo did not get under way"
    kill_host "$work/h1"
    start_host "$work/h1b" 1 "wait-peers 2 20" "send @$a2 receiver-is-back" "wait-memos 1 40" \
      peers
    wait_hosts
    expect_not 1 "length=$((big + 8))" "the killed sender's memo reached the host"
    expect 1 "^MEMO accepted=1 from=$a2 .*data=\"after-kill\"" "no memo from the new sender"
    expect 2b "^SENT to=$a1 result=0\$" "the new sender's first memo failed"
    expect 2b "^SENT to=$a1 result=3\$" "the memo into a killed receiver did not end with 3"
    [ "$(out 2b | grep -c "^SENT to=$a1 result=0\$")" = 2 ] ||
      fail "host 2b: the memo after the receiver's restart failed"
    expect 1b "^MEMO accepted=1 from=$a2 .*data=\"back-again\"" "the restarted receiver got nothing"
    expect_exit 1b
    expect_exit 2b 1  # its send into the killed receiver failed, as it should
    ;;
esac
finish
