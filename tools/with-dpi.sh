#!/usr/bin/env bash
# Runs a command of the Windows test tree under one display scale: Wine's DPI is the prefix's
# HKCU\Control Panel\Desktop\LogPixels, read when a process starts, so each DPI gets a copy of
# the tree's prefix of its own (made once, in about 3 s), and wine-run.sh is pointed at it.
# 96 is the tree's own prefix.
#   WINE_PREFIX=<tree>/wineprefix tools/with-dpi.sh DPI COMMAND [ARGUMENT...]
set -euo pipefail
dpi=${1:?usage: with-dpi.sh DPI COMMAND...}
shift
base=${WINE_PREFIX:?WINE_PREFIX names the tree prefix}
here=$(cd "$(dirname "$0")" && pwd)
if [ "$dpi" != 96 ]; then
  prefix=$base-dpi$dpi
  exec 9>"$prefix.lock"
  flock 9
  if [ ! -f "$prefix/.tarvelo-dpi-ready" ]; then
    [ -f "$base/.tarvelo-ready" ] || bash "$here/wine-prefix.sh" "$base" >&2
    rm -rf "$prefix"
    cp -a "$base" "$prefix"
    (
      export WINEPREFIX=$prefix
      source "$here/wine-env.sh"
      $WINE reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
      wineserver -w
    )
    touch "$prefix/.tarvelo-dpi-ready"
  fi
  flock -u 9
  exec 9>&-
  export TARVELO_WINEPREFIX=$prefix
fi
export TARVELO_TEST_DPI=$dpi
exec "$@"
