#!/usr/bin/env bash
# differential.sh: the Linux and the Windows build as one product. The same host commands run
# once with each build as the observer in the same place on one virtual LAN (same address,
# folder, settings, node list and access list, the same peers), and what the two observers
# see (records byte for byte, results, log lines) and what the peers see of them must agree.
#
#   differential.sh LINUX_BUILD_DIR OTHER_BUILD_DIR
#
# OTHER_BUILD_DIR is normally the Windows build (peerbeacon-host.exe and Peerbeacon.nxl, run
# under Wine); a folder with a native peerbeacon-host (a sanitizer build, say) is compared the
# same way. Exit 0: passed; 1: the builds differ or a fact is wrong; 77: skipped (not root, no
# iproute2, no build at OTHER_BUILD_DIR, Wine cannot run programs here, or no Japanese
# locale can be had for Wine).
#
# The LAN: host 1 is the observer's place; hosts 2, 3 and 4 are Linux peers that stay up for
# every scenario and speak only when told. The script conducts every host through a pipe, one
# command at a time, so events happen in one order in both runs without sleeps: a peer
# announces only after the observer has listed the one before, which is what makes the list
# order and the group ids, and with them the record bytes, the same in both runs.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)

if [ "${1:-}" != --inside ]; then
  [ $# -eq 2 ] || { echo "usage: $0 LINUX_BUILD_DIR OTHER_BUILD_DIR" >&2; exit 2; }
  if [ "$(id -u)" != 0 ] || ! command -v ip >/dev/null; then
    echo "skipped: needs root and iproute2"
    exit 77
  fi
  linux=$(cd "$1" && pwd)
  other=${2:-}
  if [ -f "$other/peerbeacon-host.exe" ] && [ -f "$other/Peerbeacon.nxl" ]; then
    other=$(cd "$other" && pwd)
    kind=windows
  elif [ -f "$other/peerbeacon-host" ] && [ -f "$other/Peerbeacon.nxl" ]; then
    other=$(cd "$other" && pwd)
    kind=linux
  else
    echo "skipped: no build at '$other'"
    exit 77
  fi
  if [ "$kind" = windows ]; then
    PB_WINE=$("$here/wine_loader.sh" "$other") || exit $?
    export PB_WINE PB_WINE_TEMPLATE=$other/wineprefix
    # One preparation of the shared prefix and locale at a time.
    exec 9>"$other/.wineprefix.lock"
    flock 9
    if [ ! -f "$PB_WINE_TEMPLATE/system.reg" ]; then
      WINEPREFIX=$PB_WINE_TEMPLATE sh "$other/wine-prefix-setup.sh" >/dev/null
      WINEPREFIX=$PB_WINE_TEMPLATE sh "$other/wine-prefix-cleanup.sh" >/dev/null
    fi
    # Wine takes its code page from the locale. The messenger's systems are Japanese (code
    # page 932), where the profile functions compare names as Japanese text; in any other code
    # page keys that differ in a double-byte character's trail byte fold together.
    if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf-\?8'; then
      if [ ! -f "$other/locale/ja_JP.UTF-8/LC_CTYPE" ]; then
        mkdir -p "$other/locale"
        localedef -i ja_JP -f UTF-8 "$other/locale/ja_JP.UTF-8" >/dev/null 2>&1 ||
          { echo "skipped: no Japanese locale for Wine"; exit 77; }
      fi
      export LOCPATH=$other/locale
    fi
    flock -u 9
  fi
  run=(timeout -k 5 170 "$here/vlan.sh" with 4 -- "$0" --inside "$linux" "$other" "$kind")
  if [ "$kind" = windows ] && [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" "${run[@]}"
  fi
  exec "${run[@]}"
fi

# The conductor goes on past failed commands: every failure it cares about is a check below.
set +e
linux=$2 other=$3 other_kind=$4
work=$PB_VLAN_DIR
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
a1=$PB_ADDR_1 a2=$PB_ADDR_2 a3=$PB_ADDR_3 a4=$PB_ADDR_4
nobody=198.18.0.99  # on the LAN, but no host has it
user=$(id -un)
# Empty on purpose: the Linux hosts look for their Windows and system directories here (under
# Wine they are the fresh prefix's own), so no build finds a node list or settings of the
# machine's.
mkdir -p "$work/nowhere"

# A host that has ended must not take the script with it when it is told something.
trap '' PIPE

# ---- Conducting hosts ----
# Host I reads its commands from a pipe (fd ${pipe[I]}) and writes to ${dirs[I]}/out.txt, of
# which ${seen[I]} lines have been taken as answers.
declare -A pipe seen pid dirs
# Read from with a time-out, it is a sleep without a fork: nothing is ever written to it.
mkfifo "$work/tick"
exec {tick}<>"$work/tick"

# start_host I DIR KIND BUILD [OPTION...]: starts a host of KIND (linux or windows) from BUILD
# in namespace I, in DIR, which gets its own copy of the executable and the module: settings,
# node list and access list are then found beside them, the same way by both builds.
start_host() {
  local i=$1 dir=$2 kind=$3 build=$4 fd
  shift 4
  rm -f "$dir/in" "$dir/rc.txt"
  mkfifo "$dir/in"
  : > "$dir/out.txt"
  if [ "$kind" = linux ]; then
    cp "$build/peerbeacon-host" "$build/Peerbeacon.nxl" "$dir/"
    (close_pipes && cd "$dir" &&
       PEERBEACON_WINDOWS_DIR=$work/nowhere PEERBEACON_SYSTEM_DIR=$work/nowhere \
       timeout -k 5 165 "$PB_VLAN_SH" exec "$i" ./peerbeacon-host --machine "$@" \
       --plugin "$dir/Peerbeacon.nxl" <in >out.txt 2>err.txt; echo $? > rc.txt) &
  else
    cp "$build/peerbeacon-host.exe" "$build/Peerbeacon.nxl" "$dir/"
    (close_pipes && cd "$dir" && LC_ALL=ja_JP.UTF-8 timeout -k 5 165 "$PB_VLAN_SH" wine "$i" \
       "$dir/peerbeacon-host.exe" --machine "$@" --plugin "$dir/Peerbeacon.nxl" <in \
       >out.txt 2>err.txt; echo $? > rc.txt) &
  fi
  pid[$i]=$! dirs[$i]=$dir seen[$i]=0
  exec {fd}>"$dir/in"
  pipe[$i]=$fd
}

# A host must not hold the other hosts' pipes open: each ends when its own pipe is closed.
close_pipes() {
  local fd
  for fd in "${pipe[@]}" "$tick"; do exec {fd}>&-; done
}

# tell I COMMAND: hands host I a command without waiting for its answer.
tell() { printf '%s\n' "$2" >&"${pipe[$1]}" 2>/dev/null || fail "host $1: could not be told $2"; }

# answer I: waits for host I's next status line (OK or ERR) and prints, without carriage
# returns, every line after its previous answer up to that one. Lines that a host prints on
# its own (MEMO) thus belong to the answer of the command during which they arrived. Only
# builtins while it polls: a fork at every look would cost more than the hosts' answers.
answer() {
  local i=$1 out=${dirs[$1]}/out.txt deadline=$((SECONDS + 90)) n lines
  for (( ; ; )); do
    mapfile -t -s "${seen[$i]}" lines < "$out"
    for ((n = 0; n < ${#lines[@]}; n++)); do
      [[ "${lines[n]}" =~ ^(OK|ERR\ ) ]] && break 2
    done
    if [ -f "${dirs[$i]}/rc.txt" ] || [ "$SECONDS" -ge "$deadline" ]; then
      fail "host $i: no answer (exit status $(cat "${dirs[$i]}/rc.txt" 2>/dev/null || echo none))"
      [ ${#lines[@]} -eq 0 ] || printf '%s\n' "${lines[@]%$'\r'}"
      seen[$i]=$((seen[$i] + ${#lines[@]}))
      return 0
    fi
    read -r -t 0.02 -u "$tick" || true
  done
  lines=("${lines[@]:0:n+1}")
  printf '%s\n' "${lines[@]%$'\r'}"
  seen[$i]=$((seen[$i] + n + 1))
}

ask() {
  tell "$1" "$2"
  answer "$1"
}

# stop_host I: closes host I's pipe, so that it leaves and stops its plug-in as at the end of
# a script; waits for it and prints the rest of its output and its exit status.
stop_host() {
  local i=$1 fd=${pipe[$1]}
  exec {fd}>&-
  wait "${pid[$i]}" || true
  tail -n +"$((seen[$i] + 1))" "${dirs[$i]}/out.txt" | tr -d '\r'
  echo "exit status $(cat "${dirs[$i]}/rc.txt" 2>/dev/null || echo none)"
}

# What legitimately differs between two runs, and nothing else: the elapsed times (ms=) of
# the waits, and the time stamps that open the error log's lines. (Carriage returns are gone
# already: the Windows C runtime ends its output lines with CR LF.)
normalise() { sed -E -e 's/ ms=[0-9]+/ ms=*/g' -e 's/^\[[0-9]{2}\/[0-9]{2} [0-9:]{8}\]/[time]/'; }

# step I COMMAND [FILTER]: asks host I and adds the command and its answer (the lines that
# match the regex FILTER, when one is given) to the transcript. A COMMAND in parentheses was
# told earlier: only its answer is waited for.
transcript=
step() {
  local line
  if [[ "$2" == \(*\) ]]; then answer "$1"; else ask "$1" "$2"; fi > "$work/answer.txt"
  {
    echo "> host $1: $2"
    while IFS= read -r line; do
      if [ -z "${3:-}" ] || [[ "$line" =~ $3 ]]; then echo "$line"; fi
    done < "$work/answer.txt"
  } >> "$transcript"
}

# ---- The peers ----
# Host 2 refuses every memo; host 4 is absent. The nicknames of hosts 3 and 4 are カシ and ニシ
# in code page 932: they differ only in the trail byte of their first character (4A and 6A,
# which read as ASCII would be 'J' and 'j').
prepare_peer() {  # prepare_peer I NICK GROUP
  mkdir -p "$work/h$1"
  printf '[%s]\r\nNickname=%b\r\nGroup=%b\r\n' "$user" "$2" "$3" > "$work/h$1/Peerbeacon.ini"
}
prepare_peer 2 outsider 'Sales>West'
prepare_peer 3 '\x83\x4a\x83\x56' '\x89\x63\x8b\xc6>East&Staff'
prepare_peer 4 '\x83\x6a\x83\x56' 'Support'
declare -A absence=([2]=0 [3]=0 [4]=5)
for i in 2 3 4; do start_host "$i" "$work/h$i" linux "$linux"; done
ask 2 "accept off" > /dev/null
for i in 2 3 4; do ask "$i" "wait-peers 3 60" > /dev/null; done

# ---- Files of the observer's place (printf %b texts) ----
# Keyed by nickname: each kana key must find its own line, whichever comes first.
nodelist_kana='[GROUP]\r\nCOUNT=2\r\nGROUP1=\x96\x7b\x8e\xd0\r\nGROUP2=\x93\x8c\x8b\x9e,1\r\n'\
'[MACHINE]\r\nDEFAULT=Guest\r\n\x83\x4a\x83\x56=Kashi,1\r\n\x83\x6a\x83\x56=Nishi,2\r\n'
# Keyed by address, with Japanese names and groups (表示 has the trail byte 5C, the backslash
# of ASCII), a parent that comes later, and a default that keeps the nickname.
nodelist_address='[GROUP]\r\nCOUNT=3\r\nGROUP1=\x8a\x4a\x94\xad\r\n'\
'GROUP2=\x95\x5c\x8e\xa6,1\r\nGROUP3=Child,4\r\n[MACHINE]\r\nDEFAULT=,3\r\n'\
"$a3"'=\x95\x5c\x8e\xa6,2&1\r\n'"$a4"'=\x83\x5c\x83\x6a\x81\x5b\r\n'
# The observer itself and hosts 3 and 4, not host 2.
allow_3_4="# not host 2\n$a1\n$a3/32 # three\n$a4\n"

# ---- Scenario shapes ----
# presence: the observer starts without announcing; the peers announce one after the other,
# each once the observer has listed the one before (a peer it must not hear goes first, so
# that hearing the next one shows the refusal done); then the observer announces, and it and
# host 3 show what they see.
heard=
presence() {
  local i n=0
  step 1 status
  for i in 2 3 4; do
    ask "$i" "absence ${absence[$i]}" > /dev/null
    if [[ "$heard" == *"$i"* ]]; then
      n=$((n + 1))
      step 1 "wait-peers $n 30"
    fi
  done
  step 1 start
  step 1 "wait-peer $a1 1 30"
  step 1 records
  step 1 peers
  step 1 groups
  # Not of the observer's own entry: the computer name in it is the platform's own (Windows
  # writes it in capitals).
  for ((i = 0; i < n; i++)); do step 1 "info $i"; done
  step 1 status
  step 3 "wait-peer $a1 1 30"
  step 3 peers "^PEER .* addr=$a1 "
}

# access: presence, then a memo from the refused host and one from an admitted one.
access() {
  presence
  step 2 "send $a1:7129 from-outside"
  tell 1 "wait-memos 1 30"
  step 3 "send @$a1 from-inside"
  step 1 "(wait-memos 1 30)"
}

# memo: presence, then memos from the observer to a present, an absent and a refusing peer
# and to an address nobody has, and one to the observer.
memo() {
  presence
  step 1 "send @$a3 to-present-"$'\x95\x5c'
  step 1 "send @$a4 to-absent"
  step 1 "send @$a2 to-refusing"
  step 1 "send $nobody to-nobody"
  step 3 status  # with the memo as host 3 got it
  step 4 status
  tell 1 "wait-memos 1 30"
  step 3 "send @$a1 to-observer"
  step 1 "(wait-memos 1 30)"
}

# ---- The table ----
# name          shape     observer settings ('|' between keys)  NodeList.ini      allow.lst heard
scenarios=(
  "presence      presence  -                                      -                 -         234"
  "kana-keys     presence  SeedType=0                             nodelist_kana     -         234"
  "address-keys  presence  SeedType=3                             nodelist_address  -         234"
  "access        access    CheckFrom=1                            -                 allow_3_4 34"
  "memo          memo      -                                      -                 -         234"
)

# Facts that each build must show by itself: a fault that both builds share makes no
# difference between them. A regex after "!" must match no line.
# name          regex
facts=(
  "presence      ^PEER index=2 addr=$a4 port=7129 status=2 name=\"\\\\x83j\\\\x83V \\($a4\\)\""
  "presence      ^PEER index=3 addr=$a1 port=7129 status=1 name=\"watcher \\($a1\\)\""
  "kana-keys     ^PEER index=1 addr=$a3 .* name=\"Kashi \\("
  "kana-keys     ^PEER index=2 addr=$a4 .* name=\"Nishi \\("
  "address-keys  ^PEER index=0 addr=$a2 .* name=\"outsider \\(.* groups=1,9$"
  "address-keys  ^PEER index=1 addr=$a3 .* groups=3,4,8,7$"
  "access        ^PEERS count=3$"
  "access        !^PEER .* addr=$a2 port"
  "access        ^SENT to=$a1 result=3$"
  "access        ^MEMO accepted=1 from=$a3 .*data=\"from-inside\""
  "memo          ^SENT to=$a3 result=0$"
  "memo          ^SENT to=$a4 result=1$"
  "memo          ^SENT to=$a2 result=3$"
  "memo          ^SENT to=$nobody result=3$"
  "memo          ^MEMO accepted=1 from=$a3 .*data=\"to-observer\""
)

# observe NAME BUILD-LABEL KIND BUILD SHAPE SETTINGS NODELIST ALLOW: one run of a scenario
# with one build as the observer, into the transcript $work/NAME.BUILD-LABEL.txt.
observe() {
  local name=$1 label=$2 kind=$3 build=$4 shape=$5 settings=$6 nodelist=$7 allow=$8 i
  local dir=$work/h1
  rm -rf "$dir"
  mkdir -p "$dir"
  {
    printf '[%s]\r\nNickname=watcher\r\nGroup=Sales>East&Support\r\n' "$user"
    [ "$settings" = - ] || printf '%s\r\n' "${settings//|/$'\r\n'}"
  } > "$dir/Peerbeacon.ini"
  [ "$nodelist" = - ] || printf '%b' "${!nodelist}" > "$dir/NodeList.ini"
  [ "$allow" = - ] || printf '%b' "${!allow}" > "$dir/allow.lst"
  transcript=$work/$name.$label.raw
  : > "$transcript"
  start_host 1 "$dir" "$kind" "$build" --no-announce
  "$shape"
  stop_host 1 > "$work/answer.txt"
  {
    echo "> host 1: (end of input)"
    cat "$work/answer.txt"
    echo "> error log"
    [ ! -f "$dir/Peerbeacon.err" ] || tr -d '\r' < "$dir/Peerbeacon.err"
  } >> "$transcript"
  normalise < "$transcript" > "$work/$name.$label.txt"
  cp "$dir/err.txt" "$work/$name.$label.err"
  # The peers have heard the observer leave before the next run begins.
  for i in 2 3 4; do ask "$i" "wait-peer $a1 gone 30" > /dev/null; done
}

# shown I LABEL: the transcript of one run, for a failure's report, with the observer's
# standard error (Wine's own notes left out).
shown() {
  echo "---- $1 with the $2 build" >&2
  cat -v "$work/$1.$2.txt" >&2
  grep -av -e ':fixme:' -e ':err:' "$work/$1.$2.err" >&2 || true
}

for row in "${scenarios[@]}"; do
  read -r name shape settings nodelist allow heard <<<"$row"
  observe "$name" first linux "$linux" "$shape" "$settings" "$nodelist" "$allow"
  observe "$name" second "$other_kind" "$other" "$shape" "$settings" "$nodelist" "$allow"
  if ! diff -u --label "$name with $linux" --label "$name with $other" \
         "$work/$name.first.txt" "$work/$name.second.txt" > "$work/$name.diff"; then
    fail "$name: the builds see different things"
    head -n 80 "$work/$name.diff" | cat -v >&2
  fi
  for label in first second; do
    before=$failures
    for fact in "${facts[@]}"; do
      read -r fact_name regex <<<"$fact"
      [ "$fact_name" = "$name" ] || continue
      if [[ "$regex" == !* ]]; then
        ! grep -aqE -- "${regex:1}" "$work/$name.$label.txt" ||
          fail "$name ($label build): a line matches ${regex:1}"
      else
        grep -aqE -- "$regex" "$work/$name.$label.txt" ||
          fail "$name ($label build): no line matches $regex"
      fi
    done
    [ "$failures" = "$before" ] || shown "$name" "$label"
  done
  [ -z "${PB_SHOW:-}" ] || cat -v "$work/$name.first.txt"
done
for i in 2 3 4; do stop_host "$i" > /dev/null; done

if [ "$failures" -gt 0 ]; then
  echo "FAILED: $failures check(s); first build $linux, second $other" >&2
  exit 1
fi
echo "passed: ${#scenarios[@]} scenarios alike with $linux and $other"
exit 0
