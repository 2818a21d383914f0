#!/usr/bin/env bash
# Sets up, builds and runs the main job on the bundled sample data: the sample price list
# (a workbook saved by LibreOffice) is imported with the bundled configuration into a fresh
# output folder and registered in a copy of the sample Tessaro folder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DQM_BUILD_TESTS=OFF >/dev/null
cmake --build build
bin=$(pwd)/build/bin

# A program folder, output folder and Tessaro folder of its own, so that build/bin stays as
# the build left it.
run=$(mktemp -d "${TMPDIR:-/tmp}/quillmere-demo.XXXXXX")
prog=$run/program
out=$run/prices/
tessaro=$run/Tessaro
mkdir -p "$prog" "$out"
cp "$bin"/exprtwin.dbf "$bin"/exprtwin.dbt "$bin"/flistwin.dbf "$bin"/filelwin.dbf "$prog"/
[ -f "$bin/flistwin.dbt" ] && cp "$bin/flistwin.dbt" "$prog"/
cp -r "$bin/sample/Tessaro" "$tessaro"
# The wizard opens on the same folders.
printf '[DestFolder]\r\nFile=%s\r\nManulist=%s\r\n[Vendor]\r\nInfo=1\r\n[SourceFolder]\r\nFile=%s\r\n[Source]\r\nFile=acme-pricelist.xlsx\r\n' \
  "$out" "$tessaro/Data/" "$bin/sample/" >"$prog/Convert.ini"

import() { "$bin/quillmere-import" --program-folder "$prog" "$@"; }
echo
echo "Configuration bundled as $bin/sample/acme-monthly.config:"
import config import "$bin/sample/acme-monthly.config"
import configs
echo
echo "Building the price file from $bin/sample/acme-pricelist.xlsx:"
import build --config "Acme Electrical monthly" --source "$bin/sample/acme-pricelist.xlsx" \
  --dest "$out" --vendor-info --manulist "$tessaro/Data"
echo
echo "Price file: ${out}ACMELIST.dbf (first 6 records):"
"$bin/quillmere-import" dump "${out}ACMELIST.dbf" | head -7 | cut -c1-100
echo
echo "Registered in:"
"$bin/qm-datafiles" --list "$out"
"$bin/qm-datafiles" --list "$tessaro/Data"
echo
echo "Open the wizard on this program folder:"
echo "  $bin/quillmere --program-folder $prog"
