#!/usr/bin/env bash
# check_exports.sh: a module exports exactly the functions of include/peerbeacon_exports.h, by
# undecorated name.
#
#   check_exports.sh MODULE      (an ELF shared object or a PE32 DLL)
set -euo pipefail
module=$1
top=$(cd "$(dirname "$0")/.." && pwd)
list=$top/include/peerbeacon_exports.h
# The names as the build reads them to write the modules' export lists.
expected=$(cmake -DHEADER="$list" -P "$top/cmake/ExportList.cmake")
[ -n "$expected" ] || { echo "no export names read from $list"; exit 1; }
[ -f "$module" ] || { echo "skipped: no module at $module"; exit 77; }
if [ "$(head -c 2 "$module")" = MZ ]; then
  command -v i686-w64-mingw32-objdump >/dev/null || { echo "skipped: no objdump for PE"; exit 77; }
  dump=$(i686-w64-mingw32-objdump -p "$module")
  grep -q 'Magic.*(PE32)' <<<"$dump" || { echo "not a PE32 module"; exit 1; }
  found=$(echo "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
          sed -nE 's/^\s*\[ *[0-9]+\] (.*)$/\1/p')
  # Only system DLLs may be imported: no C++ runtime, libgcc or winpthread DLL.
  imports=$(echo "$dump" | sed -nE 's/^\s*DLL Name: (.*)$/\1/p' | tr 'a-z' 'A-Z')
  for dll in $imports; do
    case $dll in
      ADVAPI32.DLL | COMDLG32.DLL | GDI32.DLL | KERNEL32.DLL | MSVCRT.DLL | USER32.DLL | WSOCK32.DLL) ;;
      *) echo "imports a DLL that is not the system's: $dll"; exit 1 ;;
    esac
  done
else
  found=$(nm -D --defined-only "$module" | awk '{print $NF}')
fi
want=$(echo "$expected" | sort)
got=$(echo "$found" | sort)
if [ "$want" != "$got" ]; then
  echo "exports differ from the list in $list (< listed, > exported):"
  diff <(echo "$want") <(echo "$got") || true
  exit 1
fi
echo "passed: $(echo "$got" | wc -l) exports, as listed"
