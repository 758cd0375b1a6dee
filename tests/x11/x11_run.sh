#!/bin/sh
# Runs the real program in a fresh X server the way a person meets it, and
# checks from the outside what they would see and feel:
#   full screen: the frame it rendered equals a headless run's of the same
#     seed and fixed step (nothing squeezed), and a screenshot of the X screen
#     shows that frame filling the screen, letterboxed and centred;
#   windowed: the pointer stays free (the desktop keeps it);
#   both: 20 relative moves of 10 pixels reach the camera as 200 counts in a
#     recording of the run, and Escape ends it cleanly.
# Usage: x11_run.sh STORM IMGDIFF SCREENCHECK DATA_DIR WORKDIR WxH none|openbox fullscreen|windowed
#        [RENDERER]
# RENDERER is passed to --renderer (both runs); without it the program
# chooses. With gl, the run must really have drawn with OpenGL.
# Exits 77 (skipped) when the X tools are not installed.
set -eu
. "$(dirname "$0")/x11_lib.sh"

storm=$1 imgdiff=$2 screencheck=$3 data=$4 work=$5 size=$6 wm=$7 mode=$8 renderer=${9:-}

for tool in Xvfb xdotool xwd; do
    command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
done
if [ "$wm" = openbox ] && ! command -v openbox >/dev/null 2>&1; then
    echo "skipped: openbox is not installed"
    exit 77
fi

rm -rf "$work"
mkdir -p "$work/shots" "$work/reference"
cd "$work"
unset WAYLAND_DISPLAY
export SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy

pids=""
cleanup() {
    for pid in $pids; do kill "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT INT TERM

fail() {
    echo "FAILED ($size, $wm, $mode): $*"
    exit 1
}


start_xvfb "${size}x24"

if [ "$wm" = openbox ]; then
    openbox --startup "touch $work/wm-ready" >openbox.log 2>&1 &
    pids="$pids $!"
    wait_for '[ -f wm-ready ]' 100 || fail "openbox did not start"
fi

width=${size%x*}
height=${size#*x}
args="--seed 5 --fixed-step 0.000001 --data $data"
[ -z "$renderer" ] || args="$args --renderer $renderer"
if [ "$mode" = windowed ]; then
    args="$args -w"
    # Inside the window's client area, with room for the moves to the right.
    xdotool mousemove 200 200
else
    xdotool mousemove $((width / 2)) $((height / 2))
fi

# The scene barely moves at this step: a screenshot taken a few frames after
# the shot still shows the same picture to within a level or two.
# shellcheck disable=SC2086
"$storm" $args --record run.rec --shots 20 --shot-dir shots >storm.out 2>storm.err &
storm_pid=$!
pids="$pids $storm_pid"
# The recording is flushed frame by frame: two frames past the shot, its
# file is complete.
frames() {
    n=$(grep -vc '^#' run.rec 2>/dev/null) || true
    echo "${n:-0}"
}
wait_for '[ "$(frames)" -ge 22 ] || ! kill -0 '"$storm_pid"' 2>/dev/null' 1200
[ "$(frames)" -ge 22 ] || fail "no frame 20 within 120 s: $(cat storm.err)"

if [ "$mode" = fullscreen ]; then
    xwd -root -silent -out screen.xwd
    # shellcheck disable=SC2086
    "$storm" --headless $args --frames 20 --shots 20 --shot-dir reference >reference.out 2>&1 ||
        fail "the headless reference run failed"
    "$imgdiff" reference/frame-000020.png shots/frame-000020.png 0 0 ||
        fail "the full-screen back buffer differs from the headless one"
    "$screencheck" screen.xwd shots/frame-000020.png screen.png ||
        fail "the screen does not show the frame letterboxed (see $work/screen.png)"
fi

pointer_x() { xdotool getmouselocation --shell | sed -n 's/^X=//p'; }
# The mouse movement the run took so far: the recording's dx and dy columns.
taken() { grep -v '^#' run.rec | awk '{dx += $2; dy += $3} END {print dx + 0, dy + 0}'; }

before=$(pointer_x)
i=0
while [ $i -lt 20 ]; do
    xdotool mousemove_relative -- 10 0
    sleep 0.02
    i=$((i + 1))
done
# Every relative move, counted once.
wait_for '[ "$(taken)" = "200 0" ]' 50 || true
sleep 0.3
[ "$(taken)" = "200 0" ] || fail "the mouse moved 200 0 but the camera took $(taken)"
after=$(pointer_x)
if [ "$mode" = windowed ]; then
    [ $((after - before)) -eq 200 ] ||
        fail "the pointer was held by the window: it moved $((after - before)) of 200 pixels"
    # A free pointer leaves the 640-pixel window for the rest of the desktop.
    xdotool mousemove_relative -- 600 0
    sleep 0.2
    [ "$(pointer_x)" -ge 640 ] || fail "the pointer is confined to the window"
    xdotool mousemove 200 200
    sleep 0.2
fi
xdotool key Escape
wait_for '! kill -0 '"$storm_pid"' 2>/dev/null' 300 || fail "Escape did not end the run"
wait "$storm_pid" || fail "the run exited with $?: $(cat storm.err)"
if [ "$renderer" = gl ]; then
    grep -q ' - renderer: gl (' debug.log || fail "the run did not draw with OpenGL: $(cat storm.err)"
fi
echo "passed ($size, $wm, $mode): moves counted 1:1"
