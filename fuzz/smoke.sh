#!/usr/bin/env bash
# The fuzz smoke run of CI: builds every harness (build-fuzz, clang with the
# address and undefined-behaviour sanitizers), then runs each for
# FUZZ_SECONDS (default 30) from a scratch copy of its seeds, with its
# dictionary and options, as many at a time as there are cores. A crash,
# leak, timeout or out-of-memory fails the run, naming the harness and the
# input that caused it (kept under build-fuzz/smoke/NAME/).
set -euo pipefail
source "$(dirname "$0")/harness_runs.sh"
seconds=${FUZZ_SECONDS:-30}
parallel=$(nproc)

build_fuzzers
work=$FUZZ_BUILD/smoke
rm -rf "$work"
mkdir -p "$work"

# Runs harness $1; its folder holds its scratch corpus, artefacts and log.
run_harness() {
    local name=$1 dir=$work/$1
    mkdir -p "$dir/corpus" "$dir/artefacts"
    [ -d "$FUZZ_SOURCE/fuzz/corpus/$name" ] && cp -R "$FUZZ_SOURCE/fuzz/corpus/$name/." "$dir/corpus/"
    local arguments
    mapfile -t arguments < <(fuzzer_arguments "$name")
    local status=0
    "$FUZZ_BUILD/bin/$name" "${arguments[@]}" -max_total_time="$seconds" \
        -print_final_stats=1 -artifact_prefix="$dir/artefacts/" "$dir/corpus" >"$dir/log" 2>&1 || status=$?
    echo "$status" >"$dir/status"
}

start=$SECONDS
running=0
while read -r name; do
    if [ "$running" -ge "$parallel" ]; then
        wait -n
        running=$((running - 1))
    fi
    run_harness "$name" &
    running=$((running + 1))
done < <(fuzzer_names)
wait

failed=0
while read -r name; do
    dir=$work/$name
    status=$(cat "$dir/status")
    mapfile -t found < <(findings_in "$dir/artefacts")
    if [ "$status" -ne 0 ] || [ ${#found[@]} -gt 0 ]; then
        failed=1
        echo "FUZZ FINDING in $name (exit status $status): ${found[*]:-no artefact}" >&2
        grep -E 'ERROR|SUMMARY|runtime error|==[0-9]+==' "$dir/log" | head -20 >&2 || true
        echo "log: $dir/log" >&2
    else
        echo "$name: $(grep -Eo 'stat::number_of_executed_units: [0-9]+' "$dir/log" | grep -Eo '[0-9]+$') runs, no finding"
    fi
done < <(fuzzer_names)
echo "fuzz smoke run: $(wc -l <"$FUZZ_LIST") harnesses, ${seconds} s each, $((SECONDS - start)) s"
exit "$failed"
