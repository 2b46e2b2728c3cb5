#!/bin/sh
# Runs install_bench against 100 unitsim units at 127.0.0.2 and up. The
# units store what they receive under the benchmark's build folder (about
# 1.6 GB per run, removed afterwards), not in a memory-backed /tmp.
#
#   bench/install_bench.sh [INSTALL_BENCH] [UNITSIM] [benchmark options...]
#   (defaults: build/linux-release/bench/install_bench and
#    build/linux-release/unitsim/unitsim)
set -e
bench=${1:-build/linux-release/bench/install_bench}
unitsim=${2:-build/linux-release/unitsim/unitsim}
[ $# -gt 0 ] && shift
[ $# -gt 0 ] && shift
exec sh "$(dirname "$0")/with-unitsim.sh" "$(dirname "$bench")" "$unitsim" "--units 100" \
  "$bench" "$@"
