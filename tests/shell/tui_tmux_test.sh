#!/bin/sh
# The text front end in a terminal, against simulated units on the loopback
# network of the test's own namespace: the list fills from discovery, two
# units chosen with Space and started with Enter both reach "Success" and
# are verified with their new versions (--verify; the second unit had none
# before), the
# marking keys ("*", Space, "f") work and marks survive a sort, a bad
# address says so, an address typed into the box becomes a row with the
# focus back on the list, a rescan shows "Scanning...", and Esc ends the
# program with exit code 0 and the terminal back in its normal screen. The dialog fits
# 80 x 24 and grows when the terminal does. With --retry the report's failed
# units are marked at start (the one discovery does not find is added) and
# "f" marks them.
#
# A release without its manifest shows the error box and ends with code 1;
# the reason follows the message on standard error and in the output log,
# and no report is left behind.
#
# Usage: tui_tmux_test.sh FIELDLOADER UNITSIM SCRATCH
set -u
fieldloader=$1
unitsim=$2
scratch=$3
. "$(dirname "$0")/script_support.sh"

if [ "${ZEQ_IN_NETNS:-}" != 1 ]; then
  if [ "${CI:-}" = true ]; then echo "FAIL: no private network namespace"; exit 1; fi
  echo "SKIP: needs a private network namespace"; exit 77
fi
command -v tmux >/dev/null || { echo "SKIP: no tmux"; exit 77; }

rm -rf "$scratch"
mkdir -p "$scratch/release" "$scratch/files" "$scratch/logs"
release=$scratch/release
cp "$fieldloader" "$release/fieldloader"
head -c 30000 /dev/zero | tr '\0' 'x' >"$release/payload.bin"
printf '# release for the terminal test\ncd /opt/tarvo\nsend payload.bin\nauto_install\n' \
  >"$release/ftpdwnld.txt"
for unit in 127.0.0.2 127.0.0.3; do
  mkdir -p "$scratch/files/$unit/rsa"
  printf '#!/bin/sh\r\necho installing\r\n' >"$scratch/files/$unit/rsa/install.script"
done

"$unitsim" --log "$scratch/sim.log" --root "$scratch/files" \
  --unit addr=127.0.0.2,node=7,group=North,version=2.1,new-version=2.2 \
  --unit addr=127.0.0.3,node=8,group=South,new-version=1.0 >"$scratch/sim.out" 2>&1 &
sim=$!
socket="zeq-tui-$$"
cleanup() {
  tmux -L "$socket" kill-server 2>/dev/null
  kill "$sim" 2>/dev/null
  wait "$sim" 2>/dev/null
}
trap cleanup EXIT

fail() {
  echo "FAIL: $1"
  echo "--- screen"
  tmux -L "$socket" capture-pane -p -t tui 2>/dev/null ||
    tmux -L "$socket" capture-pane -p -t broken 2>/dev/null
  echo "--- simulator"
  tail -n 20 "$scratch/sim.log" 2>/dev/null
  exit 1
}

wait_for() {  # wait_for TEXT SECONDS [SESSION]: until the screen shows the text
  tries=$(($2 * 10))
  while [ "$tries" -gt 0 ]; do
    if tmux -L "$socket" capture-pane -p -t "${3:-tui}" | grep -q -- "$1"; then return 0; fi
    sleep 0.1
    tries=$((tries - 1))
  done
  return 1
}

# Keeps the screen at a step in the scratch folder, to look at afterwards.
snapshot() {
  tmux -L "$socket" capture-pane -p -t tui >"$scratch/screen-$1.txt"
}

count_on_screen() {
  tmux -L "$socket" capture-pane -p -t tui | grep -c -- "$1"
}

tries=100
until grep -q '"ready"' "$scratch/sim.log" 2>/dev/null; do
  tries=$((tries - 1))
  [ "$tries" -gt 0 ] || fail "the simulator did not get ready"
  sleep 0.1
done

# Without its manifest the program shows the error in a box and ends with
# code 1 once the box is closed.
mkdir -p "$scratch/broken"
cp "$fieldloader" "$scratch/broken/fieldloader"
tmux -L "$socket" -f /dev/null new-session -d -s broken -x 80 -y 24 \
  "TERM=xterm '$scratch/broken/fieldloader'; echo \"exit code \$?\"; sleep 60"
