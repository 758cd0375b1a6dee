#!/bin/sh
# The program as a screensaver in a fresh X server, checked from the outside
# as a screensaver daemon and a person would see it:
#   - bad window ids end the run at once with exit status 2 and a message;
#   - --window-id draws the scene into a window another program made,
#     letterboxed, and follows that window when it is resized;
#   - it takes no input there (no client listens on the window, keys and
#     clicks change nothing), grabs nothing, and leaves the pointer visible,
#     while the recorded flight moves the camera;
#   - SIGTERM ends it within a second with exit status 0 and a trace that
#     went to $XDG_STATE_HOME/storm/debug.log, none in the current directory;
#   - --root (and -root) draws on the window in XSCREENSAVER_WINDOW, or on
#     the whole screen when it is unset; SIGINT ends it as SIGTERM does, and
#     so does the window's destruction.
# Usage: saver_run.sh STORM SCREENCHECK SAVERWIN DATA_DIR WORKDIR [RENDERER]
# With RENDERER (gl) only the --window-id part runs, on that backend, and the
# trace must show it drew with it. Exits 77 (skipped) without the X tools.
set -eu
. "$(dirname "$0")/x11_lib.sh"

storm=$1 screencheck=$2 saverwin=$3 data=$4 work=$5 renderer=${6:-}

for tool in Xvfb xdotool xwd; do
    command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
done

rm -rf "$work"
mkdir -p "$work/run" "$work/state" "$work/home"
cd "$work/run"
unset WAYLAND_DISPLAY XSCREENSAVER_WINDOW
export SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy
export XDG_STATE_HOME="$work/state" HOME="$work/home"
args="--data $data"
[ -z "$renderer" ] || args="$args --renderer $renderer"

