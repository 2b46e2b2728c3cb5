#!/bin/sh
# Runs a benchmark against simulated units: enters a private network
# namespace with only loopback up (root needed for the real ports), starts
# unitsim with the given unit options, storing under a fresh folder inside
# PARENT, waits for its "ready", runs the command with ZEQ_BENCH_ROOT naming
# that folder, and stops unitsim and removes the folder afterwards.
#
#   bench/with-unitsim.sh PARENT UNITSIM "UNIT OPTIONS" COMMAND [ARGS...]
set -e
if [ "${ZEQ_IN_NETNS:-}" != 1 ]; then
  exec unshare --net --fork -- sh -c 'ip link set lo up && ZEQ_IN_NETNS=1 exec "$0" "$@"' "$0" "$@"
fi
parent=$1
unitsim=$2
units=$3
shift 3
work=$(mktemp -d "$parent/unitsim-bench.XXXXXX")
trap 'kill -TERM $pid 2>/dev/null; wait $pid 2>/dev/null; rm -rf "$work"' EXIT
mkfifo "$work/out"
# shellcheck disable=SC2086
"$unitsim" $units --root "$work/files" --log "$work/events.jsonl" > "$work/out" &
pid=$!
read -r line < "$work/out"
[ "$line" = ready ] || { echo "unitsim: $line" >&2; exit 1; }
ZEQ_BENCH_ROOT=$work "$@"
