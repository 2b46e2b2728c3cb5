#!/usr/bin/env bash
# Builds the fuzz targets (preset linux-fuzz: clang, libFuzzer, ASan and UBSan)
# and runs each of them for a bounded time from its seed corpus. The time
# budget, FUZZ_SECONDS (default 60), is shared out evenly between the targets.
# With --long each target runs instead until it has executed FUZZ_RUNS inputs
# (default 10^7), however long that takes: a deep run, not one for CI.
# Any finding (crash, sanitizer report, leak, time-out, failed check) fails the
# script; the reproducing input is left in the artifacts folder. Prints the
# executions run per target and in all, and their rate.
#
# Usage: tools/run-fuzz.sh [--long] [TARGET...]
# Naming targets (as in fuzz-targets.txt, e.g. record_read_fuzz) runs only those.
#
# Environment:
#   FUZZ_SECONDS    total time budget in seconds (default 60)
#   FUZZ_RUNS       executions per target with --long (default 10000000)
#   FUZZ_BUILD_DIR  build directory (default build/linux-fuzz, the preset's)
#   FUZZ_MAX_LEN    longest input in bytes (default 1600: a 1500-byte
#                   datagram with room for the targets' control bytes)
#   FUZZ_JOBS       parallel build jobs (default 2)
set -euo pipefail

long=0
if [ "${1:-}" = --long ]; then
  long=1
  shift
fi
case "${1:-}" in
  -*) echo "usage: $0 [--long] [TARGET...]" >&2; exit 2 ;;
esac
wanted=" $* "

root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build/linux-fuzz}
budget=${FUZZ_SECONDS:-60}
max_len=${FUZZ_MAX_LEN:-1600}
# libFuzzer's schedule favours inputs with rare features, and on every
# execution it looks up each feature hit in its list of rare ones. With its
# default (rare: hit fewer than 255 times) those lookups took half of the time
# of the record and manifest targets once their corpus was deep. Features hit
# fewer than 16 times are still rare; with that threshold deep corpora of the
# manifest and discovery-reply targets ran at 1.8-2.5 times the rate, and 300 s
# from the seeds 1.15 (records) and 1.27 (manifest) times, to the same coverage.
rare_below=16

cd "$root"
cmake --preset linux-fuzz -B "$build" >/dev/null
cmake --build "$build" -j"${FUZZ_JOBS:-2}" --target fuzz_targets

list="$build/fuzz/fuzz-targets.txt"
mapfile -t all_targets < "$list"
targets=()
for line in "${all_targets[@]}"; do
  if [ "$wanted" = "  " ] || [[ "$wanted" == *" ${line%% *} "* ]]; then
    targets+=("$line")
  fi
done
if [ "${#targets[@]}" -eq 0 ]; then
  echo "run-fuzz: no fuzz target in $list matches: $*" >&2
  exit 1
fi
each=$(( budget / ${#targets[@]} ))
[ "$each" -ge 1 ] || each=1
if [ "$long" = 1 ]; then
  runs_wanted=${FUZZ_RUNS:-10000000}
  limit=(-runs="$runs_wanted")
  span="until $runs_wanted executions"
else
  limit=(-max_total_time="$each")
  span="for ${each}s"
fi

status=0
total=0
for line in "${targets[@]}"; do
  read -r name exe seeds <<< "$line"
  # New inputs go to a working corpus in the build tree, never into the seeds.
  work="$build/fuzz/corpus-$name"
  artifacts="$build/fuzz/artifacts-$name"
  mkdir -p "$work" "$artifacts"
  log="$build/fuzz/$name.log"
  echo "run-fuzz: $name $span (max_len $max_len)"
  started=$(date +%s)
  if "$exe" "${limit[@]}" -max_len="$max_len" -timeout=10 -rss_limit_mb=2048 \
      -entropic_feature_frequency_threshold="$rare_below" -print_final_stats=1 \
      -artifact_prefix="$artifacts/" "$work" "$seeds" > "$log" 2>&1; then
    result=ok
  else
    result=FINDING
    status=1
    tail -n 40 "$log" >&2
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  runs=${runs:-0}
  total=$(( total + runs ))
  seconds=$(( $(date +%s) - started ))
  [ "$seconds" -ge 1 ] || seconds=1
  echo "run-fuzz: $name $result, $runs executions in ${seconds}s, $(( runs / seconds ))/s (log $log)"
done
echo "run-fuzz: $total executions in all"
exit $status
