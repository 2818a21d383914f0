#!/usr/bin/env bash
# Usage: bench/source/run.sh BUILD_DIR FILE...   (a Release build of the project)
# Prints, per file, our open-and-walk figures beside `cat FILE > /dev/null` as the raw floor.
set -euo pipefail
build=$1
shift
for f in "$@"; do
  "$build/bench/bench_source" "$f"
  s=$(date +%s.%N)
  cat "$f" >/dev/null
  e=$(date +%s.%N)
  printf '%-40s cat %.3f s\n' "$(basename "$f")" "$(echo "$e - $s" | bc)"
done
