#!/bin/sh
# Runs discovery_bench against 1,000 unitsim units at 127.0.0.2 and up, in a
# private network namespace. The probe's list file is written into the
# benchmark's scratch folder, which is its current folder.
#
#   bench/discovery_bench.sh [DISCOVERY_BENCH] [UNITSIM] [benchmark options...]
#   (defaults: build/linux-release/bench/discovery_bench and
#    build/linux-release/unitsim/unitsim)
set -e
bench=$(realpath "${1:-build/linux-release/bench/discovery_bench}")
unitsim=$(realpath "${2:-build/linux-release/unitsim/unitsim}")
[ $# -gt 0 ] && shift
[ $# -gt 0 ] && shift
exec sh "$(dirname "$0")/with-unitsim.sh" "$(dirname "$bench")" "$unitsim" "--units 1000" \
  sh -c 'cd "$ZEQ_BENCH_ROOT" && exec "$0" "$@"' "$bench" "$@"
