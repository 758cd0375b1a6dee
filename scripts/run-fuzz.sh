#!/bin/sh
# Builds the libFuzzer targets with clang-14 and runs each for its set time
# (ctest label "fuzz"). Usage: run-fuzz.sh [BUILD_DIR] [ctest arguments...]
# BUILD_DIR defaults to build-fuzz/; FUZZ_SECONDS overrides the time per target.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"
if [ $# -gt 0 ] && [ "${1#-}" = "$1" ]; then
    build="$1"
    shift
fi

generator=""
if [ ! -f "$build/CMakeCache.txt" ] && command -v ninja >/dev/null 2>&1; then
    generator="-G Ninja"
fi

# shellcheck disable=SC2086
CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" $generator -DSTORM_FUZZ=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTORM_FUZZ_SECONDS="${FUZZ_SECONDS:-30}"
cmake --build "$build"
# The fuzz build stops before the top level enables testing, so its tests are
# registered in the fuzz directory only.
cd "$build/tests/fuzz"
ctest -L fuzz --output-on-failure "$@"
