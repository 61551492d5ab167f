#!/usr/bin/env bash
# The benchmark's six 6-megapixel PNGs (three RGB, three RGBA) through
# corvanta-convert with "Heat camera" and one job, at the box 1000x1000 and
# at full size: one build against another (say, before and after a change
# to the PNG writer), run in turns so that both see the same machine.
#   bench/png_batch.sh BEFORE_BUILD_DIR AFTER_BUILD_DIR [RUNS]
# The fixtures are written by AFTER_BUILD_DIR's conversion benchmark.
set -euo pipefail
before=$1
after=$2
runs=${3:-5}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/in" "$work/out"
"$after/bench/corvanta_conversion_bench" --write-png-fixtures "$work/in"

# One run: wall time in milliseconds, then the bytes written.
run_once() {
  local build=$1 size=$2 start end
  rm -f "$work"/out/*
  start=$(date +%s%N)
  "$build/src/cli/corvanta-convert" --output "$work/out" --preset "Heat camera" --jobs 1 \
    --max-size "$size" "$work/in" > /dev/null
  end=$(date +%s%N)
  echo "$(( (end - start) / 1000000 )) $(cat "$work"/out/* | wc -c)"
}

median() {
  sort -n | sed -n "$(( (runs + 1) / 2 ))p"
}

echo "load before: $(uptime)"
for size in 1000x1000 0x0; do
  : > "$work/before.txt"
  : > "$work/after.txt"
  for _ in $(seq "$runs"); do
    run_once "$before" "$size" >> "$work/before.txt"
    run_once "$after" "$size" >> "$work/after.txt"
  done
  b=$(cut -d' ' -f1 "$work/before.txt" | median)
  a=$(cut -d' ' -f1 "$work/after.txt" | median)
  bb=$(head -1 "$work/before.txt" | cut -d' ' -f2)
  ab=$(head -1 "$work/after.txt" | cut -d' ' -f2)
  awk -v s="$size" -v b="$b" -v a="$a" -v bb="$bb" -v ab="$ab" 'BEGIN {
    printf "max-size %-9s  before %6d ms %11d bytes   after %6d ms %11d bytes   %.2fx faster, %+.1f%% bytes\n",
      s, b, bb, a, ab, b / a, 100 * (ab - bb) / bb }'
done
echo "load after: $(uptime)"
