#!/bin/sh
# wine_loader.sh: prints the Wine loader that runs the programs of a Windows build folder, or
# explains on stderr and exits 77 (skipped) when this machine cannot run that build.
#
#   PB_WINE=$(tests/wine_loader.sh WINDOWS_BUILD_DIR) || exit $?
#
# The build writes its loader to wine-loader: "wine" for the 32-bit build, the wine64 loader for
# the 64-bit test build. A build without that file is a 32-bit one.
dir=${1:?usage: wine_loader.sh WINDOWS_BUILD_DIR}
loader=wine
[ -f "$dir/wine-loader" ] && loader=$(head -n 1 "$dir/wine-loader")
if [ "$loader" = wine ] && ! sh "$(dirname "$0")/can_run_32bit.sh"; then
  echo "skipped: this machine cannot run 32-bit programs, so not the 32-bit Windows build" \
       "in $dir under Wine (the 64-bit build, preset windows64, runs under wine64)" >&2
  exit 77
fi
command -v "$loader" >/dev/null 2>&1 || { echo "skipped: no Wine loader $loader" >&2; exit 77; }
echo "$loader"
