#!/bin/sh
# Makes the Debian package of a Linux build with CPack and checks it: the
# package lists both programs, the polkit action and both manual pages, and
# lintian (when installed) reports no error.
#
# Usage: check-package.sh BUILD_DIR OUTPUT_DIR
set -u
build_dir=$1
output=$2
rm -rf "$output"
mkdir -p "$output"
cpack -G DEB --config "$build_dir/CPackConfig.cmake" -B "$output" >"$output/cpack.log" 2>&1 ||
  { cat "$output/cpack.log"; echo "FAIL: cpack"; exit 1; }
deb=$(ls "$output"/*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || { echo "FAIL: no package made"; exit 1; }
listing=$(dpkg-deb -c "$deb") || { echo "FAIL: dpkg-deb cannot read $deb"; exit 1; }
echo "$listing"
status=0
for path in ./usr/lib/fieldloader/fieldloader ./usr/lib/fieldloader/pathkeeper \
  ./usr/share/polkit-1/actions/org.tarvo.pathkeeper.policy \
  ./usr/share/man/man1/fieldloader.1.gz ./usr/share/man/man8/pathkeeper.8.gz \
  ./usr/share/doc/fieldloader/copyright; do
  if ! echo "$listing" | awk '{ print $6 }' | grep -q -x -F "$path"; then
    echo "FAIL: the package lacks $path"
    status=1
  fi
done
if command -v lintian >/dev/null; then
  report=$(lintian --fail-on error "$deb" 2>&1)
  code=$?
  # Root may run lintian too; it only warns about that.
  echo "$report" | grep -v 'running with root privileges'
  [ "$code" = 0 ] || { echo "FAIL: lintian reports errors"; status=1; }
else
  echo "lintian is not installed: its check is skipped"
fi
[ "$status" = 0 ] && echo "PASS"
exit $status
