#!/bin/sh
# Flies the committed flight with --bench on each backend, interleaved so a
# noisy machine weighs on all of them alike, and prints one table of medians
# (frames per second, 99th-percentile frame time, peak resident memory) and
# the ratios that matter: the tiled renderer on two threads against OpenGL
# and against itself on one thread.
# Usage: bench/compare.sh [BUILD_DIR] [RUNS] [SIZES] [BACKENDS]
#   BUILD_DIR defaults to build/, RUNS to 5, SIZES to "640x480 1920x1080",
#   BACKENDS to "soft:--threads,1 soft:--threads,2 gl"; a backend is
#   written NAME or NAME:ARG,ARG (extra arguments, e.g. "soft:--threads,2").
#   Add "ref" for the reference renderer (slow: about 3 fps at 1920 x 1080).
# The GL backend runs headless through EGL; without a GPU that is Mesa's
# llvmpipe, held to two threads (LP_NUM_THREADS=2) as the reference machine.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
runs=${2:-5}
sizes=${3:-"640x480 1920x1080"}
backends=${4:-"soft:--threads,1 soft:--threads,2 gl"}
storm="$build/storm"
flight="$root/bench/flight.rec"
results=$(mktemp)
usage=$(mktemp)
trap 'rm -f "$results" "$usage"' EXIT
# Peak resident memory comes from GNU time where it is installed.
timer=""
[ -x /usr/bin/time ] && timer="/usr/bin/time -f %M -o $usage"

export LP_NUM_THREADS=${LP_NUM_THREADS:-2}
export SDL_VIDEODRIVER=${SDL_VIDEODRIVER:-offscreen} SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}

run=1
while [ "$run" -le "$runs" ]; do
    for size in $sizes; do
        for backend in $backends; do
            name=${backend%%:*}
            extra=""
            [ "$name" != "$backend" ] && extra=$(echo "${backend#*:}" | tr ',' ' ')
            echo 0 >"$usage"
            # shellcheck disable=SC2086
            line=$(cd "$build" && $timer "$storm" --headless --renderer "$name" $extra \
                -x "${size%x*}" -y "${size#*x}" --replay "$flight" --seed 6 --bench 2>&1 |
                grep '^bench:' || true)
            rss=$(($(tail -n 1 "$usage") / 1024))
            # The line names the backend that really ran: a fallback shows.
            used=$(echo "$line" | sed -n 's/^bench: renderer \([^,]*\),.*/\1/p')
            fps=$(echo "$line" | sed -n 's/.* \([0-9.]*\) fps,.*/\1/p')
            p99=$(echo "$line" | sed -n 's/.* p99 \([0-9.]*\) ms.*/\1/p')
            echo "$size $backend ${used:-failed} ${fps:-0} ${p99:-0} $rss" >>"$results"
            echo "run $run, $size, $backend: ${line:-no bench line}" >&2
        done
    done
    run=$((run + 1))
done

median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

printf '%-10s %-22s %-8s %10s %12s %12s\n' size backend ran "fps (med)" "p99 ms (med)" "peak MB (max)"
for size in $sizes; do
    for backend in $backends; do
        rows=$(grep "^$size $backend " "$results")
        used=$(echo "$rows" | awk '{print $3}' | sort -u | tr '\n' '/' | sed 's#/$##')
        fps=$(echo "$rows" | awk '{print $4}' | median)
        p99=$(echo "$rows" | awk '{print $5}' | median)
        rss=$(echo "$rows" | awk '{print $6}' | sort -n | tail -n 1)
        printf '%-10s %-22s %-8s %10s %12s %12s\n' "$size" "$backend" "$used" "$fps" "$p99" "$rss"
    done
done

# Ratios of medians, where both sides were measured.
fps_of() { grep "^$1 $2 " "$results" | awk '{print $4}' | median; }
echo
for size in $sizes; do
    one=$(fps_of "$size" "soft:--threads,1")
    two=$(fps_of "$size" "soft:--threads,2")
    gl=$(fps_of "$size" "gl")
    [ -n "$two" ] && [ -n "$gl" ] && awk -v a="$two" -v b="$gl" -v s="$size" \
        'BEGIN {if (b > 0) printf "%-10s soft on 2 threads / gl: %.2fx\n", s, a / b}'
    [ -n "$two" ] && [ -n "$one" ] && awk -v a="$two" -v b="$one" -v s="$size" \
        'BEGIN {if (b > 0) printf "%-10s soft 2 threads / 1 thread: %.2fx\n", s, a / b}'
done
