# The CTest fixture that prepares one Wine prefix for every Windows test and stops its server.
#
# wine_prefix_setup starts a persistent wineserver for ${PB_WINEPREFIX}, initialises the prefix
# on first use and maps the Japanese dialog fonts to IPAPGothic; wine_prefix_cleanup stops the
# server. ${PB_WINE} is the Wine loader of this build (wine, or wine64 for the 64-bit test
# build). Wine's background processes outlive the command that starts them and would keep
# ctest's output pipes open, so every Wine process here gets /dev/null or a log file instead.
set(_pb_wine_log "${PB_WINEPREFIX}-setup.log")
set(_pb_wine_env
    "export WINEPREFIX='${PB_WINEPREFIX}' WINEDEBUG=fixme-all WINEDLLOVERRIDES='mscoree,mshtml='")

file(CONFIGURE OUTPUT "${CMAKE_BINARY_DIR}/wine-prefix-setup.sh" @ONLY
     CONTENT [=[#!/bin/sh
# Generated: prepares the Wine prefix of this build tree (the wine_prefix test fixture).
@_pb_wine_env@
log='@_pb_wine_log@'
wine='@PB_WINE@'
mkdir -p "$WINEPREFIX" || exit 1
: > "$log"
wineserver -p < /dev/null > /dev/null 2>&1 || { echo "wineserver -p failed"; exit 1; }
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$wine" wineboot -i < /dev/null >> "$log" 2>&1 || { echo "wineboot -i failed, see $log"; exit 1; }
fi
# The font names reach Wine as UTF-8 text, which needs a UTF-8 locale.
for font in "MS UI Gothic" "MS PGothic" "MS Shell Dlg" "MS Shell Dlg 2" "ＭＳ Ｐゴシック"; do
  LC_ALL=C.UTF-8 "$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$font" \
      /d IPAPGothic /f < /dev/null >> "$log" 2>&1 ||
    { echo "font replacement for $font failed, see $log"; exit 1; }
done
echo "Wine prefix ready: $WINEPREFIX"
]=])

file(CONFIGURE OUTPUT "${CMAKE_BINARY_DIR}/wine-prefix-cleanup.sh" @ONLY
     CONTENT [=[#!/bin/sh
# Generated: stops the persistent wineserver of this build tree's prefix.
@_pb_wine_env@
wineserver -k < /dev/null > /dev/null 2>&1
exit 0
]=])

add_test(NAME wine_prefix_setup COMMAND sh "${CMAKE_BINARY_DIR}/wine-prefix-setup.sh")
add_test(NAME wine_prefix_cleanup COMMAND sh "${CMAKE_BINARY_DIR}/wine-prefix-cleanup.sh")
set_tests_properties(wine_prefix_setup PROPERTIES FIXTURES_SETUP wine_prefix TIMEOUT 300
                                                  LABELS "unit;wine")
set_tests_properties(wine_prefix_cleanup PROPERTIES FIXTURES_CLEANUP wine_prefix TIMEOUT 60
                                                    LABELS "unit;wine")
