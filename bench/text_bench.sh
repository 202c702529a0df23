#!/bin/sh
# Measures text pages as whole `qlpr print` processes:
#  1. examples/receipt.json, in printer fonts with printer-drawn barcodes
#     (target: median <= 10 ms), and its printer stream against the same
#     receipt printed as a picture (its preview, one dot per pixel);
#  2. a page of 60 lines of text in an installed outline face, not
#     substituted by a printer font (target: median <= 50 ms), with the
#     phase times of one run (QLPR_PRINT_TIMES).
#
# usage: bench/text_bench.sh [BUILD_DIR]   (default build-rel, a Release build)
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build-rel}
qlpr=$build/bin/qlpr
[ -x "$qlpr" ] || { echo "no $qlpr (build the qlpr target first)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QLPR_ROOT="$work/root"

python3 - "$work/lines.json" <<'PY'
import json
import sys
items = [{"type": "text", "x": 8, "y": 8 + 30 * i, "size": 26, "font": "DejaVu Sans",
          "text": "%02d  Espresso doppio, oat milk, extra hot   %6.2f" % (i + 1, 2.5 + i * 0.35)}
         for i in range(60)]
json.dump({"items": items}, open(sys.argv[1], "w"))
PY

# First runs set up the printer and compile its data file cache.
"$qlpr" print "$here/examples/receipt.json" -o "$work/receipt.prn" --preview "$work/receipt.png" 2> /dev/null
"$qlpr" print "$work/lines.json" -o "$work/lines.prn" 2> /dev/null
"$qlpr" print "$work/receipt.png" -o "$work/picture.prn" 2> /dev/null
text=$(wc -c < "$work/receipt.prn")
picture=$(wc -c < "$work/picture.prn")
echo "receipt in printer fonts: $text bytes; as a picture: $picture bytes ($(( picture / text )) times larger)"
# The logo is raster either way: the same comparison without it.
python3 - "$here/examples/receipt.json" "$work/nologo.json" <<'PY'
import json, sys
page = json.load(open(sys.argv[1]))
page["items"] = [item for item in page["items"] if item["type"] != "image"]
json.dump(page, open(sys.argv[2], "w"))
PY
"$qlpr" print "$work/nologo.json" -o "$work/nologo.prn" --preview "$work/nologo.png" 2> /dev/null
"$qlpr" print "$work/nologo.png" -o "$work/nologo-picture.prn" 2> /dev/null
text=$(wc -c < "$work/nologo.prn")
picture=$(wc -c < "$work/nologo-picture.prn")
echo "without the logo: $text bytes; as a picture: $picture bytes ($(( picture / text )) times larger)"

median() {  # runs the command 21 times, prints the median wall time in ms
    python3 - "$@" <<'PY'
import statistics, subprocess, sys, time
times = []
for _ in range(21):
    start = time.perf_counter()
    subprocess.run(sys.argv[1:], check=True, stderr=subprocess.DEVNULL)
    times.append((time.perf_counter() - start) * 1e3)
print("median %.2f ms, min %.2f ms over 21 runs" % (statistics.median(times), min(times)))
PY
}
echo "receipt.json: $(median "$qlpr" print "$here/examples/receipt.json" -o "$work/receipt.prn") (target <= 10 ms)"
echo "60 lines of DejaVu Sans: $(median "$qlpr" print "$work/lines.json" -o "$work/lines.prn") (target <= 50 ms)"
echo "phases of one 60-line run:"
QLPR_PRINT_TIMES=1 "$qlpr" print "$work/lines.json" -o "$work/lines.prn" 2>&1 | grep -v '^qlpr: printed' || true
