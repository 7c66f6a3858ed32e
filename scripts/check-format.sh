#!/usr/bin/env bash
# Checks that the C++ lines changed since BASE follow .clang-format; lines nobody touched
# are left as they are, so older code does not fail the check.
#   scripts/check-format.sh [BASE]
# BASE defaults to the merge base with main; on a clean main, the commit before HEAD.
# Exit 0: formatted; 1: the diff shown is what clang-format wants; 77: cannot check here.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v git-clang-format >/dev/null || ! git rev-parse --git-dir >/dev/null 2>&1; then
    echo "check-format: no git-clang-format or no git checkout; not checked"
    exit 77
fi
base=${1:-}
if [ -z "$base" ]; then
    base=$(git merge-base HEAD main 2>/dev/null || git rev-parse HEAD)
    # Nothing committed past main (CI checks main itself): the last commit is the change.
    if [ "$base" = "$(git rev-parse HEAD)" ] && git diff --quiet HEAD; then
        base=$(git rev-parse --verify -q HEAD^ || true)
    fi
fi
if [ -z "$base" ]; then
    echo "check-format: nothing to compare with; not checked"
    exit 77
fi
out=$(git clang-format --diff --extensions cpp,h,hpp,cc "$base" -- src tests bench fuzz scripts)
if grep -q '^diff --git' <<<"$out"; then
    printf '%s\n' "$out"
    echo "check-format: the lines above changed since ${base:0:12} are not formatted" \
        "(git clang-format $base fixes them)"
    exit 1
fi
echo "check-format: lines changed since ${base:0:12} are formatted"
