#!/bin/sh
# The clang-14 build: the libFuzzer targets, each run for FUZZ_SECONDS (30 by
# default), two at a time, then the software rasterizer's tests, so a second
# compiler is held to the reference's pixels too. Built without debug
# information (the fuzzers add their own), which nearly doubles the kernel's
# compile time.
# Usage: run-clang.sh [BUILD_DIR] [fuzz|kernel] [ctest arguments for the fuzzers...]
# BUILD_DIR defaults to build-clang/; without fuzz or kernel both run.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-clang"
if [ $# -gt 0 ] && [ "${1#-}" = "$1" ] && [ "$1" != kernel ] && [ "$1" != fuzz ]; then
    build="$1"
    shift
fi
what="fuzz kernel"
if [ $# -gt 0 ] && { [ "$1" = kernel ] || [ "$1" = fuzz ]; }; then
    what="$1"
    shift
fi

generator=""
if [ ! -f "$build/CMakeCache.txt" ] && command -v ninja >/dev/null 2>&1; then
    generator="-G Ninja"
fi
# shellcheck disable=SC2086
CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" $generator -DSTORM_FUZZ=ON \
    -DCMAKE_BUILD_TYPE=Release -DSTORM_FUZZ_SECONDS="${FUZZ_SECONDS:-30}" >/dev/null
build="$(cd "$build" && pwd)"

for part in $what; do
    case $part in
    kernel)
        cmake --build "$build" --target storm_soft_tests
        # The tests write debug.log into the current directory.
        mkdir -p "$build/tests/work"
        (cd "$build/tests/work" && SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy \
            "$build/tests/storm_soft_tests")
        ;;
    fuzz)
        cmake --build "$build" --target fuzz_pak fuzz_tga fuzz_wav
        # The fuzz tests are registered in the fuzz directory only.
        (cd "$build/tests/fuzz" && ctest -L fuzz --output-on-failure -j "$(nproc)" "$@")
        ;;
    esac
done
