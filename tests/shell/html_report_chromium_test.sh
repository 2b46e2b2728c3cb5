#!/bin/sh
# The run report's page in a real browser (headless Chromium, inside the
# test's private namespace, so that nothing it might try to fetch leaves
# it): a report of 24 made-up units, written by the program's own writer, is
# drawn at a desktop and at a phone window size and neither picture is
# blank; the page logs nothing to the console (no script error); and its
# script ran, sorting the table by bytes when the address asks for it
# ("#sort=7").
#
# Usage: html_report_chromium_test.sh GENERATOR SCRATCH
set -u
generator=$1
scratch=$2
. "$(dirname "$0")/script_support.sh"

require_netns
browser=$(command -v chromium || command -v chromium-browser)
if [ -z "$browser" ]; then
  if [ "${CI:-}" = true ]; then fail "no chromium (tools/setup.sh installs it)"; fi
  echo "SKIP: no chromium"; exit 77
fi
command -v identify >/dev/null || fail "no identify (imagemagick, tools/setup.sh installs it)"

rm -rf "$scratch"
mkdir -p "$scratch"
"$generator" "$scratch/report" 24 || fail "the generator could not write the report"
page="file://$scratch/report/fieldloader-report.html"

# chromium [ARGUMENTS...]: a headless browser with a profile of its own.
chromium() {
  timeout 90 "$browser" --headless --no-sandbox --disable-gpu --no-first-run \
    --disable-extensions --hide-scrollbars --user-data-dir="$scratch/profile" "$@"
}

for size in 1280,900 390,844; do
  shot=$scratch/html-report-$size.png
  chromium --enable-logging=stderr --v=0 --window-size="$size" --screenshot="$shot" "$page" \
    >"$scratch/chromium-$size.log" 2>&1
  [ -s "$shot" ] || fail "no screenshot at $size (see $scratch/chromium-$size.log)"
  # A blank page is one or two colours; the report draws dozens.
  colours=$(identify -format %k "$shot")
  [ "$colours" -ge 16 ] || fail "the screenshot at $size is blank ($colours colours)"
  # The browser's own pages log too; the report's lines name its file.
  if grep -E 'CONSOLE.*source: file:|Uncaught' "$scratch/chromium-$size.log"; then
    fail "the page logged to the console at $size"
  fi
done

chromium --dump-dom "$page#sort=7" >"$scratch/dom.html" 2>"$scratch/dom.log" ||
  fail "no DOM dumped (see $scratch/dom.log)"
grep -q '<body class="js">' "$scratch/dom.html" || fail "the page's script did not run"
grep -q '<th aria-sort="ascending">Bytes</th>' "$scratch/dom.html" ||
  fail "the bytes column is not marked as sorted"
# The bytes of each row in the order the browser shows them: the third
# sort key of a row (after address and node).
awk 'BEGIN { RS = "<tr " } NR > 1 {
       n = 0
       while (match($0, /data-k="-?[0-9]+"/)) {
         n++
         if (n == 3) { print substr($0, RSTART + 8, RLENGTH - 9); break }
         $0 = substr($0, RSTART + RLENGTH)
       }
     }' "$scratch/dom.html" >"$scratch/bytes.txt"
[ "$(wc -l <"$scratch/bytes.txt")" -eq 24 ] || fail "not 24 rows in the sorted table"
sort -n -c "$scratch/bytes.txt" || fail "the rows are not sorted by bytes"
[ "$(sort -n -u "$scratch/bytes.txt" | wc -l)" -gt 2 ] || fail "too few distinct byte counts to tell"
echo "PASS"
