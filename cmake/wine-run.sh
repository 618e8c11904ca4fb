#!/bin/sh
# Runs a Windows program under Wine: wine-run.sh PREFIX PROGRAM ARGS...
WINEPREFIX="$1"; shift
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:-fixme-all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
exec wine "$@"
