#!/bin/sh
# Runs every fuzz target built in BUILD for FUZZ_SECONDS each and prints the executions per
# target. Each target's working corpus lives in the build folder; the seeds come from
# tests/fuzz/corpus/<target> (and tests/data for the file readers) and are never written to.
# Usage: tests/fuzz/run.sh [BUILD] [SECONDS]
set -u
BUILD=${1:-build-fuzz}
SECONDS_EACH=${2:-60}
SRC=$(cd "$(dirname "$0")/../.." && pwd)
RESULTS=""
STATUS=0
for exe in "$BUILD"/tests/fuzz/*_fuzz; do
    [ -x "$exe" ] || continue
    name=$(basename "$exe")
    work="$BUILD/fuzz-corpus/$name"
    artifacts="$BUILD/fuzz-findings/$name/"
    mkdir -p "$work" "$artifacts"
    seeds="$SRC/tests/fuzz/corpus/$name"
    [ -d "$seeds" ] || seeds=""
    extra=""
    case "$name" in hexfile_*) extra="$SRC/tests/data" ;; esac
    log="$BUILD/fuzz-findings/$name.log"
    echo "== $name: $SECONDS_EACH s (log $log)"
    "$exe" -max_total_time="$SECONDS_EACH" -timeout=25 -rss_limit_mb=2048 -max_len=8192 \
        -print_final_stats=1 -artifact_prefix="$artifacts" "$work" $seeds $extra >"$log" 2>&1
    rc=$?
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    verdict=ok
    if [ "$rc" -ne 0 ]; then
        verdict="FINDING (exit $rc, see $log and $artifacts)"
        STATUS=1
    fi
    RESULTS="$RESULTS$(printf '%-24s %12s executions  %s' "$name" "${execs:-?}" "$verdict")
"
done
echo
echo "Executions per target ($SECONDS_EACH s each):"
printf '%s' "$RESULTS"
exit $STATUS
