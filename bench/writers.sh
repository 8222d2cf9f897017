#!/usr/bin/env bash
# Times the XML and PBF writers against osmium cat to the same format, in
# one run, on the same input.
# usage: bench/writers.sh [WRITE_BENCH] [INPUT.pbf] [REPEATS]
# Every figure is the median of REPEATS runs (wall seconds, CPU seconds as
# user + system, peak resident set from /usr/bin/time -v). osmium encodes on
# several threads, so its CPU time can exceed its wall time.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bench=${1:-$here/../build/bench/write_bench}
input=${2:-$here/../../shared/data/malta.osm.pbf}
repeats=${3:-5}

source "$here/measure.sh"
line() { printf '  %-22s %6.3f s wall  %6.3f s cpu  %5d MiB\n' "$1" "$(field "$2" 1)" "$(field "$2" 2)" $(( $(field "$2" 3) / 1024 )); }

measure read "$bench" read "$input"
measure xml "$bench" xml "$input" "$work/out.osm"
measure osmium_xml osmium cat -O -o "$work/osmium.osm" "$input"
measure pbf "$bench" pbf "$input" "$work/out.osm.pbf"
measure osmium_pbf osmium cat -O -o "$work/osmium.osm.pbf" "$input"
osmium fileinfo -e "$work/out.osm" >/dev/null
osmium fileinfo -e "$work/out.osm.pbf" >/dev/null

cat <<REPORT
input: $(basename "$input"), median of $repeats runs
$(line "decode only" read)
$(line "XML writer" xml)
$(line "osmium cat to XML" osmium_xml)
$(line "PBF writer" pbf)
$(line "osmium cat to PBF" osmium_pbf)
ratio to osmium, wall (cpu): XML $(ratio xml osmium_xml 1) ($(ratio xml osmium_xml 2)), PBF $(ratio pbf osmium_pbf 1) ($(ratio pbf osmium_pbf 2))
output size: XML $(stat -c %s "$work/out.osm") vs $(stat -c %s "$work/osmium.osm") bytes, PBF $(stat -c %s "$work/out.osm.pbf") vs $(stat -c %s "$work/osmium.osm.pbf") bytes
REPORT
