#!/usr/bin/env bash
# Runs every fuzz target in DIR for SECONDS each over its kept corpus (fuzz/corpus/<target>).
set -euo pipefail
dir=$1
secs=${2:-15}
root="$(cd "$(dirname "$0")" && pwd)"
shopt -s nullglob
count=0
for t in "$dir"/fuzz_*; do
  [ -x "$t" ] || continue
  name=$(basename "$t")
  corpus="$root/corpus/${name#fuzz_}"
  work=$(mktemp -d)
  [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/ 2>/dev/null || true
  echo "fuzz: $name for ${secs}s"
  "$t" -max_total_time="$secs" -rss_limit_mb=2048 -timeout=10 -print_final_stats=0 "$work" 2>"$work.log" || {
    tail -50 "$work.log"; echo "fuzz target $name failed"; exit 1; }
  rm -rf "$work" "$work.log"
  count=$((count + 1))
done
echo "fuzz: $count targets ran clean"
