#!/usr/bin/env bash
# Source this: a Wine prefix of the Windows build's own (WINEPREFIX, default
# $BUILD_DIR/wineprefix), made on first use; a persistent wineserver, so that Wine's background
# processes do not inherit the pipes of whatever runs the programs (ctest, $(...)) and keep it
# waiting; and zevflashfile5.dll and mediakit.dll registered machine-wide (regsvr32).
#   BUILD_DIR=build-windows . scripts/wine-prefix.sh
BUILD_DIR=${BUILD_DIR:-build-windows}
export WINEPREFIX=${WINEPREFIX:-$PWD/$BUILD_DIR/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export DISPLAY=
mkdir -p "$WINEPREFIX"
# The server first, detached from our standard streams: everything Wine starts later talks to it.
wineserver -p </dev/null >/dev/null 2>&1 || true  # fails when one already runs
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i </dev/null >/dev/null 2>&1
fi
wine regsvr32 /s "$BUILD_DIR/bin/mediakit.dll" "$BUILD_DIR/bin/zevflashfile5.dll" \
  </dev/null >/dev/null 2>&1
