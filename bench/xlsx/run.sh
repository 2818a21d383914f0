#!/usr/bin/env bash
# Times, side by side in one run, unpacking a workbook's sheet and shared strings with unzip
# (the floor any reader stands on), reading all its rows through our reader, opening it and
# reading its first 100 rows, and with --sheetjs the SheetJS read as a peer.
#   bench/xlsx/run.sh [--sheetjs] [FILE] [BUILD_DIR]
# FILE defaults to /tmp/plbench/pl-1m.xlsx, BUILD_DIR to build-release (built if missing).
set -euo pipefail
sheetjs=0
if [ "${1:-}" = "--sheetjs" ]; then sheetjs=1; shift; fi
file=${1:-/tmp/plbench/pl-1m.xlsx}
build=${2:-build-release}
root=$(cd "$(dirname "$0")/../.." && pwd)
bench=$build/bin/xlsx_bench
if [ ! -x "$bench" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQM_BUILD_TESTS=OFF \
    -DQM_BUILD_UI=OFF >/dev/null
  cmake --build "$build" --target xlsx_bench >/dev/null
fi
[ -f "$file" ] || { echo "no such file: $file (see /work/shared/bench/README.md)"; exit 1; }

# Wall and CPU seconds and peak memory of a command, from GNU time when it is there.
measure() {
  local label=$1; shift
  local start end
  start=$(date +%s.%N)
  local cpu out
  out=$(mktemp)
  cpu=$( { TIMEFORMAT='%U %S'; time "$@" >"$out"; } 2>&1 | tail -1)
  end=$(date +%s.%N)
  awk -v l="$label" -v s="$start" -v e="$end" -v c="$cpu" \
    'BEGIN { split(c, t, " "); printf "%-28s wall %7.3f s   cpu %7.3f s\n", l, e - s, t[1] + t[2] }'
  # The reader's own line (rows, seconds, peak memory); unzip's output is the data itself.
  [ "$label" != "${label#our}" ] && sed 's/^/    /' "$out"
  rm -f "$out"
}

echo "file: $file ($(stat -c %s "$file") bytes), load: $(cut -d' ' -f1-3 /proc/loadavg)"
measure "unzip -p sheet + strings" unzip -p "$file" xl/worksheets/sheet1.xml xl/sharedStrings.xml
measure "our reader, all rows" "$bench" "$file"
measure "our reader, first 100 rows" "$bench" "$file" --rows 100
if [ "$sheetjs" = 1 ]; then
  measure "SheetJS read" node /tmp/plbench/sheetjs-bench.js read "$file"
fi
