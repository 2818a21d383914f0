#!/usr/bin/env bash
# Sets up, builds and runs every test: unit and window tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, the checks by independent readers, and the fuzz targets for a
# bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)

# Every source file as clang-format writes it (the repository's .clang-format).
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror

# Independent readers used by the tests: SheetJS at a pinned version.
if [ ! -d build-tools/node_modules/xlsx ]; then
  mkdir -p build-tools
  (cd build-tools && npm install --silent --no-audit --no-fund xlsx@0.18.5 >/dev/null)
fi
export QM_NODE_MODULES="$(pwd)/build-tools/node_modules"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=ON -DQM_WERROR=ON >/dev/null
cmake --build build-asan -j"$jobs"

# Fuzz targets: built with clang, each run for a bounded time over its kept corpus.
cmake -S . -B build-fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DQM_FUZZ=ON -DQM_BUILD_TESTS=OFF -DQM_BUILD_UI=OFF >/dev/null
cmake --build build-fuzz -j"$jobs"
bash scripts/fuzz-run.sh build-fuzz/fuzz "${QM_FUZZ_SECONDS:-15}"

# The tests run last, so that their summary closes the output.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
(cd build-asan && ctest --output-on-failure -j"$jobs" --timeout 300)
