#!/usr/bin/env bash
# What the build report costs: the whole command-line build of a workbook into a destination
# that already holds a price file of the same list (so that the report compares them), timed
# with a program built before the report and one built with it, in turns, several runs each;
# and the second program once more into an empty destination ("none"), so that what the
# comparison itself costs stands beside it. Prints wall and CPU seconds (user + system) and
# peak memory of every run, the range and median of each, and the ratio of the medians.
#   bench/build/report-cost.sh BEFORE_BUILD AFTER_BUILD [FILE] [RUNS]
# Each BUILD is a Release build folder holding bin/quillmere-import and the data files. The
# fair BEFORE is the same source configured with -DQM_BENCH_WITHOUT_COMPARISON=ON: the same
# program, the previous file in place, nothing compared;
# FILE defaults to /tmp/plbench/pl-1m.xlsx (the shared generator's 1,000,000 rows); RUNS to 3.
set -euo pipefail
before=$1
after=$2
file=${3:-/tmp/plbench/pl-1m.xlsx}
runs=${4:-3}
[ -f "$file" ] || { echo "no such file: $file (see /work/shared/bench/README.md)"; exit 1; }
[ -x /usr/bin/time ] || { echo "GNU time (/usr/bin/time) is needed for the peak memory"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/qm-bench-report.XXXXXX")
trap 'rm -rf "$work"' EXIT

# label build: a program folder with the generated list's configuration (as bench/build/run.sh).
. "$(dirname "$0")/program-folder.sh"
setup() { bench_program_folder "$2" "$work/$1"; }

build_once() {
  local label=$1 build=$2
  "$build/bin/quillmere-import" --program-folder "$work/$label/program" build \
    --config "Generated price list" --source "$file" --dest "$work/$label/out" --no-vendor-info
}

setup before "$before"
setup after "$after"
# The previous month's price file, put back before every run: the build replaces it.
build_once before "$before" >/dev/null
mkdir -p "$work/previous"
cp "$work/before/out/"ACMELIST.* "$work/previous/"

for ((i = 1; i <= runs; i++)); do
  for label in before after none; do
    build=$before
    [ "$label" != before ] && build=$after
    dir=$label
    [ "$label" = none ] && dir=after
    rm -f "$work/$dir/out/"ACMELIST.*
    [ "$label" != none ] && cp "$work/previous/"ACMELIST.* "$work/$dir/out/"
    # Every run finds the page cache alike: no other run's dirty pages still being written.
    sync
    /usr/bin/time -v -o "$work/time.txt" "$build/bin/quillmere-import" \
      --program-folder "$work/$dir/program" build --config "Generated price list" \
      --source "$file" --dest "$work/$dir/out" --no-vendor-info >"$work/stdout.txt" 2>&1 ||
      { echo "$label failed:"; cat "$work/stdout.txt"; exit 1; }
    awk -v l="$label" -v r="$i" -F': ' '
      /Elapsed \(wall clock\)/ { n = split($2, p, ":"); w = 0; for (k = 1; k <= n; k++) w = w * 60 + p[k] }
      /User time/ { u = $2 } /System time/ { s = $2 }
      /Maximum resident set size/ { m = $2 / 1024 }
      END { printf "run %d %-7s wall %7.2f s   cpu %7.2f s   peak %7.1f MiB\n", r, l, w, u + s, m;
            printf "%s %f %f %f\n", l, w, m, u + s > "/dev/stderr" }' "$work/time.txt" 2>>"$work/all.txt"
  done
done
# Ranges and medians (a busy moment of the machine lands in one run; the median passes it by).
median() { sort -n | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
for label in before after none; do
  w=$(awk -v l="$label" '$1 == l { print $2 }' "$work/all.txt")
  c=$(awk -v l="$label" '$1 == l { print $4 }' "$work/all.txt")
  m=$(awk -v l="$label" '$1 == l { print $3 }' "$work/all.txt")
  printf "%-7s wall %.2f-%.2f s (median %.2f)   cpu %.2f-%.2f s (median %.2f)   peak %.0f-%.0f MiB\n" \
    "$label" "$(sort -n <<<"$w" | head -1)" "$(sort -n <<<"$w" | tail -1)" "$(median <<<"$w")" \
    "$(sort -n <<<"$c" | head -1)" "$(sort -n <<<"$c" | tail -1)" "$(median <<<"$c")" \
    "$(sort -n <<<"$m" | head -1)" "$(sort -n <<<"$m" | tail -1)"
done
wall_median() { awk -v l="$1" '$1 == l { print $2 }' "$work/all.txt" | median; }
awk -v a="$(wall_median after)" -v b="$(wall_median before)" \
  'BEGIN { printf "after / before, median wall: %.3f\n", a / b }'
echo "after, last run:"
head -n 8 "$work/stdout.txt"
