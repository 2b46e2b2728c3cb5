#!/bin/sh
# The text front end refuses a terminal it cannot use before anything
# starts: standard input or output not a terminal, an unknown terminal type,
# one that cannot move the cursor, one smaller than 80 x 24. Each gives one
# line on standard error that names the fault and points to --headless, and
# exit code 2, at once (every run is bounded by timeout: a program that
# waits for keys that never come fails here instead of hanging).
#
# A terminal that hangs up during an install ends the program as Exit does,
# even when the hang-up signal is ignored (as under nohup), instead of
# leaving it spinning on a dead terminal: the run is cancelled, its report
# written, and the exit code is 1.
#
# Usage: tui_terminal_test.sh FIELDLOADER UNITSIM SCRATCH
set -u
fieldloader=$1
unitsim=$2
scratch=$3

. "$(dirname "$0")/script_support.sh"
require_netns
command -v tmux >/dev/null || { echo "SKIP: no tmux"; exit 77; }

rm -rf "$scratch"
mkdir -p "$scratch/release" "$scratch/broken" "$scratch/files"
release=$scratch/release
cp "$fieldloader" "$release/fieldloader"
cp "$fieldloader" "$scratch/broken/fieldloader"
printf 'x' >"$release/payload.bin"
printf 'cd /opt/tarvo\nsend payload.bin\n' >"$release/ftpdwnld.txt"
socket="zeq-term-$$"
sim=
cleanup() {
  tmux -L "$socket" kill-server 2>/dev/null
  [ -z "$sim" ] || { kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null; }
}
trap cleanup EXIT

# expect_refusal NAME CODE FILE TEXT: the run ended with code 2 and one line
# on standard error naming the fault and --headless.
expect_refusal() {
  [ "$2" = 2 ] || fail "$1: exit code $2, not 2"
  [ "$(wc -l <"$3")" -eq 1 ] || fail "$1: not one line on standard error: $(cat "$3")"
  grep -q -- "$4" "$3" || fail "$1: the line does not say \"$4\": $(cat "$3")"
  grep -q -- "--headless" "$3" || fail "$1: the line does not suggest --headless"
}

# Not a terminal: from /dev/null, with a good and with a broken release.
for folder in release broken; do
  timeout 10 "$scratch/$folder/fieldloader" </dev/null >"$scratch/out" 2>"$scratch/err"
  expect_refusal "stdin $folder" $? "$scratch/err" "standard input is not a terminal"
  [ ! -s "$scratch/$folder/fieldloader-output.log" ] || fail "$folder: wrote its output log"
done

# in_tmux NAME WIDTH HEIGHT COMMAND: runs the command in a terminal of that
# size; its exit code and standard error land in the scratch folder.
in_tmux() {
  rm -f "$scratch/$1.code"
  tmux -L "$socket" -f /dev/null new-session -d -s "$1" -x "$2" -y "$3" \
    "$4 2>'$scratch/$1.err'; echo \$? >'$scratch/$1.code'"
  retry 100 "$1: the program did not end" test -s "$scratch/$1.code"
}

in_tmux output 80 24 "TERM=xterm timeout 10 '$release/fieldloader' >'$scratch/output.out'"
expect_refusal output "$(cat "$scratch/output.code")" "$scratch/output.err" \
  "standard output is not a terminal"
in_tmux unknown 80 24 "TERM=nosuchterm timeout 10 '$release/fieldloader'"
expect_refusal unknown "$(cat "$scratch/unknown.code")" "$scratch/unknown.err" \
  'terminal type "nosuchterm" is unknown'
in_tmux dumb 80 24 "TERM=dumb timeout 10 '$release/fieldloader'"
expect_refusal dumb "$(cat "$scratch/dumb.code")" "$scratch/dumb.err" "cannot move the cursor"
in_tmux small 79 24 "TERM=xterm timeout 10 '$release/fieldloader'"
expect_refusal small "$(cat "$scratch/small.code")" "$scratch/small.err" "79 x 24"

# A hang-up during an install, with the signal ignored: the unit never
# prompts for the login, so its job waits until the program notices the
# lost terminal and cancels it.
"$unitsim" --log "$scratch/sim.log" --root "$scratch/files" \
  --unit addr=127.0.0.2,no-prompt >"$scratch/sim.out" 2>&1 &
sim=$!
retry 100 "the simulator did not get ready" grep -q '"ready"' "$scratch/sim.log"
tmux -L "$socket" -f /dev/null new-session -d -s hangup -x 80 -y 24 \
  "trap '' HUP; TERM=xterm timeout --foreground 60 '$release/fieldloader'; echo \$? >'$scratch/hangup.code'"
shows() { tmux -L "$socket" capture-pane -p -t hangup | grep -q -- "$1"; }
retry 100 "hangup: the unit is not listed" shows "127.  0.  0.  2"
tmux -L "$socket" send-keys -t hangup Space Enter
retry 100 "hangup: the install did not start" grep -q '"connect"' "$scratch/sim.log"
tmux -L "$socket" kill-session -t hangup
retry 150 "hangup: the program did not end after its terminal hung up" \
  test -s "$scratch/hangup.code"
[ "$(cat "$scratch/hangup.code")" = 1 ] || fail "hangup: exit code $(cat "$scratch/hangup.code")"
grep -q '^127\.0\.0\.2,.*,cancelled,' "$release/fieldloader-report.csv" ||
  fail "hangup: the report does not show the cancelled unit"
echo "PASS"
