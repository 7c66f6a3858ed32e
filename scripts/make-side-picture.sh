#!/usr/bin/env bash
# Redraws data/side.jpg from make-side-picture.cpp (needs Qt 6 development files).
set -euo pipefail
cd "$(dirname "$0")/.."
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
g++ -std=c++20 -O1 -fPIC scripts/make-side-picture.cpp -o "$work/make-side-picture" \
    $(pkg-config --cflags --libs Qt6Gui)
"$work/make-side-picture" "$work/side.jpg"
mv "$work/side.jpg" data/side.jpg
echo "data/side.jpg written"
