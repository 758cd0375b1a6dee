#!/bin/sh
# The Debian package as a person meets it: built by CPack from the build
# tree, checked by lintian (no errors), installed with apt-get, run from
# another folder, its files listed, its manual page rendered; then purged,
# leaving no file of it behind.
#
# It installs into the machine's own /usr, so it runs only as root, only when
# no storm package is installed already, and one at a time per machine;
# `ctest -LE package` leaves it out.
# Usage: package_test.sh BUILD_DIR WORKDIR
# Exits 77 (skipped) when it cannot run here.
set -eu

build=$1 work=$2

[ "$(id -u)" -eq 0 ] || { echo "skipped: installing a package needs root"; exit 77; }
for tool in cpack dpkg dpkg-deb apt-get lintian man flock; do
    command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
done

rm -rf "$work"
mkdir -p "$work"
cd "$work"
exec 9>/tmp/storm-package-test.lock
flock 9
if dpkg-query -W -f='${Status}' storm 2>/dev/null | grep -q 'installed'; then
    echo "skipped: a storm package is installed on this machine already; the test would replace it"
    exit 77
fi

fail() {
    echo "FAILED (package): $*"
    exit 1
}
installed=0
cleanup() {
    if [ "$installed" -eq 1 ]; then
        DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq storm >/dev/null 2>&1 || true
    fi
}
trap cleanup EXIT INT TERM

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work" >cpack.log 2>&1 ||
    fail "cpack failed: $(tail -n 20 cpack.log)"
deb=$(ls "$work"/storm_*.deb)
dpkg-deb --contents "$deb" >contents.txt
dpkg-deb --field "$deb" Package Version Depends Section >control.txt
echo "package: $(basename "$deb")"
cat control.txt

# lintian's errors fail the test; its warnings are only shown.
lintian --tag-display-limit 0 "$deb" >lintian.txt 2>&1 || true
grep -v '^N:' lintian.txt || true
if grep -q '^E:' lintian.txt; then
    fail "lintian reports errors"
fi
grep -q '^Depends:.*libsdl2' control.txt || fail "Depends does not name SDL: $(cat control.txt)"

DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >apt-install.log 2>&1 ||
    fail "apt-get install failed: $(tail -n 20 apt-install.log)"
installed=1
dpkg -L storm >files.txt

for file in /usr/bin/storm /usr/share/storm/data.pak /usr/share/storm/flight.rec \
    /usr/share/man/man6/storm.6.gz /usr/libexec/xscreensaver/storm \
    /usr/share/xscreensaver/config/storm.xml /usr/share/applications/storm.desktop \
    /usr/share/icons/hicolor/32x32/apps/storm.png /usr/share/doc/storm/copyright; do
    grep -qx "$file" files.txt || fail "dpkg -L storm does not list $file"
    [ -e "$file" ] || fail "$file is listed but not there"
done

# Found on the PATH, and from any folder it finds its data.
version=$(cd / && storm --version) || fail "storm --version failed"
echo "$version" | grep -q '^storm ' || fail "storm --version said '$version'"
/usr/libexec/xscreensaver/storm --version >/dev/null || fail "the XScreenSaver hack does not run"
mkdir -p "$work/elsewhere"
(cd "$work/elsewhere" && SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy \
    storm --headless --frames 3 --shots 3 >run.out 2>run.err) ||
    fail "a headless run from another folder failed: $(cat "$work/elsewhere/run.err")"
[ -s "$work/elsewhere/frame-000003.png" ] || fail "the headless run wrote no frame"
grep -q 'textures/floor' "$work/elsewhere/debug.log" || fail "the run did not load its data"
! grep -q 'failed' "$work/elsewhere/debug.log" ||
    fail "the run missed some of its data: $(grep -B1 failed "$work/elsewhere/debug.log")"

# The manual page renders and names every option.
MANWIDTH=80 LC_ALL=C.UTF-8 man -l /usr/share/man/man6/storm.6.gz 2>man.err | col -b >man.txt ||
    fail "man -l failed: $(cat man.err)"
[ ! -s man.err ] || fail "man reports problems: $(cat man.err)"
for option in $(storm --help | sed -n 's/^  \(-\{1,2\}[a-z][a-z-]*\).*/\1/p'); do
    grep -q -- "$option" man.txt || fail "the manual page does not describe $option"
done

DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq storm >apt-purge.log 2>&1 ||
    fail "apt-get purge failed: $(tail -n 20 apt-purge.log)"
installed=0
! dpkg-query -W storm >/dev/null 2>&1 || fail "dpkg still knows the package after the purge"
while read -r path; do
    [ "$path" = "/." ] && continue
    # Folders others share (/usr/bin, ...) stay; every file and our own folders go.
    if [ -e "$path" ] || [ -L "$path" ]; then
        if [ ! -d "$path" ] || dpkg -S "$path" >/dev/null 2>&1; then
            [ -d "$path" ] || fail "$path is left behind after the purge"
        else
            fail "the folder $path is left behind after the purge"
        fi
    fi
done <files.txt
echo "passed (package): lintian without errors, installed, ran, listed, purged clean"
