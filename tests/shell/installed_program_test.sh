#!/bin/sh
# The program as the Linux package installs it: under /usr, shared by every
# release, and started from the release folder (cd /path/to/release &&
# fieldloader, through the link on PATH). It reads the release of the
# current folder, writes its log there, and writes nothing into its own
# folder. The /usr folder is a private tmpfs of the test's own mount
# namespace.
#
# Usage: installed_program_test.sh FIELDLOADER SCRATCH
set -u
fieldloader=$1
scratch=$2

. "$(dirname "$0")/script_support.sh"
require_netns
lib=/usr/local/lib
if [ ! -d "$lib" ] || ! mount -t tmpfs tmpfs "$lib" 2>/dev/null; then
  if [ "${CI:-}" = true ]; then echo "FAIL: cannot mount a tmpfs on $lib"; exit 1; fi
  echo "SKIP: cannot mount a tmpfs on $lib"; exit 77
fi
trap 'umount "$lib" 2>/dev/null' EXIT

rm -rf "$scratch"
mkdir -p "$scratch/release" "$scratch/bin" "$lib/fieldloader"
cp "$fieldloader" "$lib/fieldloader/fieldloader"
ln -s "$lib/fieldloader/fieldloader" "$scratch/bin/fieldloader"
printf 'x' >"$scratch/release/payload.bin"
printf 'cd /opt/tarvo\nsend payload.bin\n' >"$scratch/release/ftpdwnld.txt"

# No unit answers in the empty namespace: the release was read (no
# "Install corrupted") and the run ends with "no unit found".
(cd "$scratch/release" && PATH="$scratch/bin:$PATH" timeout 30 fieldloader --headless \
  --discover-seconds 0 >"$scratch/out" 2>"$scratch/err")
code=$?
[ "$code" = 2 ] || fail "exit code $code, not 2: $(cat "$scratch/err")"
grep -q "no unit found" "$scratch/err" || fail "the release was not read: $(cat "$scratch/err")"
[ -f "$scratch/release/fieldloader-output.log" ] || fail "no output log in the release folder"
[ "$(ls -A "$lib/fieldloader")" = fieldloader ] ||
  fail "the program wrote into its own folder: $(ls -A "$lib/fieldloader")"

# A release folder without a manifest is the current folder's fault.
mkdir -p "$scratch/empty"
(cd "$scratch/empty" && timeout 30 "$lib/fieldloader/fieldloader" --headless \
  --discover-seconds 0 >"$scratch/out" 2>"$scratch/err")
code=$?
[ "$code" = 2 ] || fail "empty folder: exit code $code, not 2"
grep -q "^ftpdwnld.txt cannot be read" "$scratch/err" || fail "no reason: $(cat "$scratch/err")"
[ "$(ls -A "$lib/fieldloader")" = fieldloader ] || fail "the program wrote into its own folder"
echo "PASS"
