# Sourced by the build benchmarks. bench_program_folder BUILD DIR: makes DIR a program folder
# for BUILD's quillmere-import (its data files and an out/ folder beside it) holding the
# configuration "Generated price list" for the shared generator's columns: PartNumber,
# Description, ListPrice, Cost, QtyBreak, UOM, Category; row 1 names them.
bench_program_folder() {
  local build=$1 dir=$2
  mkdir -p "$dir/program" "$dir/out"
  cp "$build"/bin/exprtwin.dbf "$build"/bin/exprtwin.dbt "$build"/bin/flistwin.dbf "$dir/program/"
  [ -f "$build/bin/flistwin.dbt" ] && cp "$build/bin/flistwin.dbt" "$dir/program/"
  cat >"$dir/bench.config" <<'CONFIG'
[Configuration]
STORENAME=Generated price list
EXPORTDBF=ACME
STARTEXPRT=1
UPDATEDATE=2026-11-01
PRICESHEET=bench
APPENDDATA=False
[Mapping]
PARTNUMBER=0
DESCRIPTN=1
LISTPRICE=2
COST_OF_1=3
CONFIG
  "$build/bin/quillmere-import" --program-folder "$dir/program" config import "$dir/bench.config"
}
