#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job on the embedded
# default printer (no printer or configuration needed).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh -DQLPR_TESTS=OFF -DQLPR_BENCH=OFF
export QLPR_ROOT="${QLPR_ROOT:-$PWD/build/qlpr-root}"
build/bin/qlpr info "$@"
