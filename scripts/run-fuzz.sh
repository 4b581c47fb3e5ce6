#!/usr/bin/env bash
# Runs every libFuzzer binary of a fuzz build for a fixed time each, starting from the corpus
# kept in tests/fuzz/corpus/<target>/ (seeds and crashes). New inputs go to a scratch folder;
# an input that crashes is left in <build>/fuzz-findings/<target>/ to be copied into the
# target's crashes/ folder once the fault is mended.
#
#   scripts/run-fuzz.sh BUILD_DIR SECONDS_PER_TARGET
set -euo pipefail
build=${1:?usage: run-fuzz.sh BUILD_DIR SECONDS}
seconds=${2:?usage: run-fuzz.sh BUILD_DIR SECONDS}
here=$(cd "$(dirname "$0")/.." && pwd)
shopt -s nullglob
targets=("$build"/tests/fuzz/fuzz_*)
[ ${#targets[@]} -gt 0 ] || { echo "run-fuzz.sh: no fuzz targets in $build/tests/fuzz" >&2; exit 1; }

failed=0
for binary in "${targets[@]}"; do
    [ -x "$binary" ] || continue
    name=${binary##*/fuzz_}
    corpus=$here/tests/fuzz/corpus/$name
    scratch=$build/fuzz-corpus/$name
    findings=$build/fuzz-findings/$name
    mkdir -p "$scratch" "$findings"
    log=$build/fuzz-findings/$name.log
    # git keeps no empty folder, and libFuzzer stops at a corpus folder that is missing: only
    # the kept folders that exist are read (a fresh clone has no crashes/ yet).
    inputs=("$scratch")
    for kept in "$corpus/seeds" "$corpus/crashes"; do
        if [ -d "$kept" ]; then inputs+=("$kept"); fi
    done
    status=0
    "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$findings/" "${inputs[@]}" >"$log" 2>&1 || status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    crashes=$(find "$findings" -type f | wc -l)
    printf '%-16s %12s executions  %d crashes\n' "$name" "${runs:-?}" "$crashes"
    # A target that never ran its input proved nothing.
    if [ "$status" -ne 0 ] || [ "$crashes" -ne 0 ] || [ "${runs:-0}" -eq 0 ]; then
        failed=1
        echo "  see $log and $findings" >&2
    fi
done
exit "$failed"
