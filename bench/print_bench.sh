#!/bin/sh
# Measures `qlpr print` of a one-metre receipt as a whole process: a
# 576 x 8,000-dot one-bit PBM with about 30% blank rows, text-like rows,
# bars and a block of noise, printed to a file at least 10 times.
# Targets: median wall time <= 10 ms, peak resident memory <= 32 MiB.
#
# usage: bench/print_bench.sh [BUILD_DIR]   (default build-rel, a Release build)
# QLPR_PRINT_TIMES=1 in the environment adds the phase times of one run.
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build-rel}
qlpr=$build/bin/qlpr
[ -x "$qlpr" ] || { echo "no $qlpr (build the qlpr target first)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QLPR_ROOT="$work/root"

python3 "$here/bench/receipt_rows.py" "$work/receipt.pbm"

# The first run sets up the printer and compiles its data file cache.
"$qlpr" print "$work/receipt.pbm" -o "$work/receipt.prn"
blank=$(python3 - "$work/receipt.pbm" <<'EOF'
import sys
data = open(sys.argv[1], "rb").read()
body = data[data.index(b"8000\n") + 5:]
rows = [body[i:i + 72] for i in range(0, len(body), 72)]
print("%.0f%%" % (100.0 * sum(1 for r in rows if not any(r)) / len(rows)))
EOF
)
echo "receipt: 576 x 8000 dots, $blank blank rows, job $(wc -c < "$work/receipt.prn") bytes"

if command -v hyperfine > /dev/null; then
    # The same job with a ten-row page, and qlpr's start alone, show the
    # share of the fixed costs (start-up, printer set-up, driver enable).
    printf 'P4\n576 10\n' > "$work/short.pbm"
    head -c 720 /dev/zero >> "$work/short.pbm"
    hyperfine -N --warmup 3 --runs 20 --export-json "$work/times.json" \
        "$qlpr print $work/receipt.pbm -o $work/receipt.prn" \
        "$qlpr print $work/short.pbm -o $work/short.prn" \
        "$qlpr --help" > /dev/null 2>&1
    python3 - "$work/times.json" <<'EOF'
import json
import sys
results = json.load(open(sys.argv[1]))["results"]
names = ["wall time", "the same job, a 576 x 10 page", "qlpr --help (process start)"]
for name, result in zip(names, results):
    print("%s: median %.2f ms, mean %.2f ms, min %.2f ms over %d runs%s" % (
        name, result["median"] * 1e3, result["mean"] * 1e3, result["min"] * 1e3,
        len(result["times"]), " (target <= 10 ms)" if name == "wall time" else ""))
EOF
else
    start=$(date +%s%N)
    for _ in 1 2 3 4 5 6 7 8 9 10; do "$qlpr" print "$work/receipt.pbm" -o "$work/receipt.prn" 2> /dev/null; done
    echo "wall time: mean $(( ($(date +%s%N) - start) / 10000000 )) ms over 10 runs (target <= 10 ms)"
fi

peak=$(/usr/bin/time -f %M "$qlpr" print "$work/receipt.pbm" -o "$work/receipt.prn" 2>&1 >/dev/null | tail -n 1)
echo "peak resident memory: $((peak / 1024)) MiB ($peak KiB; target <= 32 MiB)"

if [ -n "${QLPR_PRINT_TIMES:-}" ]; then
    "$qlpr" print "$work/receipt.pbm" -o "$work/receipt.prn"
fi
