# Shared by smoke.sh and campaign.sh (sourced, not run): the fuzz build and
# how one harness is run. Every harness follows one convention: the
# executable fuzz_NAME built from fuzz/CMakeLists.txt, seeds in
# fuzz/corpus/NAME/, a dictionary fuzz/NAME.dict and libFuzzer options
# fuzz/NAME.options (one -flag=value a line) when present.

FUZZ_SOURCE=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
FUZZ_BUILD=${FUZZ_BUILD:-$FUZZ_SOURCE/build-fuzz}
FUZZ_LIST=$FUZZ_BUILD/fuzz/harnesses.txt

# Undefined behaviour stops the harness like a crash does; leaks are findings.
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}

# Installs what is missing, configures (with clang, the sanitizers and libFuzzer) and builds every harness.
build_fuzzers() {
    "$FUZZ_SOURCE/scripts/deps.sh"
    local launcher=()
    if command -v ccache >/dev/null; then
        launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    fi
    CC=clang CXX=clang++ cmake -S "$FUZZ_SOURCE" -B "$FUZZ_BUILD" -DQLPR_FUZZ=ON -DQLPR_TESTS=OFF \
        -DQLPR_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
    cmake --build "$FUZZ_BUILD" -j"$(nproc)" --target fuzzers
}

# The harnesses the build made, one a line.
fuzzer_names() {
    cat "$FUZZ_LIST"
}

# The libFuzzer arguments of harness $1 besides the time and the corpus: a
# default time limit per input, then its dictionary and its own options
# (which win).
fuzzer_arguments() {
    local name=$1
    echo "-timeout=25"
    [ -f "$FUZZ_SOURCE/fuzz/$name.dict" ] && echo "-dict=$FUZZ_SOURCE/fuzz/$name.dict"
    if [ -f "$FUZZ_SOURCE/fuzz/$name.options" ]; then
        grep -E '^-' "$FUZZ_SOURCE/fuzz/$name.options" || true
    fi
}

# Artefacts of findings in folder $1 (slow units are reports, not findings).
findings_in() {
    find "$1" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' \
        -o -name 'oom-*' \) "${@:2}" | sort
}
