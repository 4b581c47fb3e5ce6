#!/usr/bin/env bash
# Lists the tests of the last ctest run in BUILD_DIR that were skipped, each with the reason it gave
# (GTEST_SKIP's message, which ctest keeps in its log but does not print).
# --fail: exit 1 when any test was skipped (CI, where every tool is installed and tests run as root).
set -euo pipefail

fail=0
if [ "${1:-}" = --fail ]; then
  fail=1
  shift
fi
log="${1:?usage: skipped-tests.sh [--fail] BUILD_DIR}/Testing/Temporary/LastTest.log"
[ -f "$log" ] || { echo "skipped-tests.sh: no test log at $log" >&2; exit 1; }

# Each test's block starts at "N/M Test: NAME"; its output holds "FILE:LINE: Skipped", the reason's
# lines, then "[  SKIPPED ] NAME"; ctest marks it skipped with "Skip regular expression found".
report=$(awk '
  /^[0-9]+\/[0-9]+ Test: / { name = $0; sub(/^[0-9]+\/[0-9]+ Test: /, "", name); reason = ""; taking = 0; next }
  /^\[  SKIPPED \] / { taking = 0 }
  taking { reason = reason (reason == "" ? "" : " / ") $0; next }
  /: Skipped$/ { taking = 1; next }
  /^Skip regular expression found in output/ {
    printf "  %s: %s\n", name, (reason == "" ? "(no reason given)" : reason)
  }
' "$log" | sort)

[ -z "$report" ] && exit 0
count=$(printf '%s\n' "$report" | wc -l)
echo
echo "Skipped tests ($count), each with its reason:"
printf '%s\n' "$report"
if [ "$fail" -eq 1 ]; then
  echo "A skipped test is a failed one here: install what it needs (scripts/install-deps.sh) or let it run."
  exit 1
fi