wait_for "Install corrupted, missing files needed for install." 10 broken ||
  fail "no message box for the broken package"
wait_for " Error " 1 broken || fail "the box has no Error caption"
tmux -L "$socket" capture-pane -p -t broken >"$scratch/screen-broken.txt"
tmux -L "$socket" send-keys -t broken Enter
wait_for "exit code 1" 10 broken || fail "a broken package did not end with code 1"
wait_for "^ftpdwnld.txt cannot be read: No such file or directory" 1 broken ||
  fail "the reason is not shown after the box"
grep -A1 "^Install corrupted, missing files needed for install.$" \
  "$scratch/broken/fieldloader-output.log" | grep -q "^ftpdwnld.txt cannot be read" ||
  fail "the output log does not give the reason after the message"
for name in fieldloader-report.json fieldloader-report.csv fieldloader-report.html transcripts; do
  [ ! -e "$scratch/broken/$name" ] || fail "the broken package left $name"
done

# The program runs from elsewhere: it must make its own folder current.
tmux -L "$socket" -f /dev/null new-session -d -s tui -x 80 -y 24 \
  "cd /; ZEQ_WINDOWS_DIR='$scratch/logs' TERM=xterm '$release/fieldloader' --verify 30; \
   echo \"exit code \$?\"; sleep 60"

wait_for "Tarvo Installer (Version" 10 || fail "no dialog"
wait_for "127.  0.  0.  2" 10 || fail "the first unit is not listed"
wait_for "127.  0.  0.  3" 10 || fail "the second unit is not listed"
wait_for "Total Tarvos Found: 2" 5 || fail "the count is not 2"
wait_for "North" 1 || fail "the group is not shown"
snapshot found

# Mark both rows (Space marks and moves down) and start with Enter.
tmux -L "$socket" send-keys -t tui Space Space Enter
wait_for "Success" 60 || fail "no install finished"
tries=600
until [ "$(count_on_screen Success)" -eq 2 ]; do
  tries=$((tries - 1))
  [ "$tries" -gt 0 ] || fail "not both units reached Success"
  sleep 0.1
done
[ "$(grep -c '"install"' "$scratch/sim.log")" -ge 2 ] || fail "the simulator saw fewer than two installs"
snapshot installed
wait_for "Verified 2 of 2 units" 30 || fail "the status line does not tell the verify phase's end"

# The wave's end writes the run report beside the release, after a rescan of
# at most a few seconds.
tries=100
until [ -f "$release/fieldloader-report.csv" ]; do
  tries=$((tries - 1))
  [ "$tries" -gt 0 ] || fail "no run report after the wave"
  sleep 0.1
done
[ "$(grep -c ',Finished,Success,' "$release/fieldloader-report.csv")" -eq 2 ] ||
  fail "the run report does not show both units finished"
[ "$(grep -c ',yes,[0-9TZ:-]*.$' "$release/fieldloader-report.csv")" -eq 2 ] ||
  fail "the run report does not show both units verified"
[ -f "$release/fieldloader-report.json" ] || fail "no JSON report"
[ "$(ls "$release/transcripts" | wc -l)" -eq 2 ] || fail "not two transcripts"
! grep -r qorvane "$release/transcripts" || fail "a transcript shows the password"

marks_shown() { [ "$(count_on_screen '\[x\]')" -eq "$1" ]; }
scanning_shown() { tmux -L "$socket" capture-pane -p -t tui | grep -q "Scanning\.\.\."; }
# wait_marks N: until the list shows N marked rows.
wait_marks() { retry 50 "not $1 marked rows" marks_shown "$1"; }

# Marks: the two rows are still marked after their install; "*" with all
# marked marks none, and again every row; marks survive a sort, which
# rebuilds the list; Space marks and moves down; "f" marks the failed rows
# only, and here none failed.
wait_marks 2
tmux -L "$socket" send-keys -t tui '*'
wait_marks 0
tmux -L "$socket" send-keys -t tui '*'
wait_marks 2
tmux -L "$socket" send-keys -t tui 1
sleep 0.5
wait_marks 2
tmux -L "$socket" send-keys -t tui '*'
wait_marks 0
tmux -L "$socket" send-keys -t tui Up Up Space
wait_marks 1
tmux -L "$socket" send-keys -t tui Space
wait_marks 2
tmux -L "$socket" send-keys -t tui f
wait_marks 0

