#!/usr/bin/env bash
# Installs what is missing, builds the program and the tests, and runs every test through
# CTest.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh
# Keep whichever generator an existing build folder was made with.
gen=()
[ -f build/CMakeCache.txt ] || gen=(-G Ninja)
cmake -S . -B build "${gen[@]}"
cmake --build build
cd build
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2 "$@"
