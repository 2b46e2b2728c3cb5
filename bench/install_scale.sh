#!/bin/bash
# The whole-install benchmarks in one run, printed as one table: the real
# install job (bench/install_run) against unitsim units with a release in 20
# files, for 1, 10, 100 and 500 units, on loopback and on a 1 Gbit/s
# token-bucket link, each beside a plain TCP copy of the same total bytes
# over the same link. Then the idle cost of 1,000 jobs waiting for a login
# prompt that never comes (unitsim no-prompt) with the time from the job
# starter to the last "Connecting", and the discovery of 1,000 units.
#
# Every network here lives in namespaces the script creates and removes:
# loopback in one namespace of its own; the link as a veth pair between an
# installer namespace (10.8.0.1) and a units namespace (10.8.0.2, where all
# of 10.9.0.0/16 is local, so the units sit at 10.9.0.2 and up), with a tbf
# qdisc of 1 Gbit/s on both ends. Root is needed.
#
#   bench/install_scale.sh [--full] [--runs N] [--release MIB] [--counts "1 10"]
#                          [--links "loopback tbf"] [--no-idle] [--max-parallel N] [BUILD]
#   (BUILD defaults to build/linux-release, which needs ZEQ_BUILD_BENCH)
#
# Default sizes keep the machine usable: a 2 MiB release and 1 run. --full
# uses the 64 MiB release and 3 runs (500 units then move 32 GiB per run and
# store it on disk under BUILD; allow for the space and the time). --release
# and --counts choose other sizes; --links the links (both by default), and
# --no-idle leaves out the idle and discovery figures. --max-parallel N runs the
# whole program instead of the job alone: fieldloader --headless with that limit,
# the units given with --add, its wall time taken from its own event lines (the
# wave's start to its end) and its CPU from the whole process. With several runs the table gives the
# median of each figure and the ratio's minimum and median. The install
# job's ping lines go to standard output; only the figures are kept.
set -euo pipefail

full=0
runs=
release_mib=
counts="1 10 100 500"
links="loopback tbf"
idle=1
limit=
while [ $# -gt 0 ]; do
  case "$1" in
    --full) full=1; shift ;;
    --runs) runs=$2; shift 2 ;;
    --release) release_mib=$2; shift 2 ;;
    --counts) counts=$2; shift 2 ;;
    --links) links=$2; shift 2 ;;
    --no-idle) idle=0; shift ;;
    --max-parallel) limit=$2; shift 2 ;;
    *) break ;;
  esac
done
build=$(realpath "${1:-build/linux-release}")
run=$build/bench/install_run
unitsim=$build/unitsim/unitsim
program=$build/installer/shell/tui/fieldloader
if [ "$full" = 1 ]; then release=$((64 << 20)); runs=${runs:-3}; else release=$((2 << 20)); runs=${runs:-1}; fi
[ -n "$release_mib" ] && release=$((release_mib << 20))
files=20
idle_units=1000
port=5999

