#!/bin/sh
# Runs putfile_bench inside a private network namespace with only loopback
# up, against its in-process unit and, side by side in the same run, against
# a unitsim unit at 127.0.0.2 (port 4877; root needed for the namespace).
#
#   bench/putfile_bench.sh [PUTFILE_BENCH] [UNITSIM] [benchmark options...]
#   (defaults: build/linux-release/bench/putfile_bench and
#    build/linux-release/unitsim/unitsim)
set -e
if [ "${ZEQ_IN_NETNS:-}" != 1 ]; then
  exec unshare --net --fork -- sh -c 'ip link set lo up && ZEQ_IN_NETNS=1 exec "$0" "$@"' "$0" "$@"
fi
bench=${1:-build/linux-release/bench/putfile_bench}
unitsim=${2:-build/linux-release/unitsim/unitsim}
[ $# -gt 0 ] && shift
[ $# -gt 0 ] && shift
work=$(mktemp -d)
trap 'kill -TERM $pid 2>/dev/null; wait $pid 2>/dev/null; rm -rf "$work"' EXIT
mkfifo "$work/out"
"$unitsim" --unit addr=127.0.0.2 --root "$work/files" --log "$work/events.jsonl" > "$work/out" &
pid=$!
read -r line < "$work/out"
[ "$line" = ready ] || { echo "unitsim: $line" >&2; exit 1; }
ZEQ_BENCH_UNIT=127.0.0.2 "$bench" "$@"
