#!/bin/sh
# The part of xscreensaver_run.sh that runs as the person XScreenSaver works
# for: an X server, the daemon with our hack as its one program, activation,
# a shot of the screen, deactivation. Usage: xscreensaver_inner.sh SCRATCH
# (SCRATCH holds bin/ with the program, its data and storm_screencheck).
set -eu
. "$(dirname "$0")/x11_lib.sh"

scratch=$1
cd "$scratch"
export HOME="$scratch/home" XDG_STATE_HOME="$scratch/home/state"
export SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy
hack="$scratch/bin/storm"
trace="$XDG_STATE_HOME/storm/debug.log"

pids=""
cleanup() {
    xscreensaver-command -exit >/dev/null 2>&1 || true
    for pid in $pids; do kill "$pid" 2>/dev/null || true; done
    # A run that hangs must not outlive its test.
    sleep 0.2
    for pid in $pids; do kill -9 "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT INT TERM

fail() {
    echo "FAILED (xscreensaver): $*"
    exit 1
}


start_xvfb 1280x720x24

# One program, chosen at once, no splash, lock or fading.
cat >"$HOME/.xscreensaver" <<EOF
mode:		one
selected:	0
splash:		False
lock:		False
fade:		False
unfade:		False
timeout:	0:30:00
programs:	"Storm"  $hack --root \n
EOF

xscreensaver -no-splash >xscreensaver.log 2>&1 &
pids="$pids $!"
wait_for 'xscreensaver-command -time >/dev/null 2>&1' 150 ||
    fail "the daemon did not start: $(tail -n 5 xscreensaver.log)"

# The hack, once found, is killed with the rest should the test fail.
hack_pid() { pgrep -u "$(id -u)" -f "^$hack --root" | head -n 1; }
xscreensaver-command -activate >activate.txt 2>&1 || fail "activation refused: $(cat activate.txt)"
wait_for '[ -n "$(hack_pid)" ]' 150 || fail "the daemon did not run the hack: $(tail -n 5 xscreensaver.log)"
pid=$(hack_pid)
pids="$pids $pid"
tr '\0' '\n' <"/proc/$pid/environ" | grep -q '^XSCREENSAVER_WINDOW=' ||
    fail "the hack was not handed XSCREENSAVER_WINDOW"

shows_storm() {
    xwd -root -silent -out screen.xwd 2>/dev/null &&
        bin/storm_screencheck screen.xwd 640x480 xscreensaver.png >screen.txt 2>&1
}
wait_for 'shows_storm || ! kill -0 '"$pid"' 2>/dev/null' 600 || true
shows_storm || fail "the screen does not show the storm: $(cat screen.txt); $(tail -n 5 xscreensaver.log)"
grep -q 'screen 1280x720, picture 960x720 at (160, 0)' screen.txt ||
    fail "not letterboxed on the screen: $(cat screen.txt)"

# Deactivation: the daemon ends the hack with SIGTERM; it must go cleanly.
# An ended hack may stay a zombie until the daemon reaps it, and a command
# sent in the daemon's first moments may go unheeded: ask again meanwhile.
alive() { [ -d "/proc/$pid" ] && ! grep -q '^[0-9]* (.*) Z' "/proc/$pid/stat" 2>/dev/null; }
tries=0
while alive; do
    [ $((tries % 20)) -ne 0 ] || xscreensaver-command -deactivate >/dev/null 2>&1 || true
    tries=$((tries + 1))
    [ "$tries" -le 100 ] || fail "the hack outlived its deactivation: $(tail -n 5 xscreensaver.log)"
    sleep 0.1
done
[ -f "$trace" ] || fail "no trace in $trace"
tail -n 1 "$trace" | grep -q '_gfx_deinit' || fail "the hack did not end cleanly: $(tail -n 3 "$trace")"
[ ! -e debug.log ] && [ ! -e "$HOME/debug.log" ] || fail "the hack wrote debug.log where it was started"
echo "passed (xscreensaver): our hack ran on activation, drew the storm, ended cleanly"
