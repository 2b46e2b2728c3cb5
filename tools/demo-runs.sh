# The three ways tools/demo runs the installer, sourced by demo-fleet.sh once
# the network and the simulated fleet are up. Each uses run_installer, $work
# (with expected.txt: one "address outcome" line per unit), $release and
# $tmux_socket from there.
# shellcheck shell=sh disable=SC2154  # work, release and tmux_socket come from demo-fleet.sh

# The text UI in this terminal: the engineer chooses and starts the units.
run_tui() {
  cat <<'EOF'

  fieldloader is about to start in this terminal, in the release folder, with
  24 simulated Tarvo units on two subnets (10.20.1.x and 10.20.2.x).

    Space      select or deselect the unit under the cursor
    Enter      start the install of the selected units
    a          type the address of a unit that did not answer
    Esc or q   leave (the demo then stops the units and cleans up)

  Expected: "Success" on the healthy units, "Failed Connection" on 10.20.1.29
  (refuses the password), "Unknown Error" on 10.20.1.30 (its install script
  exits with 3), "Connection Closed" on 10.20.1.31 (restarts during the
  install). The 10.20.2.x units and 10.20.1.27/28 need pathkeeper's routes.

EOF
  printf '  Press Enter to start. '
  read -r _ || true
  run_installer
  status=$?
  echo "demo: fieldloader ended with exit code $status"
  show_run_files table
  return "$status"
}

# What the run left beside the release: the report (with "table" also its
# outcomes, which a headless run has printed already) and the transcripts,
# and what the helper and the viewer were asked to do.
show_run_files() {
  [ -f "$release/fieldloader-report.csv" ] && [ "${ZEQ_DEMO_KEEP:-0}" = 1 ] &&
    echo "demo: run report $release/fieldloader-report.json, .csv and .html, transcripts in" \
      "$release/transcripts/"
  if [ "${1:-}" = table ] && [ -f "$release/fieldloader-report.csv" ]; then
    report_rows address status failure_class |
      awk -F'\t' '{ printf "  %-12s %-18s %s\n", $1, $2, $3 }'
  fi
  [ -s "$release/pathkeeper.log" ] && echo "demo: pathkeeper.log:" && cat "$release/pathkeeper.log"
  [ -f "$work/opened.txt" ] && echo "demo: the installer opened $(cat "$work/opened.txt")"
  return 0
}

# Without a screen: every answering unit is installed and the program prints
# its status lines and summary table, then waits (--verify) until the units
# that finished report the release's version; the unit that restarts during
# its install is silent for a few seconds first. The run must end with exit
# code 1 (the fleet has failing units), every unit with its expected status
# text in the report, every finished unit verified, and no transcript may
# hold the password. Then the failed units alone are installed again
# (--retry): the one whose script failed only the first time succeeds.
run_headless() {
  { run_installer --headless --discover-seconds 3 --verify 60 --expect-version 4.2.0
    echo $? >"$work/headless.code"; } | tee "$work/headless.out"
  code=$(cat "$work/headless.code")
  echo "demo: fieldloader --headless --verify 60 --expect-version 4.2.0 ended with exit code $code"
  show_run_files
  problems=0
  [ "$code" = 1 ] || { echo "demo: expected exit code 1 (some units fail on purpose)" >&2; problems=1; }
  # Every unit that finished came back with the release, the restarted one
  # too.
  unverified=$(report_rows address state verified |
    awk -F'\t' '$2 == "Finished" && $3 != "yes" { print $1 }')
  [ -z "$unverified" ] || { echo "demo: not verified after the install:" $unverified >&2; problems=1; }
  if grep -r -l qorvane "$release/transcripts" 2>/dev/null; then
    echo "demo: the password is in the transcripts above" >&2
    problems=1
  fi
  check_outcomes "$(report_rows address status | tr '\t' ' ')" && [ "$problems" = 0 ] && run_retry
}

# The second line of the headless demo: the report of the first run names
# the units to install again, and only they are touched.
run_retry() {
  cp "$release/fieldloader-report.json" "$work/first-report.json"
  echo
  { run_installer --headless --discover-seconds 3 --retry "$work/first-report.json"
    echo $? >"$work/retry.code"; } | tee "$work/retry.out"
  code=$(cat "$work/retry.code")
  echo "demo: fieldloader --headless --retry ended with exit code $code"
  retried=$(report_rows address state status |
    awk -F'\t' '$2 == "Finished" || $2 == "Failed" { print $1, $3 }')
  expected="10.20.1.29 Failed Connection
10.20.1.30 Success"
  if [ "$code" != 1 ] || [ "$(echo "$retried" | sort)" != "$expected" ]; then
    echo "demo: the retry should install 10.20.1.29 (still refusing) and 10.20.1.30 (now" \
      "succeeding) and nothing else; it ended with $code and:" >&2
    echo "$retried" >&2
    return 1
  fi
  echo "demo: the retry installed only the two failed units; 10.20.1.30 succeeded this time"
}

