#!/bin/sh
# Runs a Windows test program under Wine with a prefix inside the build tree.
# The caller (scripts/test.sh) starts a persistent wineserver first.
: "${WINEPREFIX:=${MARVANE_WINEPREFIX:-$(pwd)/wineprefix}}"
export WINEPREFIX WINEDEBUG=-all
exec wine "$@"
