#!/usr/bin/env bash
# Sets up, builds and runs the main job on the bundled sample data.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DQM_BUILD_TESTS=OFF >/dev/null
cmake --build build
echo
echo "Program folder: $(pwd)/build/bin"
if [ -x build/bin/qm-datafiles ]; then
  build/bin/qm-datafiles --list build/bin
fi
