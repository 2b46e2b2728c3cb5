#!/bin/sh
# Runs putfile_bench against its in-process unit and, side by side in the
# same run, against a unitsim unit at 127.0.0.2 (port 4877), inside a private
# network namespace with only loopback up (root needed for the namespace).
#
#   bench/putfile_bench.sh [PUTFILE_BENCH] [UNITSIM] [benchmark options...]
#   (defaults: build/linux-release/bench/putfile_bench and
#    build/linux-release/unitsim/unitsim)
set -e
bench=${1:-build/linux-release/bench/putfile_bench}
unitsim=${2:-build/linux-release/unitsim/unitsim}
[ $# -gt 0 ] && shift
[ $# -gt 0 ] && shift
exec sh "$(dirname "$0")/with-unitsim.sh" "${TMPDIR:-/tmp}" "$unitsim" "--unit addr=127.0.0.2" \
  env ZEQ_BENCH_UNIT=127.0.0.2 "$bench" "$@"
