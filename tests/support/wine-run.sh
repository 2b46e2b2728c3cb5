#!/bin/sh
# Runs a Windows test executable under wine inside a private network
# namespace. The wine prefix lives in the build tree and is made once; its
# first start takes seconds, so every test run reuses it.
set -e
here=$(cd "$(dirname "$0")" && pwd)
exe=$1
shift
build=$(cd "$(dirname "$exe")" && while [ ! -f CMakeCache.txt ] && [ "$PWD" != / ]; do cd ..; done; pwd)
export WINEPREFIX="${ZEQ_WINEPREFIX:-$build/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
(
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    ZEQ_WINE=1 "$here/netns-run.sh" sh -c 'wineboot --init; wineserver --wait' >/dev/null 2>&1 || true
  fi
) 9>"$build/.wineprefix.lock"
# Wine makes its sockets inside the wineserver, so each run needs a server
# started in its own namespace: any server left by an earlier run is ended
# first. Runs of one prefix therefore go one at a time (ctest -j 1).
ZEQ_WINE=1 exec "$here/netns-run.sh" sh -c 'wineserver -k 2>/dev/null; wine "$@"; status=$?; wineserver -k 2>/dev/null; exit $status' wine-run "$exe" "$@"
