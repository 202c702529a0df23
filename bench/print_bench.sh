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

python3 - "$work/receipt.pbm" <<'EOF'
import random
import sys

WIDTH, HEIGHT = 576, 8000
STRIDE = WIDTH // 8
rng = random.Random(1)
rows = []
y = 0
while y < HEIGHT:
    kind = rng.random()
    if kind < 0.15:    # blank space (text lines bring more)
        count = rng.randint(8, 60)
        rows += [bytes(STRIDE)] * count
    elif kind < 0.80:  # a line of text: 24 rows of glyph-like columns
        line = [bytearray(STRIDE) for _ in range(24)]
        for column in range(rng.randint(10, 48)):
            x = column * 12
            for r in range(3, 21):
                for dx in range(1, 10):
                    if rng.random() < 0.35:
                        line[r][(x + dx) // 8] |= 0x80 >> ((x + dx) % 8)
        rows += [bytes(r) for r in line]
    elif kind < 0.95:  # a rule or a bar code
        row = bytearray(STRIDE)
        for x in range(WIDTH):
            if (x // rng.choice([2, 3, 4])) % 2 == 0:
                row[x // 8] |= 0x80 >> (x % 8)
        rows += [bytes(row)] * rng.randint(2, 80)
    else:              # a block of noise, like a dithered picture
        rows += [bytes(rng.getrandbits(8) for _ in range(STRIDE)) for _ in range(rng.randint(40, 200))]
    y = len(rows)
with open(sys.argv[1], "wb") as out:
    out.write(b"P4\n%d %d\n" % (WIDTH, HEIGHT))
    out.write(b"".join(rows[:HEIGHT]))
EOF

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
