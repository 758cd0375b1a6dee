#!/bin/sh
# The program as XScreenSaver runs it: the daemon in a fresh X server with
# our hack as its one program; "xscreensaver-command -activate" must start it
# and the screen must then show the storm, letterboxed; deactivating must end
# it cleanly (its trace in the state folder ends with the shutdown).
#
# XScreenSaver refuses to launch hacks as root, so as root the test runs as
# an ordinary user made for it (stormsaver), with a copy of the program and
# its data in a folder of that user's: the build tree may lie where only root
# can read. As anyone else it runs as that person, in a scratch home.
# Usage: xscreensaver_run.sh STORM SCREENCHECK DATA_DIR WORKDIR
# Exits 77 (skipped) when XScreenSaver or the X tools are not installed.
set -eu

storm=$1 screencheck=$2 data=$3 work=$4
USER_NAME=stormsaver

for tool in Xvfb xwd xscreensaver xscreensaver-command; do
    command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
done

rm -rf "$work"
mkdir -p "$work"
scratch=$(mktemp -d /tmp/storm-xscreensaver.XXXXXX)
cleanup() {
    rm -rf "$scratch"
}
trap cleanup EXIT INT TERM

# The program as installed: data and flight beside it.
mkdir -p "$scratch/bin" "$scratch/home"
cp "$storm" "$screencheck" "$scratch/bin/"
cp "$data/data.pak" "$data/flight.rec" "$scratch/bin/"
cp "$(dirname "$0")/xscreensaver_inner.sh" "$(dirname "$0")/x11_lib.sh" "$scratch/"

if [ "$(id -u)" -eq 0 ]; then
    if ! id "$USER_NAME" >/dev/null 2>&1; then
        useradd -m -s /bin/sh "$USER_NAME" || { echo "cannot make the user $USER_NAME"; exit 1; }
    fi
    chown -R "$USER_NAME" "$scratch"
    chmod 755 "$scratch"
    rc=0
    runuser -u "$USER_NAME" -- env -i PATH="$PATH" sh "$scratch/xscreensaver_inner.sh" "$scratch" || rc=$?
else
    rc=0
    env -i PATH="$PATH" sh "$scratch/xscreensaver_inner.sh" "$scratch" || rc=$?
fi
cp "$scratch"/*.png "$scratch"/*.txt "$scratch"/*.log "$work/" 2>/dev/null || true
exit "$rc"
