#!/usr/bin/env bash
# Times the two geometric algorithms whose cost could grow faster than their
# input, each at n and 10 n, through the program, and prints how much longer
# the larger case takes (near-linear: at most 20 times):
# - multipolygon ring assembly: one relation whose outer ring is a circle of
#   n two-node ways listed in shuffled order, crossing the border of two
#   .poly areas (against osmium cat of the same input);
# - overlap resolution: two .poly areas sharing a zigzag boundary of n
#   vertices, touching ("adjacent") and reaching into each other ("overlap").
# usage: bench/algorithms.sh [BUILD_DIR] [REPEATS] [RING_WAYS] [POLY_VERTICES]
# Every figure is the median of REPEATS runs; CPU is user plus system time,
# memory the peak resident set. Inputs are made in a scratch directory.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
repeats=${2:-3}
ring_ways=${3:-8000}
poly_vertices=${4:-4000}
splitter=$build/splitter/splitter64
source "$here/measure.sh"

make_inputs() { /usr/bin/python3 "$here/make_algorithm_inputs.py" "$@"; }
for scale in 1 10; do
    make_inputs rings $(( ring_ways * scale )) "$work/in/rings$scale"
    make_inputs overlap $(( poly_vertices * scale )) "$work/in/overlap$scale"
    measure "rings$scale" "$splitter" --poly="$work/in/rings$scale/areas" --output-dir="$work/out/" \
        "$work/in/rings$scale/input.osm.pbf"
    measure "cat$scale" osmium cat -O -o "$work/out/all.osm.pbf" "$work/in/rings$scale/input.osm.pbf"
    for kind in adjacent overlap; do
        measure "$kind$scale" "$splitter" --poly="$work/in/overlap$scale/$kind" --max-nodes=0 \
            --output-dir="$work/out/" "$work/in/overlap$scale/input.osm.pbf"
    done
done

row() {  # row NAME N CASE: n and 10 n, wall and CPU seconds, ratios, peak memory
    printf '%-26s %7s %7.3f %7.3f %7.3f %7.3f %6s %6s %8s\n' "$1" "$2" "$(field "${3}1" 1)" "$(field "${3}10" 1)" \
        "$(field "${3}1" 2)" "$(field "${3}10" 2)" "$(ratio "${3}10" "${3}1" 1)" "$(ratio "${3}10" "${3}1" 2)" \
        "$(( $(field "${3}10" 3) / 1024 ))"
}
echo "median of $repeats runs; 10n/n should stay at most 20"
printf '%-26s %7s %7s %7s %7s %7s %6s %6s %8s\n' case n "wall n" "wall 10n" "cpu n" "cpu 10n" "wall x" "cpu x" "MiB 10n"
row "ring assembly" "$ring_ways" rings
row "  osmium cat, same input" "$ring_ways" cat
row "overlap: adjacent" "$poly_vertices" adjacent
row "overlap: reaching in" "$poly_vertices" overlap
echo "ring assembly against osmium cat: $(ratio rings1 cat1) at n, $(ratio rings10 cat10) at 10n (wall)"
