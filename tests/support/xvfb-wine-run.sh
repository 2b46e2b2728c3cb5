#!/bin/sh
# Runs a Windows test program that opens windows: under wine on a virtual X
# display (xvfb-run -a), inside the test's private network namespace. The
# program may ask for a picture of the screen: it writes a PNG file name into
# $ZEQ_SCREENSHOT_DIR/request and waits for $ZEQ_SCREENSHOT_DIR/taken; the
# watcher started here then runs `import -window root` while the program
# keeps its windows painted, as often as the program asks. The pictures stay in <build>/screenshots.
set -e
here=$(cd "$(dirname "$0")" && pwd)
exe=$1
shift
build=$(cd "$(dirname "$exe")" && while [ ! -f CMakeCache.txt ] && [ "$PWD" != / ]; do cd ..; done; pwd)
shots="$build/screenshots"
mkdir -p "$shots"
rm -f "$shots/request" "$shots/taken"
# Wine reaches the Linux file system through drive Z:.
export ZEQ_SCREENSHOT_DIR="Z:$shots"
export WINEPREFIX="${ZEQ_WINEPREFIX:-$build/wineprefix}"
# The virtual display has no window manager to draw title bars, so wine
# draws its own: wine-run.sh sets that in the booted session, before the
# program starts.
export ZEQ_WINE_PREPARE='wine reg add "HKCU\\Software\\Wine\\X11 Driver" /v Decorated /d N /f >/dev/null 2>&1'
ZEQ_WINE=1 exec "$here/netns-run.sh" xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
  here=$1 shots=$2
  shift 2
  # The watcher serves every request until the program ends.
  (
    while :; do
      while [ ! -f "$shots/request" ]; do sleep 0.1; done
      import -window root "$shots/$(cat "$shots/request")" && touch "$shots/taken"
      rm -f "$shots/request"
    done
  ) &
  watcher=$!
  status=0
  "$here/wine-run.sh" "$@" || status=$?
  kill $watcher 2>/dev/null || true
  exit $status' xvfb-wine-run "$here" "$shots" "$exe" "$@"
