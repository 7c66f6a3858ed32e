#!/usr/bin/env bash
# Installs what is missing, builds Tessarin and starts the wizard.
# Any arguments are handed to the program (one argument = a batch task file).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default
cmake --build --preset default -j "$(nproc)"
exec ./build/default/bin/tessarin "$@"