# report_rows COLUMN...: the named columns of each unit in the run report's
# CSV (whose first line names them), tab-separated, a line per unit.
report_rows() {
  tr -d '"\r' <"$release/fieldloader-report.csv" 2>/dev/null |
    awk -F, -v names="$*" '
      NR == 1 { for (i = 1; i <= NF; ++i) column[$i] = i; n = split(names, want, " "); next }
      { line = $column[want[1]]; for (i = 2; i <= n; ++i) line = line "\t" $column[want[i]]; print line }'
}

# check_outcomes TEXT: TEXT holds "address status text" lines; every unit of
# the fleet must be there with its expected status text.
check_outcomes() {
  bad=0
  while read -r address expected; do
    seen=$(echo "$1" | awk -v a="$address" '$1 == a { $1 = ""; sub(/^ /, ""); print; exit }')
    if [ "$seen" != "$expected" ]; then
      echo "demo: $address ended with \"$seen\", expected \"$expected\"" >&2
      bad=$((bad + 1))
    fi
  done <"$work/expected.txt"
  if [ "$bad" != 0 ]; then
    echo "demo: FAILED: $bad of $(wc -l <"$work/expected.txt") units did not end as expected" >&2
    return 1
  fi
  echo "demo: every unit ended as expected ($(wc -l <"$work/expected.txt") units)"
}

# The text UI driven in a detached tmux: choose every unit, start, wait for
# the last outcome, keep the screen as text and as a PNG picture.
run_screenshot() {
  picture=$1
  units=$(wc -l <"$work/expected.txt")
  printf 'cd "%s" && ZEQ_WINDOWS_DIR="%s/logs" PATH="%s/bin:$PATH" TERM=xterm ./fieldloader\n' \
    "$release" "$work" "$work" >"$work/run-tui.sh"
  printf 'echo "exit code $?"\nsleep 600\n' >>"$work/run-tui.sh"
  tmux -L "$tmux_socket" -f /dev/null new-session -d -s demo -x 100 -y 36 "sh $work/run-tui.sh" || return 1
  screen_shows "Total Tarvos Found: $units" 20 || { echo "demo: not every unit was found" >&2; return 1; }
  # "*" marks every unit, Enter on the list starts the install.
  tmux -L "$tmux_socket" send-keys -t demo '*' Enter
  tries=1200
  until [ "$(screen | grep -c -E 'Success|Failed Connection|Unknown Error|Connection Closed')" -ge "$units" ]; do
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || { screen; echo "demo: the install did not finish" >&2; return 1; }
    sleep 0.1
  done
  sleep 1
  screen >"$work/screen.txt"
  render_screen "$work/screen.txt" "$picture" || return 1
  tmux -L "$tmux_socket" send-keys -t demo Escape
  screen_shows "exit code 0" 10 || { echo "demo: the text UI did not end with code 0" >&2; return 1; }
  cat "$work/screen.txt"
  echo "demo: screen saved as $picture"
  check_outcomes "$(screen_outcomes "$work/screen.txt")"
}

screen() { tmux -L "$tmux_socket" capture-pane -p -t demo; }

screen_shows() {  # screen_shows TEXT SECONDS
  tries=$(($2 * 10))
  until screen | grep -q -- "$1"; do
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || return 1
    sleep 0.1
  done
}

# "address status text" per unit row of a captured screen: the list shows
# addresses as "%3d.%3d.%3d.%3d" and the status text in its last column.
screen_outcomes() {
  sed -n -E 's/^.*[^0-9]( *[0-9]{1,3}\. *[0-9]{1,3}\. *[0-9]{1,3}\. *[0-9]{1,3}) .*(Success|Failed Connection|Unknown Error|Connection Closed).*$/\1 \2/p' "$1" |
    sed -E 's/ +([0-9])/\1/g; s/^ *//; s/([0-9]) ([A-Z])/\1 \2/'
}

# The captured text drawn in a monospaced font, light on dark as a terminal,
# one line at a time (a whole screen is too long for one text argument).
render_screen() {
  text=$1
  picture=$2
  columns=$(awk '{ if (length($0) > n) n = length($0) } END { print n }' "$text")
  rows=$(wc -l <"$text")
  set -- -size "$((columns * 17 / 2 + 24))x$((rows * 18 + 24))" xc:'#1c1c1c' \
    -font DejaVu-Sans-Mono -pointsize 14 -fill '#d8d8d8'
  # Spaces become no-break spaces, which the drawing keeps at a line's start.
  space=$(printf '\302\240')
  y=28
  while IFS= read -r line; do
    set -- "$@" -annotate "+12+$y" "$(printf '%s' "$line" | sed -e 's/%/%%/g' -e "s/ /$space/g")"
    y=$((y + 18))
  done <"$text"
  convert "$@" "$picture"
}
