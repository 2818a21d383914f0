#!/usr/bin/env bash
# Pictures of the start window, the four wizard pages and the vendor panel, taken under a
# virtual X server, into docs/screenshots/. Builds what it needs in build-shots/.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-shots -G Ninja -DQM_BUILD_TESTS=OFF >/dev/null
cmake --build build-shots --target qm-screenshots
mkdir -p docs/screenshots
xvfb-run -a -s "-screen 0 1024x768x24" build-shots/bin/qm-screenshots docs/screenshots
ls -l docs/screenshots
