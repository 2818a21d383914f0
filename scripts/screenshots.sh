#!/usr/bin/env bash
# Pictures of the start window, the four wizard pages and the vendor panel, taken under a
# virtual X server of the 1366 x 768 screen the window is sized for, into docs/screenshots/.
# Builds what it needs in build-shots/, or in the build folder QM_SHOTS_BUILD names.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${QM_SHOTS_BUILD:-build-shots}"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DQM_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target qm-screenshots
mkdir -p docs/screenshots
xvfb-run -a -s "-screen 0 1366x768x24" "$build/bin/qm-screenshots" docs/screenshots
ls -l docs/screenshots
