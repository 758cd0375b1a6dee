# What the X tests' scripts share (sourced, with `pids` and `fail` of the
# sourcing script): waiting for a condition, and an X server of their own.

# Waits up to $2 tenths of a second for the command $1 to succeed.
wait_for() {
    tries=0
    until eval "$1"; do
        tries=$((tries + 1))
        [ "$tries" -le "$2" ] || return 1
        sleep 0.1
    done
}

# Starts Xvfb with one screen of $1 (WxHxDEPTH) on a free display and points
# DISPLAY at it. The root window is black (-br), so letterbox bars read as
# black; no reset when the last client leaves, so the pointer stays where it
# was put.
start_xvfb() {
    Xvfb -displayfd 5 -br -noreset -screen 0 "$1" -nolisten tcp 5>display.txt 2>xvfb.log &
    pids="$pids $!"
    wait_for '[ -s display.txt ]' 100 || fail "Xvfb did not start"
    DISPLAY=":$(head -n 1 display.txt)"
    export DISPLAY
}
