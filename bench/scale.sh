#!/usr/bin/env bash
# Splits inputs of 8 and 32 shifted copies of malta into 16 and 256 tiles,
# against osmium cat of the same input (one decode and one encode), in one
# run, and reports the ratios and peak memory; then the memory of many areas
# of monaco in one pass.
# usage: bench/scale.sh [BUILD_DIR] [REPEATS] [COPIES...]
# The inputs are made once into bench/data/ (not committed).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
repeats=${2:-3}
shift $(( $# < 2 ? $# : 2 ))
copies=("${@:-8 32}")
splitter=$build/splitter/splitter64
data=$here/../../shared/data
source "$here/measure.sh"
mkdir -p "$here/data"

printf '%-28s %6s %9s %9s %7s %10s\n' input tiles "split s" "cat s" ratio "peak MiB"
for n in ${copies[*]}; do
    input=$here/data/malta-x$n.osm.pbf
    [[ -f $input ]] || /usr/bin/python3 "$here/make_copies.py" "$data/malta.osm.pbf" "$n" "$input"
    nodes=$(osmium fileinfo -e -g data.count.nodes "$input")
    measure cat osmium cat -O -o "$work/out/all.osm.pbf" "$input"
    for tiles in 16 256; do
        measure split "$splitter" --pbf --max-nodes=$(( nodes / tiles + 1 )) --output-dir="$work/out/" "$input"
        printf '%-28s %6s %9s %9s %7s %10s\n' "$(basename "$input")" "$(ls "$work/out" | grep -c 'osm.pbf$')" \
            "$(wall split)" "$(wall cat)" "$(ratio split cat)" "$(( $(field split 3) / 1024 ))"
    done
done

# Memory with many areas: every area of monaco at --max-nodes=20 (4096 in
# passes of 256), then 32768 areas in one pass.
ulimit -n "$(ulimit -Hn)"
measure many "$splitter" --pbf --max-nodes=20 --output-dir="$work/out/" "$data/monaco.osm.pbf"
echo "monaco --max-nodes=20: $(( $(ls "$work/out" | wc -l) - 2 )) tiles, $(wall many) s, $(mem many)"
measure onepass "$splitter" --pbf --max-nodes=1 --max-areas=32768 --output-dir="$work/out/" "$data/monaco.osm.pbf"
echo "monaco --max-nodes=1 --max-areas=32768: $(( $(ls "$work/out" | wc -l) - 2 )) tiles, $(wall onepass) s, $(mem onepass)"
