#!/bin/sh
# Runs a Windows test executable under wine inside a private network
# namespace, with everything wine needs up before the test program starts:
#
# - The prefix lives in the build tree and is made once, by one wineboot. It
#   counts as made only when that wineboot and its server have ended (the
#   marker file .zeq-prefix-made); a prefix without the marker, left by a run
#   that was cut short, is made again from nothing.
# - Wine makes its sockets inside the wineserver, so each program gets a
#   server in its own namespace. Any server of the prefix left by an earlier
#   run is ended first; then this run's server is started on its own,
#   persistent, so that it is listening before the first wine process and
#   never begins to shut down between two of them; then the wine session is
#   booted (wineboot with its services) by a first process that does nothing
#   else. Only then does the test program start, so neither it nor the
#   programs it starts in turn ever race the server's start or the session's
#   boot.
# - One lock serialises all of this for the prefix, from its making to the
#   end of the run: a prefix is never made by two runs at once, and no run
#   ends the server another is using.
#
# ZEQ_WINE_PREPARE, when set, is a shell command run in the booted session
# before the program (the display launcher sets wine's window options).
set -e
here=$(cd "$(dirname "$0")" && pwd)
exe=$1
shift
build=$(cd "$(dirname "$exe")" && while [ ! -f CMakeCache.txt ] && [ "$PWD" != / ]; do cd ..; done; pwd)
export WINEPREFIX="${ZEQ_WINEPREFIX:-$build/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
exec 9>"$build/.wineprefix.lock"
flock 9
if [ ! -f "$WINEPREFIX/.zeq-prefix-made" ]; then
  rm -rf "$WINEPREFIX"
  if ZEQ_WINE=1 "$here/netns-run.sh" sh -c 'wineboot --init && wineserver --wait' 9>&- >/dev/null 2>&1; then
    touch "$WINEPREFIX/.zeq-prefix-made"
  else
    echo "wine-run.sh: cannot make the wine prefix $WINEPREFIX" >&2
    exit 1
  fi
fi
# The lock stays with this shell only: wine processes and the server get no
# copy of it, so a process that outlives the run cannot hold it.
ZEQ_WINE=1 exec "$here/netns-run.sh" sh -c '
  wineserver -k 9>&- 2>/dev/null || true
  wineserver -p 9>&- || { echo "wine-run.sh: cannot start the wineserver" >&2; exit 1; }
  wine wineboot --help 9>&- >/dev/null 2>&1 || true
  if [ -n "${ZEQ_WINE_PREPARE:-}" ]; then sh -c "$ZEQ_WINE_PREPARE" 9>&- || true; fi
  status=0
  wine "$@" 9>&- || status=$?
  wineserver -k 9>&- 2>/dev/null || true
  exit $status' wine-run "$exe" "$@"
