#!/usr/bin/env bash
# Sets up, builds and runs the main job on the bundled sample data. Until the build job lands,
# it shows what the program folder holds and reads the sample price list through the source
# engine, as the import will.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DQM_BUILD_TESTS=OFF >/dev/null
cmake --build build
bin=build/bin
echo
echo "Program folder: $(pwd)/$bin"
"$bin/qm-datafiles" --list "$bin"
echo
echo "Tables of the sample workbook:"
"$bin/quillmere-import" sheets "$bin/sample/acme-pricelist.xlsx"
echo
echo "Its first sheet as the source engine reads it (first 8 lines):"
first=$("$bin/quillmere-import" sheets "$bin/sample/acme-pricelist.xlsx" | head -1)
"$bin/quillmere-import" dump "$bin/sample/acme-pricelist.xlsx" --sheet "$first" | head -8
echo
echo "The wizard: $bin/quillmere  (or $bin/quillmere --program-folder DIR)"
