#!/usr/bin/env bash
# install_package.sh: `cmake --install` and the Debian package put the right files in the right
# places, and the installed host starts the installed plug-in without being told where it is.
#
#   install_package.sh BUILD_DIR
#
# Installs BUILD_DIR with prefix /usr into a scratch DESTDIR and checks the file list and that
# the header compiles on its own; builds the package with cpack and checks its contents and
# control fields; then runs the host of each tree, with no --plugin, inside a namespace of a
# virtual LAN of one (vlan.sh), where it must load the plug-in of its own tree and start it.
# Exit 0: passed; 77: the file checks passed but the run was skipped (not root, or no
# iproute2); anything else: failed, with the reasons on standard error.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)

if [ "${1:-}" = --inside ]; then
  # In the namespace: start each tree's host from a folder without settings and stop it.
  shift
  rc=0
  for root in "$@"; do
    dir=$(mktemp -d "$PB_VLAN_DIR/run.XXXXXX")
    printf 'status\nquit\n' >"$dir/commands.txt"
    status=0
    "$PB_VLAN_SH" exec 1 sh -c 'cd "$1" && exec timeout -k 5 60 "$2" --machine \
        --script commands.txt </dev/null >out 2>err' sh "$dir" "$root/usr/bin/peerbeacon-host" ||
      status=$?
    [ $status -eq 0 ] || { echo "FAIL: the host in $root ended with status $status" >&2; rc=1; }
    plugin=$(find "$root/usr" -name Peerbeacon.nxl)
    grep -qxF "LOADED path=\"$plugin\" exports=22 missing=-" "$dir/out" ||
      { echo "FAIL: the host in $root did not load $plugin" >&2; rc=1; }
    grep -qx 'INIT 1' "$dir/out" || { echo "FAIL: the plug-in in $root did not start" >&2; rc=1; }
    if [ $rc -ne 0 ]; then
      echo "--- output:" >&2
      cat "$dir/out" "$dir/err" >&2
    fi
  done
  exit $rc
fi

build=$(cd "${1:?usage: install_package.sh BUILD_DIR}" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:[A-Z]*=//p' "$build/CMakeCache.txt")
expected=$(printf '%s\n' usr/bin/peerbeacon-host "usr/$libdir/peerbeacon/Peerbeacon.nxl" \
           usr/include/peerbeacon.h usr/include/peerbeacon_exports.h \
           usr/share/man/man1/peerbeacon-host.1 usr/share/doc/peerbeacon/README.md \
           usr/share/doc/peerbeacon/writing-a-messenger.md | sort)

# 1. cmake --install into a DESTDIR: exactly the product's files, nothing of the tests.
installed=$scratch/destdir
DESTDIR=$installed cmake --install "$build" --prefix /usr >"$scratch/install.log" 2>&1 ||
  { cat "$scratch/install.log" >&2; fail "cmake --install failed"; }
actual=$(cd "$installed" 2>/dev/null && find . -type f | sed 's|^\./||' | sort)
[ "$actual" = "$expected" ] ||
  fail "installed files differ from the expected list:$(diff <(echo "$expected") <(echo "$actual"))"
[ -x "$installed/usr/bin/peerbeacon-host" ] || fail "the installed host is not executable"

# The header stands alone for C and C++ programs that load the plug-in.
for lang in c c++; do
  compiler=$([ $lang = c ] && echo "${CC:-cc}" || echo "${CXX:-c++}")
  command -v "$compiler" >/dev/null || continue
  printf '#include <peerbeacon.h>\nint main(void) { return PB_MEMO_PRESENT; }\n' |
    "$compiler" -x $lang -fsyntax-only -Wall -Werror -I "$installed/usr/include" - ||
    fail "the installed peerbeacon.h does not compile as $lang"
done

# The host's usage comes from the installed program without loading anything.
"$installed/usr/bin/peerbeacon-host" --help | grep -q '^usage: peerbeacon-host' ||
  fail "the installed host's --help prints no usage"

# 2. The Debian package: the same files under /usr, and its control fields.
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/package" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log" >&2; fail "cpack -G DEB failed"; }
deb=$(find "$scratch/package" -maxdepth 1 -name 'peerbeacon_*.deb' | head -n 1)
if [ -z "$deb" ]; then
  fail "cpack made no peerbeacon_*.deb"
else
  packaged=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./||' | sort)
  [ "$packaged" = "$expected" ] ||
    fail "package files differ from the expected list:$(diff <(echo "$expected") <(echo "$packaged"))"
  info=$(dpkg-deb -I "$deb")
  for field in 'Package: peerbeacon' 'Section: net' "Architecture: $(dpkg --print-architecture)"; do
    grep -qxF " $field" <<<"$info" || fail "the package lacks the field '$field'"
  done
  grep -qE '^ Version: [0-9]+(\.[0-9]+)+$' <<<"$info" || fail "the package has no version"
  # The run-time libraries are found from the programs themselves.
  grep -qE '^ Depends: .*libc6' <<<"$info" || fail "the package does not depend on libc6"
  dpkg-deb -x "$deb" "$scratch/unpacked"
fi

[ "$failures" -eq 0 ] || exit 1

# 3. Each tree's host, run from elsewhere with no --plugin, starts its own tree's plug-in.
if [ "$(id -u)" != 0 ] || ! command -v ip >/dev/null; then
  echo "file checks passed; run check skipped: needs root and iproute2 for network namespaces"
  exit 77
fi
timeout -k 5 150 "$here/vlan.sh" with 1 -- "$0" --inside "$installed" "$scratch/unpacked"
echo "installed and packaged files are as expected; both installed hosts start their plug-in"