tag=zeqb$$
ns_lo=$tag-lo
ns_i=$tag-i
ns_u=$tag-u
work=$(mktemp -d "$build/install-scale.XXXXXX")
unitsim_pid=
cleanup() {
  [ -n "$unitsim_pid" ] && kill -TERM "$unitsim_pid" 2>/dev/null && wait "$unitsim_pid" 2>/dev/null
  for ns in "$ns_lo" "$ns_i" "$ns_u"; do ip netns del "$ns" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

make_namespaces() {
  ip netns add "$ns_lo"
  ip -n "$ns_lo" link set lo up
  ip netns add "$ns_i"
  ip netns add "$ns_u"
  ip -n "$ns_i" link set lo up
  ip -n "$ns_u" link set lo up
  ip -n "$ns_i" link add zqi type veth peer name zqu netns "$ns_u"
  ip -n "$ns_i" addr add 10.8.0.1/24 dev zqi
  ip -n "$ns_u" addr add 10.8.0.2/24 dev zqu
  ip -n "$ns_i" link set zqi up
  ip -n "$ns_u" link set zqu up
  ip -n "$ns_u" route add local 10.9.0.0/16 dev lo
  ip -n "$ns_i" route add 10.9.0.0/16 via 10.8.0.2
  # The burst holds one full-size segment of segmentation offload.
  for end in "$ns_i zqi" "$ns_u zqu"; do
    set -- $end
    tc -n "$1" qdisc add dev "$2" root tbf rate 1gbit burst 256kb latency 50ms
  done
}

# start_unitsim NAMESPACE OPTIONS...: starts unitsim there and waits for ready.
start_unitsim() {
  local ns=$1
  shift
  rm -f "$work/out"
  mkfifo "$work/out"
  ip netns exec "$ns" "$unitsim" "$@" --root "$work/files" --log /dev/null > "$work/out" &
  unitsim_pid=$!
  local line
  read -r line < "$work/out"
  [ "$line" = ready ] || { echo "unitsim: $line" >&2; exit 1; }
}

stop_unitsim() {
  kill -TERM "$unitsim_pid"
  wait "$unitsim_pid" 2>/dev/null || true
  unitsim_pid=
}

# field LINE NAME: the value of NAME=... in a line of install_run.
field() { sed -n "s/.*\\b$2=\\([^ ]*\\).*/\\1/p" <<< "$1"; }

# plain_copy INSTALLER_NS UNITS_NS SINK_ADDRESS BYTES: the copy's line.
plain_copy() {
  rm -f "$work/sink"
  mkfifo "$work/sink"
  ip netns exec "$2" "$run" sink "$port" > "$work/sink" &
  local sink=$! line
  read -r line < "$work/sink"
  ip netns exec "$1" "$run" copy "$3" "$port" "$4" | grep 'wall_s='
  wait "$sink"
}

# program_install INSTALLER_NS FIRST UNITS: the whole program's line, in the
# fields of install_run's: fieldloader --headless --max-parallel $limit on
# UNITS units from FIRST, with a release of the same files and script.
program_install() {
  local nsi=$1 first=$2 units=$3 adds=() i
  local folder=$work/program-release
  if [ ! -f "$folder/ftpdwnld.txt" ]; then
    mkdir -p "$folder"
    printf 'cd /opt/tarvo\n' > "$folder/ftpdwnld.txt"
    for ((i = 0; i < files; i++)); do
      head -c $((release / files + (i == files - 1 ? release % files : 0))) /dev/urandom > "$folder/f$i"
      echo "send f$i f$i" >> "$folder/ftpdwnld.txt"
    done
    printf '#!/bin/sh\r\n' > "$folder/install.script"
    printf 'cd /rsa\nsend install.script install.script\nauto_install\n' >> "$folder/ftpdwnld.txt"
  fi
  IFS=. read -r a b c d <<< "$first"
  local base=$(((a << 24) | (b << 16) | (c << 8) | d))
  for ((i = 0; i < units; i++)); do
    local n=$((base + i))
    adds+=(--add "$((n >> 24 & 255)).$((n >> 16 & 255)).$((n >> 8 & 255)).$((n & 255))")
  done
  rm -rf "$work/report" "$work/events"
  local TIMEFORMAT='%R %U %S'
  { time ip netns exec "$nsi" "$program" --headless --release "$folder" --report "$work/report" \
      --discover-seconds 1 --max-parallel "$limit" --events "$work/events" "${adds[@]}" \
      > "$work/program.out" 2>&1; } 2> "$work/program.time" || true
  local wall cpu ok
  wall=$(sed -n 's/.*"ms":\([0-9]*\).*"event":"wave_\(start\|end\)".*/\1/p' "$work/events" |
    awk 'NR == 1 { s = $1 } { e = $1 } END { printf "%.3f", (e - s) / 1000 }')
  cpu=$(awk '{ printf "%.3f", $2 + $3 }' "$work/program.time")
  ok=$(grep -c ',Finished,' "$work/report/fieldloader-report.csv" || true)
  echo "wall_s=$wall cpu_s=$cpu peak_threads=0 peak_rss_kib=0 succeeded=$ok"
}

# median of the numbers on standard input; min likewise.
median() { sort -g | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
minimum() { sort -g | head -n 1; }

# row LINK INSTALLER_NS UNITS_NS FIRST FROM SINK UNITS: runs and prints one row.
row() {
  local link=$1 nsi=$2 nsu=$3 first=$4 from=$5 sink=$6 units=$7
  local bytes=$((units * release)) i inst copy
  : > "$work/rows"
  for ((i = 0; i < runs; i++)); do
    if [ -n "$limit" ]; then
      inst=$(program_install "$nsi" "$first" "$units")
    else
      inst=$(ip netns exec "$nsi" "$run" install "$units" "$first" "$from" "$work" "$files" "$release" |
        grep 'wall_s=')
    fi
    rm -rf "$work/files"/*
    copy=$(plain_copy "$nsi" "$nsu" "$sink" "$bytes")
    awk -v b="$bytes" -v iw="$(field "$inst" wall_s)" -v ic="$(field "$inst" cpu_s)" \
        -v cw="$(field "$copy" wall_s)" -v cc="$(field "$copy" cpu_s)" \
        -v th="$(field "$inst" peak_threads)" -v rss="$(field "$inst" peak_rss_kib)" \
        -v ok="$(field "$inst" succeeded)" \
        'BEGIN { gib = b / 2^30; printf "%.3f %.1f %.1f %.3f %.3f %.3f %d %.1f %d\n",
                 iw, b / iw / 1e6, b / cw / 1e6, cw / iw, ic / gib, cc / gib, th, rss / 1024, ok }' \
        >> "$work/rows"
  done
  col() { awk -v c="$1" '{print $c}' "$work/rows"; }
  printf "%-9s %5d %9.1f %8s %9s %9s %6s %6s %9s %9s %7s %8s %5s/%d\n" "$link" "$units" \
    "$(awk -v b="$bytes" 'BEGIN{print b/1048576}')" "$(col 1 | median)" "$(col 2 | median)" \
    "$(col 3 | median)" "$(col 4 | minimum)" "$(col 4 | median)" "$(col 5 | median)" \
    "$(col 6 | median)" "$(col 7 | median)" "$(col 8 | median)" "$(col 9 | minimum)" "$units"
}

make_namespaces
max=${counts##* }
echo "release $((release >> 20)) MiB in $files files, $runs run(s) per row$([ "$full" = 1 ] && echo ', full sizes' || echo ' (--full: 64 MiB, 3 runs)')"
[ -n "$limit" ] && echo "install: fieldloader --headless --max-parallel $limit (threads and memory not sampled)"
printf "%-9s %5s %9s %8s %9s %9s %6s %6s %9s %9s %7s %8s %7s\n" link units MiB wall_s \
  inst_MB/s copy_MB/s r_min r_med inst_s/GiB copy_s/GiB threads rss_MiB success
if [[ " $links " == *" loopback "* ]]; then
  start_unitsim "$ns_lo" --units "$max"
  for n in $counts; do row loopback "$ns_lo" "$ns_lo" 127.0.0.2 127.0.0.1 127.0.0.1 "$n"; done
  stop_unitsim
fi
if [[ " $links " == *" tbf "* ]]; then
  start_unitsim "$ns_u" --defaults mask=255.255.0.0 --unit addr=10.9.0.2 --units $((max - 1))
  for n in $counts; do row tbf-1gbit "$ns_i" "$ns_u" 10.9.0.2 10.8.0.1 10.8.0.2 "$n"; done
  stop_unitsim
fi
echo "(ratio r = install throughput / plain copy throughput; CPU per GiB of the installer process and of the copy's sender)"
[ "$idle" = 1 ] || exit 0

echo
echo "idle: $idle_units jobs waiting for a login prompt that never comes (loopback)"
start_unitsim "$ns_lo" --defaults no-prompt --units "$idle_units"
ip netns exec "$ns_lo" "$run" idle "$idle_units" 127.0.0.2 127.0.0.1 5 | grep 'idle_core_pct='
stop_unitsim

echo
echo "discovery: $idle_units units from one query (bench/discovery_bench.sh)"
sh "$(dirname "$0")/discovery_bench.sh" "$build/bench/discovery_bench" "$unitsim" 2>&1 |
  grep -E '^BM_' || true
