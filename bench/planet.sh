#!/usr/bin/env bash
# Projects a planet split from two sizes of shifted malta copies (8x and 32x
# by default): what a pass holds per node and per open file, what settling
# the areas and each pass cost against osmium cat of the same input, and from
# these the passes, the peak memory and the time, in osmium cat units, of a
# planet of 10 billion nodes in 6,000 tiles on 24 GiB and on 64 GiB.
# usage: bench/planet.sh [BUILD_DIR] [REPEATS] [SMALL LARGE]
# The inputs are made once into bench/data/ (not committed).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
repeats=${2:-3}
small=${3:-8}
large=${4:-32}
splitter=$build/splitter/splitter64
source "$here/measure.sh"
mkdir -p "$here/data"

declare -A nodes
for n in "$small" "$large"; do
    input=$here/data/malta-x$n.osm.pbf
    [[ -f $input ]] || /usr/bin/python3 "$here/make_copies.py" "$here/../../shared/data/malta.osm.pbf" "$n" "$input"
    nodes[$n]=$(osmium fileinfo -e -g data.count.nodes "$input")
    split=("$splitter" --pbf --output-dir="$work/out/")
    measure "cat$n" osmium cat -O -o "$work/out/all.osm.pbf" "$input"
    # Settling the areas alone, then one pass of 16 or 256 tiles, and 256 in two.
    measure "settle$n" "${split[@]}" --max-nodes=$(( nodes[$n] / 256 + 1 )) --area-range=none "$input"
    measure "p16_$n" "${split[@]}" --max-nodes=$(( nodes[$n] / 16 + 1 )) "$input"
    measure "p256_$n" "${split[@]}" --max-nodes=$(( nodes[$n] / 256 + 1 )) "$input"
    measure "p256x2_$n" "${split[@]}" --max-nodes=$(( nodes[$n] / 256 + 1 )) --max-areas=128 "$input"
done

kib() { field "$1" 3; }
awk -v ns="${nodes[$small]}" -v nl="${nodes[$large]}" \
    -v s16="$(kib p16_$small)" -v l16="$(kib p16_$large)" -v s256="$(kib p256_$small)" \
    -v ss="$(kib settle$small)" -v sl="$(kib settle$large)" \
    -v settle="$(ratio settle$large cat$large)" -v one="$(ratio p256_$large cat$large)" \
    -v two="$(ratio p256x2_$large cat$large)" -v large="$large" '
BEGIN {
    perNode = (l16 - s16) * 1024 / (nl - ns)          # a pass, per node of its areas
    perFile = (s256 - s16) * 1024 / (256 - 16)       # a pass, per open output file
    base = s16 * 1024 - perNode * ns - perFile * 16  # a pass, the rest
    settleNode = (sl - ss) * 1024 / (nl - ns)        # settling the areas, per input node
    settleBase = ss * 1024 - settleNode * ns
    pass = one - settle                              # the first pass
    further = two - one                              # each pass after it
    printf "from malta-x%d: a pass holds %.1f bytes a node and %.0f KiB an open file\n", large, perNode, perFile / 1024
    printf "settling the areas: %.2fx osmium cat, %.1f bytes an input node\n", settle, settleNode
    printf "first pass: %.2fx osmium cat; each further pass: %.2fx\n\n", pass, further
    N = 1e10; T = 6000
    printf "%-8s %8s %8s %12s %14s %10s\n", "memory", "areas", "passes", "pass GiB", "settle GiB", "time (cat)"
    split("24 64", rams, " ")
    for (i = 1; i <= 2; i++) {
        ram = rams[i] * 2^30
        k = int((ram - base) / (perNode * N / T + perFile))
        if (k > T) k = T
        if (k > 32768) k = 32768
        passes = k > 0 ? int((T + k - 1) / k) : 0
        peak = base + (perNode * N / T + perFile) * k
        printf "%-8s %8d %8d %12.1f %14.1f %10.1f\n", rams[i] " GiB", k, passes, peak / 2^30,
               (settleBase + settleNode * N) / 2^30, settle + pass + (passes - 1) * further
    }
}'
