#!/usr/bin/env bash
# A fuzzing campaign: fuzz/campaign.sh [-t SECONDS] [-n RUNS] [NAME...]
# Runs each harness named (default: every harness) for SECONDS (default
# 600), or until it has made RUNS executions if that comes first, one
# after the other, on a work corpus kept between campaigns in
# build-fuzz/campaign/NAME/corpus (seeds merged in first), and prints per
# harness the executions, speed, coverage (libFuzzer's cov and ft), corpus
# size and findings (artefacts in build-fuzz/campaign/NAME/artefacts). Exit
# status 1 when anything was found.
set -euo pipefail
source "$(dirname "$0")/harness_runs.sh"
seconds=600
runs_limit=-1  # libFuzzer's own default: no limit
while getopts "t:n:h" option; do
    case $option in
        t) seconds=$OPTARG ;;
        n) runs_limit=$OPTARG ;;
        *) sed -n '2,10s/^# \{0,1\}//p' "$0"; exit 2 ;;
    esac
done
shift $((OPTIND - 1))

build_fuzzers >/dev/null
names=("$@")
[ ${#names[@]} -eq 0 ] && mapfile -t names < <(fuzzer_names)
for name in "${names[@]}"; do
    if ! grep -qx "$name" "$FUZZ_LIST"; then
        echo "campaign: no harness $name (built: $(tr '\n' ' ' <"$FUZZ_LIST"))" >&2
        exit 2
    fi
done

# The value of libFuzzer's final statistic $2 in log $1.
statistic() {
    grep -Eo "stat::$2: *[0-9]+" "$1" | tail -1 | grep -Eo '[0-9]+$' || echo 0
}
# The value after "$2: " on the last status line of log $1.
status_value() {
    grep -E '^#[0-9]+' "$1" | grep -Eo "$2: [0-9]+" | tail -1 | grep -Eo '[0-9]+$' || echo 0
}

rows=()
total_findings=0
for name in "${names[@]}"; do
    dir=$FUZZ_BUILD/campaign/$name
    mkdir -p "$dir/corpus" "$dir/artefacts"
    mapfile -t arguments < <(fuzzer_arguments "$name")
    seeds=$FUZZ_SOURCE/fuzz/corpus/$name
    if [ -d "$seeds" ]; then
        "$FUZZ_BUILD/bin/$name" "${arguments[@]}" -merge=1 "$dir/corpus" "$seeds" \
            >"$dir/merge.log" 2>&1 || echo "campaign: merging the seeds of $name failed, see $dir/merge.log" >&2
    fi
    marker=$dir/.started
    touch "$marker"
    echo "campaign: $name for $seconds s" >&2
    started=$SECONDS
    "$FUZZ_BUILD/bin/$name" "${arguments[@]}" -max_total_time="$seconds" -runs="$runs_limit" -print_final_stats=1 \
        -artifact_prefix="$dir/artefacts/" "$dir/corpus" >"$dir/log" 2>&1 || true
    mapfile -t found < <(findings_in "$dir/artefacts" -newer "$marker")
    total_findings=$((total_findings + ${#found[@]}))
    runs=$(statistic "$dir/log" number_of_executed_units)
    rate=$(statistic "$dir/log" average_exec_per_sec)
    elapsed=$((SECONDS - started))
    rows+=("$(printf '%-24s %7s %12s %8s %7s %7s %7s %s' "$name" "$elapsed" "$runs" "$rate" \
        "$(status_value "$dir/log" cov)" "$(status_value "$dir/log" ft)" \
        "$(find "$dir/corpus" -type f | wc -l)" "${#found[@]} ${found[*]}")")
done

printf '%-24s %7s %12s %8s %7s %7s %7s %s\n' harness seconds executions exec/s cov ft corpus findings
printf '%s\n' "${rows[@]}"
[ "$total_findings" -eq 0 ]
