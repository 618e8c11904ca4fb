#!/bin/sh
# Runs a Windows program under Wine: wine-run.sh [--wine=LOADER] PREFIX PROGRAM ARGS...
# LOADER is the Wine command to use ("wine" when not given; the 64-bit build names wine64).
loader=wine
case $1 in --wine=*) loader=${1#--wine=}; shift ;; esac
WINEPREFIX="$1"; shift
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:-fixme-all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
exec "$loader" "$@"
