#!/bin/sh
# Runs install_bench inside a private network namespace with only loopback
# up, against 100 unitsim units at 127.0.0.2 and up (root needed for the
# namespace). The units store what they receive under the build folder
# (about 1.6 GB per run, removed afterwards), not in a memory-backed /tmp.
#
#   bench/install_bench.sh [INSTALL_BENCH] [UNITSIM] [benchmark options...]
#   (defaults: build/linux-release/bench/install_bench and
#    build/linux-release/unitsim/unitsim)
set -e
if [ "${ZEQ_IN_NETNS:-}" != 1 ]; then
  exec unshare --net --fork -- sh -c 'ip link set lo up && ZEQ_IN_NETNS=1 exec "$0" "$@"' "$0" "$@"
fi
bench=${1:-build/linux-release/bench/install_bench}
unitsim=${2:-build/linux-release/unitsim/unitsim}
[ $# -gt 0 ] && shift
[ $# -gt 0 ] && shift
work=$(mktemp -d "$(dirname "$bench")/install-bench.XXXXXX")
trap 'kill -TERM $pid 2>/dev/null; wait $pid 2>/dev/null; rm -rf "$work"' EXIT
mkfifo "$work/out"
"$unitsim" --units 100 --root "$work/files" --log /dev/null > "$work/out" &
pid=$!
read -r line < "$work/out"
[ "$line" = ready ] || { echo "unitsim: $line" >&2; exit 1; }
ZEQ_BENCH_ROOT=$work "$bench" "$@"
