#!/usr/bin/env bash
# Installs what is missing, builds the program (not the tests), makes a sample clip if
# there is none, and starts the program on it.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh
# Keep whichever generator an existing build folder was made with.
gen=()
[ -f build/CMakeCache.txt ] || gen=(-G Ninja)
cmake -S . -B build "${gen[@]}"
cmake --build build --target application
clip="sample/sample.mp4"
if [ ! -f "$clip" ]; then
  mkdir -p sample
  ffmpeg -nostdin -loglevel error -y -f lavfi -i "testsrc2=size=640x360:rate=25:duration=90" \
    -f lavfi -i "sine=frequency=440:duration=90" -c:v libx264 -preset veryfast -pix_fmt yuv420p \
    -c:a aac -shortest "$clip"
fi
exec build/app/veltrane "$PWD/$clip" "$@"
