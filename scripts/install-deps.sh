#!/bin/sh
# Installs the Debian packages a set of work needs; only missing packages are
# installed, and a machine that already has them all is left alone (no root
# needed then). Usage: install-deps.sh [run|deb|web|test]
#   run   what building and running the program needs (make run)
#   deb   that and dpkg's tools, for the Debian package (make deb)
#   web   that and emscripten and Chromium, for the browser build (make web)
#   test  all that and the test tools: GoogleTest, the benchmark library, the
#         X server and its drivers, XScreenSaver, lintian, clang with its
#         fuzzer runtime, clang-format, sox, PulseAudio and its tools (make
#         test; the default)
set -eu

RUN="g++ make cmake ninja-build pkg-config libsdl2-dev libepoxy-dev libstb-dev
libgl1-mesa-dri libegl1 libegl-dev libgl-dev libx11-dev fonts-dejavu-core"
DEB="dpkg-dev"
TEST="libgtest-dev libbenchmark-dev libpng-dev xvfb xauth xdotool x11-apps openbox mesa-utils
clang-14 libclang-rt-14-dev llvm-14 clang-format-14 sox pulseaudio pulseaudio-utils libxfixes-dev
xscreensaver lintian man-db procps"
WEB="emscripten chromium python3"

case "${1:-test}" in
run) PACKAGES="$RUN" ;;
deb) PACKAGES="$RUN $DEB" ;;
web) PACKAGES="$RUN $WEB" ;;
test) PACKAGES="$RUN $DEB $WEB $TEST" ;;
*)
    echo "usage: $0 [run|deb|web|test]" >&2
    exit 2
    ;;
esac

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

[ -z "$missing" ] && exit 0

echo "installing:$missing"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
        SUDO="sudo"
    else
        echo "error: packages missing ($missing) and not running as root" >&2
        exit 1
    fi
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq --no-install-recommends $missing
