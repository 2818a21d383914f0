#!/usr/bin/env bash
# Runs every fuzz target in DIR for SECONDS each, over a copy of its kept corpus (the folder
# named in fuzz_<name>.corpus beside the target). An input that makes a reader ask for more
# than 256 MiB at once is a fault like a crash: hostile files must stay within that. The limit
# of the whole process is higher, as the sanitizer's shadow and quarantine count in it.
set -euo pipefail
dir=$1
secs=${2:-15}
# Targets left out of the run, named in QM_FUZZ_SKIP (none by default).
skip=" ${QM_FUZZ_SKIP-} "
shopt -s nullglob
count=0
for t in "$dir"/fuzz_*; do
  [ -x "$t" ] && [ -f "$t" ] || continue
  name=$(basename "$t")
  case "$skip" in *" $name "*) echo "fuzz: $name skipped"; continue ;; esac
  work=$(mktemp -d)
  corpus=$(cat "$t.corpus" 2>/dev/null || true)
  [ -n "$corpus" ] && [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/ 2>/dev/null || true
  echo "fuzz: $name for ${secs}s"
  if ! "$t" -max_total_time="$secs" -rss_limit_mb=768 -malloc_limit_mb=256 -timeout=10 "$work" >"$work.log" 2>&1; then
    tail -60 "$work.log"
    echo "fuzz target $name failed; the input is in the log above"
    exit 1
  fi
  rm -rf "$work" "$work.log"
  count=$((count + 1))
done
echo "fuzz: $count targets ran clean"
