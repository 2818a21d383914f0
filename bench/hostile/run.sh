#!/usr/bin/env bash
# Runs the command-line build (and dump) over each hostile source that gen-hostile.py makes,
# and prints for each its outcome, wall and CPU seconds and peak memory (GNU time), with the first
# line of its message: each must end in a clear message or a complete build within 10 s and
# 256 MiB.
#   bench/hostile/run.sh [BUILD_DIR] [DIR]
# BUILD_DIR defaults to build-rel (configured as a Release build and built if missing), DIR to
# /tmp/qm-hostile (made by gen-hostile.py when missing; about 800 MB, four minutes).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-build-rel}
dir=${2:-/tmp/qm-hostile}
prog=$build/bin/quillmere-import
if [ ! -x "$prog" ] || [ ! -f "$build/bin/flistwin.dbf" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQM_BUILD_TESTS=OFF \
    -DQM_BUILD_UI=OFF >/dev/null
  cmake --build "$build" --target quillmere-import qm_datafiles >/dev/null
fi
[ -f "$dir/columns-256.xls" ] || python3 "$root/bench/hostile/gen-hostile.py" "$dir"

work=$(mktemp -d "${TMPDIR:-/tmp}/qm-bench-hostile.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/program" "$work/out"
cp "$build"/bin/exprtwin.dbf "$build"/bin/exprtwin.dbt "$build"/bin/flistwin.dbf "$work/program/"
[ -f "$build/bin/flistwin.dbt" ] && cp "$build/bin/flistwin.dbt" "$work/program/"
# Two configurations: the first four columns, and the same with the fifth (a dBase memo) as
# the description.
for c in "Hostile:1" "Hostile memo:4"; do
  name=${c%%:*}
  desc=${c##*:}
  cat >"$work/c.config" <<CONF
[Configuration]
STORENAME=$name
EXPORTDBF=HOST
STARTEXPRT=1
UPDATEDATE=2026-11-01
PRICESHEET=hostile
APPENDDATA=False
[Mapping]
PARTNUMBER=0
DESCRIPTN=$desc
LISTPRICE=2
COST_OF_1=3
CONF
  "$prog" --program-folder "$work/program" config import "$work/c.config" >/dev/null
done

# label, command...: outcome, wall seconds, peak resident memory, first line of the output.
measure() {
  local label=$1; shift
  local t="$work/time.txt" rc=0
  /usr/bin/time -v -o "$t" "$@" >"$work/stdout.txt" 2>"$work/stderr.txt" || rc=$?
  local msg
  msg=$( (grep -v '^$' "$work/stderr.txt"; grep -i 'records\|import' "$work/stdout.txt") |
    head -1 | cut -c1-110 || true)
  awk -v l="$label" -v rc="$rc" -v msg="$msg" -F': ' '
    /Elapsed \(wall clock\)/ { n = split($2, p, ":"); w = 0; for (i = 1; i <= n; i++) w = w * 60 + p[i] }
    /User time/ { u = $2 } /System time/ { s = $2 }
    /Maximum resident set size/ { m = $2 / 1024 }
    END { printf "| %-34s | %s | %6.2f s | %6.2f s | %6.1f MiB | %s |\n", l, rc == 0 ? "ok  " : "exit " rc, w, u + s, m, msg }' "$t"
}

echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "| Source | Result | Wall | CPU | Peak | Message |"
echo "|---|---|---|---|---|---|"
for f in wide-rows.xlsx padded-rows.xlsx padded-value.xlsx dimension-lie.xlsx \
  numbers-65536x255.xls columns-256.xls long-line.csv million-columns.csv cr-only.csv nul.csv \
  utf16.csv count-lie.dbf length-lie.dbf header-lie.dbf memo-past-end.dbf; do
  src="$dir/$f"
  rm -f "$work"/out/*
  measure "build $f" "$prog" --program-folder "$work/program" build --config Hostile \
    --source "$src" --dest "$work/out" --header --no-vendor-info
  case $f in
    memo-past-end.dbf)
      measure "build $f, memo mapped" "$prog" --program-folder "$work/program" build \
        --config "Hostile memo" --source "$src" --dest "$work/out" --header --no-vendor-info ;;
    *.xls | *.xlsx) measure "dump $f" "$prog" dump "$src" ;;
  esac
done
