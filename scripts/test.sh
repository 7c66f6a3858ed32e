#!/usr/bin/env bash
# Installs what is missing, builds Tessarin and runs every test. The default run then
# also builds the asan preset and runs its unit and GUI tests, and runs every fuzz
# target for 20 seconds.
# Usage: scripts/test.sh [default|asan|quick]
#   quick: the everyday check: build and the unit and GUI tests only (no end-to-end
#   runs, benchmarks, sanitizers or fuzzing).
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
bash scripts/install-deps.sh

launcher=()
if command -v ccache >/dev/null; then
    export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

run_preset() {
    cmake --preset "$1" "${launcher[@]}"
    cmake --build --preset "$1" -j "$(nproc)"
    ctest --preset "$1"
}

if [ "$preset" = quick ]; then
    cmake --preset default "${launcher[@]}"
    cmake --build --preset default -j "$(nproc)"
    ctest --preset default -LE e2e
    exit 0
fi

run_preset "$preset"
if [ "$preset" = default ]; then
    run_preset asan
    bash scripts/fuzz.sh 20
fi
