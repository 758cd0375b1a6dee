#!/bin/sh
# Runs the program: in a window when there is a display. Without one it flies
# the committed flight headless with the software renderer, writes a few of
# its frames as PNG and prints where they are, with the frame-rate figures.
set -eu
exe="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; shift

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec "$exe" "$@"
fi

root=$(cd "$(dirname "$0")/.." && pwd)
out="$(dirname "$exe")/frames"
mkdir -p "$out"
echo "no display found: flying bench/flight.rec headless (60 s of scene time)"
cd "$out"
"$exe" --headless --replay "$root/bench/flight.rec" --seed 6 \
    --shots 100,300,600,1200,1700 --shot-dir "$out" --bench
echo "the frames are in $out; the start-up trace is in $out/debug.log"
