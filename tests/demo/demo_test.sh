#!/bin/sh
# The README's main job, end to end, against the programs of this build:
# tools/demo installs its sample release onto the simulated fleet and exits
# 0 only when every unit ended with its expected status text. Afterwards
# nothing of the demo may be left: no process running from its temporary
# folder, and not the folder itself.
#
# Usage: demo_test.sh SOURCE_DIR BUILD_DIR MODE (headless or screenshot)
set -u
source_dir=$1
build_dir=$2
mode=$3

if [ "$(id -u)" != 0 ] && ! unshare --user --map-root-user --net true 2>/dev/null; then
  if [ "${CI:-}" = true ]; then echo "FAIL: no namespaces for the demo"; exit 1; fi
  echo "SKIP: the demo needs root or unprivileged user namespaces"
  exit 77
fi
command -v tmux >/dev/null || { echo "SKIP: no tmux"; exit 77; }

scratch=$build_dir/test-scratch/demo
rm -rf "$scratch"
mkdir -p "$scratch"
if [ "$mode" = headless ]; then
  TMPDIR=$scratch sh "$source_dir/tools/demo" --headless --build-dir "$build_dir"
else
  TMPDIR=$scratch sh "$source_dir/tools/demo" --screenshot "$scratch/screen.png" --build-dir "$build_dir"
fi
status=$?
[ "$status" = 0 ] || { echo "FAIL: the demo ended with exit code $status"; exit 1; }

# Every program of the demo runs from its temporary folder inside $scratch.
left=$(ps -eo pid=,args= | grep -F "$scratch/fieldloader-demo" | grep -v grep)
[ -z "$left" ] || { echo "FAIL: processes left behind:"; echo "$left"; exit 1; }
folders=$(ls -d "$scratch"/fieldloader-demo.* 2>/dev/null)
[ -z "$folders" ] || { echo "FAIL: temporary folder left behind: $folders"; exit 1; }
echo "PASS"
