#!/bin/sh
# Runs the program: in a window when there is a display, otherwise headless
# for a few seconds of scene time, and says where its output went.
set -eu
exe="$1"; shift

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec "$exe" "$@"
fi

echo "no display found: rendering headless (300 frames at 50 per second of scene time)"
"$exe" --headless --frames 300 --fixed-step 0.02 "$@"
echo "trace written to $(pwd)/debug.log"
