#!/bin/sh
# Installs the Debian packages the build, the tests, the fuzzers and the
# headless runs need. Only missing packages are installed; a machine that
# already has them all is left alone (no root needed then).
set -eu

PACKAGES="g++ make cmake ninja-build pkg-config libsdl2-dev libepoxy-dev libstb-dev
libpng-dev libgtest-dev libbenchmark-dev libgl1-mesa-dri libegl1 libegl-dev libgl-dev
xvfb xauth xdotool x11-apps openbox mesa-utils fonts-dejavu-core clang-14 libclang-rt-14-dev
llvm-14 clang-format-14 sox"

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
