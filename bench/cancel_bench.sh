#!/bin/bash
# Cancel at every step of the install job, measured (bench/cancel_run): for
# each of ping, route pause, login, file copy and install script, UNITS jobs
# (default 40, so 200 cancels in all) are cancelled at points spread over the
# step, and the table gives the time from CancelUnit to the job's end (min,
# median, 90th percentile, max, how many within 1 s) and the final status
# texts. Then the exit sequence in the middle of a run of 100 jobs (every
# unit cancelled 300 ms after the start, as StopAll does) three times: the
# time until the last job has ended, against the table's 5 s exit wait.
#
# Runs inside a private network namespace with only loopback up (root).
#
#   bench/cancel_bench.sh [BUILD] [UNITS]
#   (BUILD defaults to build/linux-release, which needs ZEQ_BUILD_BENCH)
set -euo pipefail
if [ "${ZEQ_IN_NETNS:-}" != 1 ]; then
  exec unshare --net --fork -- sh -c 'ip link set lo up && ZEQ_IN_NETNS=1 exec "$0" "$@"' "$0" "$@"
fi
build=$(realpath "${1:-build/linux-release}")
units=${2:-40}
work=$(mktemp -d "$build/cancel-bench.XXXXXX")
pid=
trap '[ -n "$pid" ] && kill -TERM $pid 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT

# One group of units per step, each on its own /24 of loopback.
mkfifo "$work/out"
"$build/unitsim/unitsim" --root "$work/files" --log /dev/null \
  --defaults no-echo --unit addr=127.0.1.2 --units $((units - 1)) \
  --defaults no-prompt --unit addr=127.0.2.2 --units $((units - 1)) \
  --defaults rate=1000000 --unit addr=127.0.3.2 --units $((units - 1)) \
  --defaults group=Default --unit addr=127.0.4.2 --units $((units - 1)) \
  --unit addr=127.0.5.2 --units 99 > "$work/out" &
pid=$!
read -r line < "$work/out"
[ "$line" = ready ] || { echo "unitsim: $line" >&2; exit 1; }

# The job's ping writes a line of its own on a failed echo, without a line
# end; it is taken out of the table.
run() { "$build/bench/cancel_run" "$@" | sed 's/IcmpSendEcho() failed, err: [0-9]*//g'; }
echo "cancel at every step: $units jobs per step, time from CancelUnit to the job's end (ms)"
printf "%-7s %5s %6s %8s %8s %8s %8s %6s  %s\n" step n missed min median p90 max "<=1s" \
  "final texts"
run ping "$units" 127.0.1.2 127.0.0.1 "$work"
run pause "$units" 127.0.1.2 127.0.0.1 "$work"
run login "$units" 127.0.2.2 127.0.0.1 "$work"
run file "$units" 127.0.3.2 127.0.0.1 "$work"
run script "$units" 127.0.4.2 127.0.0.1 "$work"

echo
echo "exit during a run of 100 jobs (8 MiB release in 20 files), cancel of all 300 ms in"
for i in 1 2 3; do
  "$build/bench/install_run" install 100 127.0.5.2 127.0.0.1 "$work" 20 $((8 << 20)) 300
  rm -rf "$work/files"/127.0.5.*
done
