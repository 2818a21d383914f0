#!/usr/bin/env bash
# Times, side by side in one run, the whole command-line build of a workbook (or a .csv file)
# into a price file (quillmere-import build: open, walk every row, clean the prices, write
# ACMELIST.dbf) against unpacking the workbook's sheet and shared strings with unzip (the floor
# any reader stands on), against inflating the same two parts in one process with zlib and
# with ISA-L (the floor under this program's own reading), and with --sheetjs against SheetJS
# only reading the same file; a .csv file is timed against the hand-written Python script of
# the shared benchmark folder instead. Beside them, writing as many bytes as the price file
# holds and syncing them (dd): the floor the disk sets, since a build syncs its file before it
# is put in place and none of the peers writes anything durable. Prints wall seconds and peak
# memory of each (GNU time) and the ratios; with RUNS the commands take turns that many times
# and the medians are printed too (QM_BENCH_RUNS, default 1).
#   bench/build/run.sh [--sheetjs] [FILE] [BUILD_DIR]
# FILE defaults to /tmp/plbench/pl-1m.xlsx (the shared generator's 1,000,000 rows), BUILD_DIR
# to build-rel (configured as a Release build and built if the program is missing).
set -euo pipefail
sheetjs=0
if [ "${1:-}" = "--sheetjs" ]; then sheetjs=1; shift; fi
file=${1:-/tmp/plbench/pl-1m.xlsx}
build=${2:-build-rel}
root=$(cd "$(dirname "$0")/../.." && pwd)
prog=$build/bin/quillmere-import
bench=$build/bin/xlsx_bench
if [ ! -x "$prog" ] || [ ! -x "$bench" ] || [ ! -f "$build/bin/flistwin.dbf" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQM_BUILD_TESTS=OFF \
    -DQM_BUILD_UI=OFF >/dev/null
  cmake --build "$build" --target quillmere-import xlsx_bench qm_datafiles >/dev/null
fi
[ -f "$file" ] || { echo "no such file: $file (see /work/shared/bench/README.md)"; exit 1; }
[ -x /usr/bin/time ] || { echo "GNU time (/usr/bin/time) is needed for the peak memory"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/qm-bench-build.XXXXXX")
trap 'rm -rf "$work"' EXIT
. "$root/bench/build/program-folder.sh"
bench_program_folder "$build" "$work"

# label, command...: one line of wall seconds, CPU seconds and peak resident memory.
measure() {
  local label=$1; shift
  local t="$work/time.txt"
  /usr/bin/time -v -o "$t" "$@" >"$work/stdout.txt" 2>"$work/stderr.txt" ||
    { echo "$label failed:"; cat "$work/stderr.txt"; exit 1; }
  awk -v l="$label" -F': ' '
    /Elapsed \(wall clock\)/ { n = split($2, p, ":"); w = 0; for (i = 1; i <= n; i++) w = w * 60 + p[i] }
    /User time/ { u = $2 } /System time/ { s = $2 }
    /Maximum resident set size/ { m = $2 / 1024 }
    END { printf "%-30s wall %8.2f s   cpu %8.2f s   peak %8.1f MiB\n", l, w, u + s, m;
          print w > "/dev/stderr" }' "$t" 2>>"$work/$label.wall"
}
# The median of a command's wall seconds over the runs.
wall() { sort -g "$work/$1.wall" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
runs=${QM_BENCH_RUNS:-1}

echo "file: $file ($(stat -c %s "$file") bytes), load: $(cut -d' ' -f1-3 /proc/loadavg)"
csv=0
case "$file" in *.csv | *.CSV) csv=1 ;; esac
isal=0
"$bench" "$file" --inflate isal >/dev/null 2>&1 && [ "$csv" = 0 ] && isal=1
for run in $(seq "$runs"); do
  [ "$runs" = 1 ] || echo "run $run of $runs"
  if [ "$csv" = 1 ]; then
    # The hand-written peer: Python's csv module, prices cleaned, dBase records packed.
    measure python python3 /work/shared/bench/csv-baseline.py "$file" "$work/python.dbf"
  else
    measure unzip unzip -p "$file" xl/worksheets/sheet1.xml xl/sharedStrings.xml
    measure "inflate-zlib" "$bench" "$file" --inflate zlib
    # A build without ISA-L has only zlib; the line is left out then.
    [ "$isal" = 1 ] && measure "inflate-isal" "$bench" "$file" --inflate isal
  fi
  # Each run builds anew, as the first: with a previous file the build compares against it.
  rm -rf "$work/out" && mkdir -p "$work/out"
  measure build "$prog" --program-folder "$work/program" build --config "Generated price list" \
    --source "$file" --dest "$work/out" --header --no-vendor-info
  echo "    $(cat "$work/stdout.txt"); price file $(stat -c %s "$work/out/ACMELIST.dbf") bytes"
  # In writes of the size the build makes: the kernel copies 256 KiB writes fastest.
  blocks=$((($(stat -c %s "$work/out/ACMELIST.dbf") + 262143) / 262144))
  measure durable-write dd if=/dev/zero of="$work/floor.bin" bs=256K count="$blocks" conv=fdatasync
  rm -f "$work/floor.bin"
  if [ "$sheetjs" = 1 ]; then
    modules=${QM_NODE_MODULES:-/tmp/plbench/node_modules}
    NODE_PATH=$modules measure sheetjs node --max-old-space-size=8192 \
      /work/shared/bench/sheetjs-bench.js read "$file"
  fi
done
if [ "$runs" != 1 ]; then
  echo "medians of $runs runs:"
  for l in python unzip inflate-zlib inflate-isal build durable-write sheetjs; do
    [ -f "$work/$l.wall" ] && printf "  %-28s wall %8.2f s\n" "$l" "$(wall $l)"
  done
fi
awk -v b="$(wall build)" -v d="$(wall durable-write)" \
  'BEGIN { printf "build / durable write of as many bytes: %.2fx\n", b / d }'
if [ "$csv" = 1 ]; then
  awk -v b="$(wall build)" -v p="$(wall python)" 'BEGIN { printf "Python script / build: %.1fx\n", p / b }'
else
  awk -v b="$(wall build)" -v u="$(wall unzip)" 'BEGIN { printf "build / unzip: %.2fx\n", b / u }'
  awk -v b="$(wall build)" -v z="$(wall inflate-zlib)" \
    'BEGIN { printf "build / inflate with zlib: %.2fx\n", b / z }'
fi
if [ "$isal" = 1 ]; then
  awk -v b="$(wall build)" -v i="$(wall inflate-isal)" -v z="$(wall inflate-zlib)" \
    'BEGIN { printf "build / inflate with ISA-L: %.2fx (ISA-L %.2fx faster than zlib)\n", b / i, z / i }'
fi
if [ "$sheetjs" = 1 ]; then
  awk -v b="$(wall build)" -v s="$(wall sheetjs)" 'BEGIN { printf "SheetJS read / build: %.1fx\n", s / b }'
fi
