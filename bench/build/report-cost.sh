#!/usr/bin/env bash
# What the build report costs: the whole command-line build of a workbook into a destination
# that already holds a price file of the same list (so that the report compares them), timed
# with a program built before the report and one built with it, in turns, several runs each;
# and the second program once more into an empty destination ("none"), so that what the
# comparison itself costs stands beside it. Prints wall and CPU seconds (user + system) and
# peak memory of every run and the range of each.
#   bench/build/report-cost.sh BEFORE_BUILD AFTER_BUILD [FILE] [RUNS]
# Each BUILD is a Release build folder holding bin/quillmere-import and the data files;
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
awk '{ w[$1] = w[$1] " " $2; if (!($1 in lo) || $2 < lo[$1]) lo[$1] = $2; if ($2 > hi[$1]) hi[$1] = $2;
       if (!($1 in mlo) || $3 < mlo[$1]) mlo[$1] = $3; if ($3 > mhi[$1]) mhi[$1] = $3;
       if (!($1 in clo) || $4 < clo[$1]) clo[$1] = $4; if ($4 > chi[$1]) chi[$1] = $4 }
     END { for (l in lo) printf "%-7s wall %.2f-%.2f s   cpu %.2f-%.2f s   peak %.0f-%.0f MiB\n", l, lo[l], hi[l], clo[l], chi[l], mlo[l], mhi[l] }' \
  "$work/all.txt"
echo "after, last run:"
head -n 8 "$work/stdout.txt"