# An address that is not one says so on the status line.
tmux -L "$socket" send-keys -t tui a 1.2.3 Enter
wait_for '"1.2.3" is not an address' 5 || fail "no word on the bad address"
tmux -L "$socket" send-keys -t tui BSpace BSpace BSpace BSpace BSpace

# A typed address becomes a row of its own, and the focus goes back to the
# list, where "*" marks all three rows.
tmux -L "$socket" send-keys -t tui 10.9.8.7 Enter
wait_for " 10.  9.  8.  7" 5 || fail "the typed address is not listed"
wait_for "Total Tarvos Found: 3" 5 || fail "the count does not include the typed unit"
tmux -L "$socket" send-keys -t tui '*'
wait_marks 3
snapshot added

# A rescan says "Scanning..." until the units have had their time.
tmux -L "$socket" send-keys -t tui r
wait_for "Scanning\.\.\." 2 || fail "no Scanning... after a rescan"
retry 80 "Scanning... did not end" eval '! scanning_shown'

# The dialog grows with the terminal.
tmux -L "$socket" resize-window -t tui -x 120 -y 40
tries=30
until tmux -L "$socket" capture-pane -p -t tui | grep -q '^.\{100,\}\[ Exit \]'; do
  tries=$((tries - 1))
  [ "$tries" -gt 0 ] || fail "the dialog did not grow with the terminal"
  sleep 0.1
done
snapshot grown

# Keys this terminal type does not name arrive as Escape and the rest of
# their sequence: Home as tmux sends it where TERM says xterm, an unknown
# function key and an Alt chord. None of them may end the program.
tmux -L "$socket" send-keys -t tui Home
tmux -L "$socket" send-keys -t tui -l "$(printf '\033[99~')"
tmux -L "$socket" send-keys -t tui M-x
sleep 0.5
if tmux -L "$socket" capture-pane -p -t tui | grep -q "exit code"; then
  fail "a key the terminal type does not name ended the program"
fi

tmux -L "$socket" send-keys -t tui Escape
wait_for "exit code 0" 10 || fail "the program did not end with code 0 on Esc"
alternate=$(tmux -L "$socket" display-message -p -t tui '#{alternate_on}')
[ "$alternate" = 0 ] || fail "the terminal was left in the program's screen"

# --retry marks the units that failed or were cancelled in the report at
# once, adds the one discovery does not find after its wait, and "f" marks
# them again; the unit that finished there stays unmarked.
cat >"$scratch/earlier.json" <<'REPORT'
{"written": "2026-12-01T10:00:00Z", "units": [
 {"address": "127.0.0.2", "state": "Finished", "status": "Success"},
 {"address": "127.0.0.3", "state": "Failed", "failure_class": "login"},
 {"address": "127.0.0.9", "state": "Failed", "status": "Cancelled"}]}
REPORT
tmux -L "$socket" kill-session -t tui
tmux -L "$socket" -f /dev/null new-session -d -s tui -x 80 -y 24 \
  "ZEQ_WINDOWS_DIR='$scratch/logs' TERM=xterm '$release/fieldloader' \
   --retry '$scratch/earlier.json'; echo \"exit code \$?\"; sleep 60"
wait_for "127.  0.  0.  9" 10 || fail "the retry unit discovery does not find was not added"
wait_for "Total Tarvos Found: 3" 5 || fail "the count is not 3 with the retry unit"
wait_marks 2
tmux -L "$socket" capture-pane -p -t tui | grep -q '\[x\].*127\.  0\.  0\.  3' ||
  fail "the failed unit of the report is not marked"
snapshot retry
tmux -L "$socket" send-keys -t tui '*'
wait_marks 3
tmux -L "$socket" send-keys -t tui '*'
wait_marks 0
tmux -L "$socket" send-keys -t tui f
wait_marks 2
tmux -L "$socket" send-keys -t tui Escape
wait_for "exit code 0" 10 || fail "the retry dialog did not end with code 0 on Esc"
echo "PASS"
