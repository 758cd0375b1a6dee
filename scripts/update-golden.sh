#!/bin/sh
# Replaces the golden frames with freshly rendered ones. Look at them before
# committing: they are what every later change is compared with.
set -eu
build="$(cd "${1:-build}" && pwd)"
cmake --build "$build"
cmake -DSTORM="$build/storm" -DIMGDIFF="$build/tests/storm_imgdiff" -DSOURCE_DIR="$(pwd)" \
      -DDATA_DIR="$build" -DWORKDIR="$build/tests/golden" -DUPDATE=ON \
      -P tests/golden/golden.cmake
echo "updated tests/golden/frame-*.png"
