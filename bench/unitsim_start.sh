#!/bin/sh
# How long unitsim takes to bring up N simulated units: from starting the
# program to its "ready" line (every unit's sockets bound and listening), over
# several runs, and what the program itself logged as the time of readiness.
# Runs inside a private network namespace with only loopback up, as the tests
# do (root needed for the real ports).
#
#   bench/unitsim_start.sh [UNITSIM] [UNITS] [RUNS]
#   (defaults: build/sim-linux/unitsim/unitsim 100 10)
set -e
if [ "${ZEQ_IN_NETNS:-}" != 1 ]; then
  exec unshare --net --fork -- sh -c 'ip link set lo up && ZEQ_IN_NETNS=1 exec "$0" "$@"' "$0" "$@"
fi
unitsim=${1:-build/sim-linux/unitsim/unitsim}
units=${2:-100}
runs=${3:-10}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkfifo "$work/out"
now_us() { echo $(($(date +%s%N) / 1000)); }
echo "unitsim start-up, $units units, $runs runs"
i=0
while [ $i -lt $runs ]; do
  rm -rf "$work/files"
  start=$(now_us)
  "$unitsim" --units "$units" --root "$work/files" --log "$work/events.jsonl" > "$work/out" &
  pid=$!
  read -r line < "$work/out"
  ready=$(now_us)
  kill -TERM $pid
  wait $pid
  internal=$(sed -n 's/^{"t":\([0-9]*\),"event":"ready".*/\1/p' "$work/events.jsonl")
  echo "run $i: $line after $(( (ready - start) / 1000 )).$(( (ready - start) % 1000 / 100 )) ms" \
       "(logged at t=$internal ms)"
  i=$((i + 1))
done
