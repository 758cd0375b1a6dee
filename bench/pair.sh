#!/bin/sh
# Compares two builds of the program on a noisy machine: both fly the
# committed flight at once, one per core on one rendering thread each, and
# swap cores every round, so whatever else the machine does weighs on both
# alike. Prints each round's frame rates and the ratio new / old, then the
# median ratio.
# Usage: bench/pair.sh OLD_STORM NEW_STORM [ROUNDS] [FRAMES] [WIDTHxHEIGHT] [EXTRA...]
#   ROUNDS defaults to 6, FRAMES to 800, the size to 640x480; EXTRA
#   arguments go to both runs (e.g. --renderer ref). Both runs use the
#   software renderer on one thread unless EXTRA says otherwise, and the
#   data of the new build's folder.
set -eu

[ $# -ge 2 ] || { sed -n '2,11p' "$0" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
old=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
new=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
rounds=${3:-6}
frames=${4:-800}
size=${5:-640x480}
[ $# -ge 5 ] && shift 5 || shift $#
extra="$*"
data=$(dirname "$new")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export SDL_VIDEODRIVER=${SDL_VIDEODRIVER:-offscreen} SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}

# One run's frames per second from its --bench line.
fps() { sed -n 's/.* \([0-9.]*\) fps,.*/\1/p' "$1"; }

run() { # core, binary, output
    # shellcheck disable=SC2086
    (cd "$work" && taskset -c "$1" "$2" --headless --renderer soft --threads 1 \
        -x "${size%x*}" -y "${size#*x}" --data "$data" --replay "$root/bench/flight.rec" \
        --seed 6 --frames "$frames" --bench $extra >"$3" 2>&1)
}

round=1
: >"$work/ratios"
while [ "$round" -le "$rounds" ]; do
    a=$((round % 2)) b=$(((round + 1) % 2))
    run "$a" "$old" "$work/old.txt" &
    run "$b" "$new" "$work/new.txt" &
    wait
    o=$(fps "$work/old.txt") n=$(fps "$work/new.txt")
    r=$(awk -v n="$n" -v o="$o" 'BEGIN {printf "%.3f", n / o}')
    echo "round $round: old $o fps (core $a), new $n fps (core $b), new / old $r"
    echo "$r" >>"$work/ratios"
    round=$((round + 1))
done
sort -n "$work/ratios" | awk '{v[NR] = $1} END {
    m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    printf "median new / old: %.3f over %d rounds\n", m, NR}'
