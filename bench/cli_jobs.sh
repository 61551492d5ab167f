#!/usr/bin/env bash
# corvanta-convert with --jobs 2 against --jobs 1 on the benchmark's twelve
# 12-megapixel JPEGs, at the box 1000x1000 and at full size.
#   bench/cli_jobs.sh [BUILD_DIR]   (default: build)
set -euo pipefail
build=${1:-build}
convert="$build/src/cli/corvanta-convert"
bench="$build/bench/corvanta_conversion_bench"
runs=5

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/in" "$work/out"
"$bench" --write-fixtures "$work/in"

# Median wall time in milliseconds of $runs runs.
median_ms() {
  local times=()
  for _ in $(seq "$runs"); do
    rm -f "$work"/out/*
    local start end
    start=$(date +%s%N)
    "$convert" --output "$work/out" "$@" "$work/in" > /dev/null
    end=$(date +%s%N)
    times+=($(( (end - start) / 1000000 )))
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p"
}

for size in 1000x1000 0x0; do
  one=$(median_ms --jobs 1 --max-size "$size")
  two=$(median_ms --jobs 2 --max-size "$size")
  awk -v s="$size" -v a="$one" -v b="$two" \
    'BEGIN { printf "max-size %-9s  --jobs 1: %6d ms  --jobs 2: %6d ms  speed-up %.2fx\n", s, a, b, a / b }'
done
