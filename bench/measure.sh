# Sourced by the benchmark scripts. Needs $repeats. Makes the scratch
# directory $work, removed on exit; before every run $work/out is emptied.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
before_run() { rm -rf "$work/out" && mkdir -p "$work/out"; }

# measure NAME COMMAND...: runs the command $repeats times and records the
# medians "wall-seconds cpu-seconds peak-KiB" in $work/NAME (CPU time is user
# plus system; peak memory is the resident set from /usr/bin/time -v).
measure() {
    local name=$1
    shift
    : >"$work/$name.runs"
    for _ in $(seq "$repeats"); do
        before_run
        /usr/bin/time -v -o "$work/time" "$@" >/dev/null 2>&1
        awk -F': ' '/Elapsed \(wall clock\)/ {n = split($2, t, ":"); w = 0; for (i = 1; i <= n; i++) w = w * 60 + t[i]}
                    /User time/ {c += $2} /System time/ {c += $2} /Maximum resident set size/ {m = $2}
                    END {printf "%.3f %.3f %d\n", w, c, m}' "$work/time" >>"$work/$name.runs"
    done
    local middle=$(( (repeats + 1) / 2 ))
    paste <(cut -d' ' -f1 "$work/$name.runs" | sort -n | sed -n "${middle}p") \
          <(cut -d' ' -f2 "$work/$name.runs" | sort -n | sed -n "${middle}p") \
          <(cut -d' ' -f3 "$work/$name.runs" | sort -n | sed -n "${middle}p") -d' ' >"$work/$name"
}
# field NAME N: the Nth median of NAME (1 wall, 2 cpu, 3 KiB).
field() { cut -d' ' -f"$2" "$work/$1"; }
wall() { field "$1" 1; }
mem() { echo "$(( $(field "$1" 3) / 1024 )) MiB"; }
# ratio A B [N]: A's Nth median over B's, wall time by default.
ratio() { awk -v a="$(field "$1" "${3:-1}")" -v b="$(field "$2" "${3:-1}")" 'BEGIN {printf "%.2f", (b > 0 ? a / b : 0)}'; }
