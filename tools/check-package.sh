#!/bin/sh
# Makes the package of a build with CPack and checks it. A Linux build's
# Debian package must list both programs, the link that puts fieldloader on
# PATH, the polkit action, both manual
# pages and the copyright file, and lintian (when installed) must report no
# error (and, for a release build, no hardening tag). A Windows build's zip
# must hold both programs and the sample manifest, and both programs must ask
# for address space randomisation (64-bit) and non-executable data.
#
# Usage: check-package.sh BUILD_DIR OUTPUT_DIR
set -u
build_dir=$1
output=$2
rm -rf "$output"
mkdir -p "$output"
if grep -q 'CPACK_GENERATOR "ZIP"' "$build_dir/CPackConfig.cmake"; then
  generator=ZIP
  wanted="fieldloader.exe pathkeeper.exe ftpdwnld.txt"
else
  generator=DEB
  wanted="./usr/bin/fieldloader ./usr/lib/fieldloader/fieldloader ./usr/lib/fieldloader/pathkeeper
    ./usr/share/polkit-1/actions/org.tarvo.pathkeeper.policy
    ./usr/share/man/man1/fieldloader.1.gz ./usr/share/man/man8/pathkeeper.8.gz
    ./usr/share/doc/fieldloader/copyright"
fi
cpack -G "$generator" --config "$build_dir/CPackConfig.cmake" -B "$output" >"$output/cpack.log" 2>&1 ||
  { cat "$output/cpack.log"; echo "FAIL: cpack"; exit 1; }
package=$(ls "$output"/*.deb "$output"/*.zip 2>/dev/null | head -n 1)
[ -n "$package" ] || { echo "FAIL: no package made"; exit 1; }

# One path a line: dpkg-deb's listing has it in its sixth column; the zip's
# entries sit in a top folder named after the package.
if [ "$generator" = DEB ]; then
  listing=$(dpkg-deb -c "$package" | awk '{ print $6 }') || { echo "FAIL: dpkg-deb cannot read $package"; exit 1; }
else
  listing=$(cd "$output" && cmake -E tar tf "$package" | sed 's|^[^/]*/||') || { echo "FAIL: cannot read $package"; exit 1; }
fi
echo "$listing"
status=0
for path in $wanted; do
  if ! echo "$listing" | grep -q -x -F "$path"; then
    echo "FAIL: the package lacks $path"
    status=1
  fi
done
release=false
grep -q '^CMAKE_BUILD_TYPE:STRING=Release$' "$build_dir/CMakeCache.txt" && release=true
if [ "$generator" = DEB ] && command -v lintian >/dev/null; then
  report=$(lintian --display-info --fail-on error "$package" 2>&1)
  code=$?
  # Root may run lintian too; it only warns about that.
  echo "$report" | grep -v 'running with root privileges'
  [ "$code" = 0 ] || { echo "FAIL: lintian reports errors"; status=1; }
  # The sanitizer builds cannot have fortified functions; a release must.
  if $release && echo "$report" | grep -q 'hardening-'; then
    echo "FAIL: lintian reports a hardening tag"
    status=1
  fi
elif [ "$generator" = DEB ]; then
  echo "lintian is not installed: its check is skipped"
fi
if [ "$generator" = ZIP ]; then
  # DllCharacteristics: HIGH_ENTROPY_VA 0x20, DYNAMIC_BASE 0x40, NX_COMPAT 0x100.
  unpacked="$output/unpacked"
  mkdir -p "$unpacked" && (cd "$unpacked" && cmake -E tar xf "$package") || status=1
  for program in fieldloader.exe pathkeeper.exe; do
    file=$(find "$unpacked" -name "$program" | head -n 1)
    flags=$(x86_64-w64-mingw32-objdump -p "$file" 2>/dev/null | awk '$1 == "DllCharacteristics" { print $2 }')
    if [ -z "$flags" ] || [ $((0x$flags & 0x160)) != $((0x160)) ]; then
      echo "FAIL: $program has DllCharacteristics ${flags:-unreadable}, not 0x160 set"
      status=1
    else
      echo "$program: DllCharacteristics $flags"
    fi
  done
fi
[ "$status" = 0 ] && echo "PASS"
exit $status
