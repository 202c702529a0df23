#!/usr/bin/env bash
# Installs what is missing, builds everything and runs all tests.
# With SANITIZE=1 the build (in build-asan) uses the address and
# undefined-behaviour sanitizers. The tests are switched on explicitly, so an
# earlier build of the main job (which leaves them out) does not carry over,
# and a run in which no test ran fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
if [ "${SANITIZE:-0}" = 1 ]; then
    export BUILD_DIR=build-asan
    scripts/build.sh -DQLPR_SANITIZE=ON -DQLPR_TESTS=ON -DQLPR_BENCH=OFF
else
    export BUILD_DIR=build
    scripts/build.sh -DQLPR_SANITIZE=OFF -DQLPR_TESTS=ON -DQLPR_BENCH=ON
fi
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
ctest --test-dir "$BUILD_DIR" --output-on-failure --no-tests=error -j"$(nproc)" --timeout 300
