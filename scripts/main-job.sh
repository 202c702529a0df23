#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job on the embedded
# default printer (no printer or configuration needed): prints the example
# receipt into the printer's job output and draws its paper preview.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh -DQLPR_TESTS=OFF -DQLPR_BENCH=OFF
export QLPR_ROOT="${QLPR_ROOT:-$PWD/build/qlpr-root}"
build/bin/qlpr print examples/receipt.json --preview build/receipt.png -o build/receipt.prn "$@"
echo "printer stream: build/receipt.prn (list it with: build/bin/qlpr decode build/receipt.prn)"
echo "paper preview:  build/receipt.png"
