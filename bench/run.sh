#!/usr/bin/env bash
# Times splitter64 against osmium on the same input, in one run, as ratios.
# usage: bench/run.sh [BUILD_DIR] [INPUT.pbf] [REPEATS]
# Every figure is the median of REPEATS runs; memory is the peak resident
# set reported by /usr/bin/time -v.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
input=${2:-$here/../../shared/data/malta.osm.pbf}
repeats=${3:-5}
splitter=$build/splitter/splitter64

source "$here/measure.sh"

nodes=$(osmium fileinfo -e -g data.count.nodes "$input")
max_nodes=$(( nodes / 16 + 1 ))  # about 16 areas

# The automatic split alone: the verbose log stamps the end of phase one.
measure fileinfo osmium fileinfo -e "$input"
split_phase() {
    "$splitter" --verbose --max-nodes="$max_nodes" --output-dir="$work/out/" "$input" |
        awk '/Read nodes/ {start=$1} /Write areas list/ {end=$1}
             function s(t, p) {split(t, p, /[:.]/); return p[1]*3600 + p[2]*60 + p[3] + p[4]/1000}
             END {printf "%.3f\n", s(end) - s(start)}'
}
phase=$(split_phase)

measure split "$splitter" --pbf --max-nodes="$max_nodes" --output-dir="$work/out/" "$input"
areas=$(ls "$work/out"/*.osm.pbf | wc -l)

# The floor: one decode and one encode of the whole file.
measure cat osmium cat -O -o "$work/out/all.osm.pbf" "$input"

# The peer: extracting four of the same rectangles.
"$splitter" --pbf --max-nodes="$max_nodes" --output-dir="$work/areas/" "$input" >/dev/null
/usr/bin/python3 - "$work/areas/areas.list" "$work/out" >"$work/extract.json" <<'PY'
import json, sys
boxes = []
for line in open(sys.argv[1]):
    if line.startswith("#       :"):
        s, w, n, e = [float(v) for v in line.split(":", 1)[1].replace(" to ", ",").split(",")]
        boxes.append({"output": f"{len(boxes)}.osm.pbf", "bbox": [w, s, e, n]})
print(json.dumps({"directory": sys.argv[2], "extracts": boxes[:4]}))
PY
measure extract osmium extract -s simple -O -c "$work/extract.json" "$input"

# The writers alone: one area, through each format, against osmium cat.
measure xml "$splitter" --max-nodes=4000000000 --output-dir="$work/out/" "$input"
measure catxml osmium cat -O -o "$work/out/all.osm" "$input"
measure pbf "$splitter" --pbf --max-nodes=4000000000 --output-dir="$work/out/" "$input"

cat <<REPORT
input: $(basename "$input"), $nodes nodes, median of $repeats runs
automatic split (phase one):   ${phase} s   vs osmium fileinfo -e $(wall fileinfo) s
split into $areas areas (--pbf): $(wall split) s, $(mem split)
  floor, osmium cat to PBF:      $(wall cat) s, $(mem cat)        ratio $(ratio split cat)
  osmium extract, 4 rectangles:  $(wall extract) s, $(mem extract)  ratio $(ratio split extract)
one area in XML:                 $(wall xml) s, $(mem xml)   vs osmium cat to XML $(wall catxml) s: ratio $(ratio xml catxml)
one area in PBF:                 $(wall pbf) s, $(mem pbf)   vs osmium cat to PBF: ratio $(ratio pbf cat)
REPORT