pids=""
cleanup() {
    for pid in $pids; do kill "$pid" 2>/dev/null || true; done
    # A run that hangs must not outlive its test.
    sleep 0.2
    for pid in $pids; do kill -9 "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT INT TERM

fail() {
    echo "FAILED (${renderer:-auto}): $*"
    exit 1
}


start_xvfb 1280x800x24

# Opens a W x H window made by another program; sets $wid and $owner.
open_window() {
    rm -f "$work/$3.id"
    "$saverwin" open "$1" "$2" "$work/$3.id" &
    owner=$!
    pids="$pids $owner"
    wait_for "[ -s $work/$3.id ]" 100 || fail "the test window did not open"
    wid=$(cat "$work/$3.id")
}

# Takes a shot of window $1 (or the screen, "root") into $2.xwd and checks it
# shows the 640 x 480 frame letterboxed; $2.txt keeps what the check said.
shows_storm() {
    if [ "$1" = root ]; then
        xwd -root -silent -out "$work/$2.xwd" 2>/dev/null || return 1
    else
        xwd -id "$1" -silent -out "$work/$2.xwd" 2>/dev/null || return 1
    fi
    "$screencheck" "$work/$2.xwd" 640x480 "$work/$2.png" >"$work/$2.txt" 2>&1
}

# Sends signal $1 to $storm_pid (or, for "gone", destroys the window by
# ending its owner) and expects a clean end within a second.
ends_cleanly_on() {
    if [ "$1" = gone ]; then
        kill "$owner"
    else
        kill -"$1" "$storm_pid"
    fi
    wait_for '! kill -0 '"$storm_pid"' 2>/dev/null' 10 || fail "$1 did not end the run within a second"
    rc=0
    wait "$storm_pid" || rc=$?
    [ "$rc" -eq 0 ] || fail "$1 ended the run with exit status $rc: $(cat storm.err)"
    [ ! -e debug.log ] || fail "a screensaver wrote debug.log into the current directory"
    log="$XDG_STATE_HOME/storm/debug.log"
    [ -f "$log" ] || fail "no trace in $log"
    tail -n 1 "$log" | grep -q '_gfx_deinit' || fail "the trace does not end with the shutdown: $(tail -n 3 "$log")"
}

if [ -z "$renderer" ]; then
    # Bad ids: a clear word and exit status 2, before any window is touched.
    for bad in "--window-id zz" "--window-id 0" "-window-id 0x" "--window-id 0x1ffffff0"; do
        rc=0
        # shellcheck disable=SC2086
        "$storm" $args $bad >bad.out 2>bad.err || rc=$?
        [ "$rc" -eq 2 ] || fail "'$bad' exited with $rc, not 2"
        grep -q -i 'window' bad.err || fail "'$bad' gave no clear message: $(cat bad.err)"
    done
    rc=0
    XSCREENSAVER_WINDOW=junk "$storm" $args --root >bad.out 2>bad.err || rc=$?
    [ "$rc" -eq 2 ] || fail "a bad XSCREENSAVER_WINDOW exited with $rc, not 2"
    grep -q XSCREENSAVER_WINDOW bad.err || fail "no word about XSCREENSAVER_WINDOW: $(cat bad.err)"
    rm -rf "$XDG_STATE_HOME/storm"
fi

# --window-id: the scene in a 400 x 400 window, then in the same window at 600 x 300.
open_window 400 400 preview
# shellcheck disable=SC2086
"$storm" $args --window-id "$wid" --record flight.rec >storm.out 2>storm.err &
storm_pid=$!
pids="$pids $storm_pid"
wait_for 'shows_storm '"$wid"' window || ! kill -0 '"$storm_pid"' 2>/dev/null' 600 || true
shows_storm "$wid" window || fail "no storm in the window: $(cat "$work/window.txt") $(cat storm.err)"
grep -q 'screen 400x400, picture 400x300 at (0, 50)' "$work/window.txt" ||
    fail "not letterboxed in 400 x 400: $(cat "$work/window.txt")"

"$saverwin" free "$wid" || fail "the screensaver took input or the pointer"
# A person's keys and clicks over the window change nothing.
xdotool mousemove 200 200 click 1 click 3 key Escape key F12
sleep 0.5
kill -0 "$storm_pid" 2>/dev/null || fail "keys or clicks ended the run"
ls storm-*.png >/dev/null 2>&1 && fail "F12 over the window wrote a screenshot"

# Nobody holds the mouse, yet the recorded person's hand moves the camera.
moved() { grep -v '^#' flight.rec | awk '{m += ($2 < 0 ? -$2 : $2) + ($3 < 0 ? -$3 : $3)} END {print m + 0}'; }
wait_for '[ "$(moved)" -gt 0 ]' 50 || fail "the camera was not flown: no mouse input in the run"

xdotool windowsize "$wid" 600 300
wait_for 'shows_storm '"$wid"' resized && grep -q "screen 600x300, picture 400x300 at (100, 0)" '"$work"'/resized.txt' 100 ||
    fail "the picture did not follow the window to 600 x 300: $(cat "$work/resized.txt")"
ends_cleanly_on TERM
if [ -n "$renderer" ]; then
    grep -q " - renderer: $renderer (" "$XDG_STATE_HOME/storm/debug.log" ||
        fail "the run did not draw with $renderer: $(grep renderer "$XDG_STATE_HOME/storm/debug.log")"
    echo "passed (${renderer}): drew in the window and followed it, took no input, ended on SIGTERM"
    exit 0
fi
kill "$owner"

# --root with XSCREENSAVER_WINDOW: the daemon's own window; single-dash form.
open_window 320 240 daemon
rm -rf "$XDG_STATE_HOME/storm"
# shellcheck disable=SC2086
XSCREENSAVER_WINDOW=$wid "$storm" $args -root >storm.out 2>storm.err &
storm_pid=$!
pids="$pids $storm_pid"
wait_for 'shows_storm '"$wid"' daemon || ! kill -0 '"$storm_pid"' 2>/dev/null' 600 || true
shows_storm "$wid" daemon || fail "no storm in XSCREENSAVER_WINDOW: $(cat "$work/daemon.txt") $(cat storm.err)"
ends_cleanly_on INT

# The window destroyed under the drawing (its owner ends) ends the run too.
# The window still shows the last run's picture: wait for this run's frames.
rm -rf "$XDG_STATE_HOME/storm"
# shellcheck disable=SC2086
"$storm" $args --window-id "$wid" --record gone.rec >storm.out 2>storm.err &
storm_pid=$!
pids="$pids $storm_pid"
wait_for '[ "$(grep -vc "^#" gone.rec 2>/dev/null)" -ge 5 ] || ! kill -0 '"$storm_pid"' 2>/dev/null' 600 || true
ends_cleanly_on gone

# --root without it: the whole screen, letterboxed.
rm -rf "$XDG_STATE_HOME/storm"
# shellcheck disable=SC2086
"$storm" $args --root >storm.out 2>storm.err &
storm_pid=$!
pids="$pids $storm_pid"
wait_for 'shows_storm root screen || ! kill -0 '"$storm_pid"' 2>/dev/null' 600 || true
shows_storm root screen || fail "no storm on the root window: $(cat "$work/screen.txt") $(cat storm.err)"
grep -q 'screen 1280x800, picture 1067x800 at (106, 0)' "$work/screen.txt" ||
    fail "not letterboxed on the screen: $(cat "$work/screen.txt")"
ends_cleanly_on TERM
echo "passed: bad ids refused, drew in a window and followed it, took no input, root and XSCREENSAVER_WINDOW, ended on signals"
