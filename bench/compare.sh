#!/bin/sh
# Flies the committed flight with --bench on each backend, interleaved so a
# noisy machine weighs on all of them alike, and prints one table of medians.
# Usage: bench/compare.sh [BUILD_DIR] [RUNS] [SIZES] [BACKENDS]
#   BUILD_DIR defaults to build/, RUNS to 5, SIZES to "640x480 1920x1080",
#   BACKENDS to "ref soft:--threads,1 soft:--threads,2 gl"; a backend is
#   written NAME or NAME:ARG,ARG (extra arguments, e.g. "soft:--threads,2").
# The GL backend runs headless through EGL; without a GPU that is Mesa's
# llvmpipe, held to two threads (LP_NUM_THREADS=2) as the reference machine.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
runs=${2:-5}
sizes=${3:-"640x480 1920x1080"}
backends=${4:-"ref soft:--threads,1 soft:--threads,2 gl"}
storm="$build/storm"
flight="$root/bench/flight.rec"
results=$(mktemp)
trap 'rm -f "$results"' EXIT

export LP_NUM_THREADS=${LP_NUM_THREADS:-2}
export SDL_VIDEODRIVER=${SDL_VIDEODRIVER:-offscreen} SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}

run=1
while [ "$run" -le "$runs" ]; do
    for size in $sizes; do
        for backend in $backends; do
            name=${backend%%:*}
            extra=""
            [ "$name" != "$backend" ] && extra=$(echo "${backend#*:}" | tr ',' ' ')
            # shellcheck disable=SC2086
            line=$(cd "$build" && "$storm" --headless --renderer "$name" $extra \
                -x "${size%x*}" -y "${size#*x}" --replay "$flight" --seed 6 --bench 2>&1 |
                grep '^bench:' || true)
            # The line names the backend that really ran: a fallback shows.
            used=$(echo "$line" | sed -n 's/^bench: renderer \([^,]*\),.*/\1/p')
            fps=$(echo "$line" | sed -n 's/.* \([0-9.]*\) fps,.*/\1/p')
            p99=$(echo "$line" | sed -n 's/.* p99 \([0-9.]*\) ms.*/\1/p')
            echo "$size $backend ${used:-failed} ${fps:-0} ${p99:-0}" >>"$results"
            echo "run $run, $size, $backend: ${line:-no bench line}" >&2
        done
    done
    run=$((run + 1))
done

median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

printf '%-10s %-22s %-8s %10s %12s\n' size backend ran "fps (med)" "p99 ms (med)"
for size in $sizes; do
    for backend in $backends; do
        rows=$(grep "^$size $backend " "$results")
        used=$(echo "$rows" | awk '{print $3}' | sort -u | tr '\n' '/' | sed 's#/$##')
        fps=$(echo "$rows" | awk '{print $4}' | median)
        p99=$(echo "$rows" | awk '{print $5}' | median)
        printf '%-10s %-22s %-8s %10s %12s\n' "$size" "$backend" "$used" "$fps" "$p99"
    done
done
