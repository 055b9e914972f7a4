#!/usr/bin/env bash
# Inputs per second of the open/read and API-sequence fuzz targets, for one
# or more fuzz builds side by side in one run (so that they share the
# machine's load): each target runs a fixed number of inputs three times,
# with seeds 1 to 3, from a fresh copy of the committed corpus; the median
# time counts. Built by `cmake --preset fuzz && cmake --build --preset fuzz`.
#   bench/fuzz_throughput.sh [BUILD ...]     (default: build/fuzz)
# A build of an older commit (a worktree's build/fuzz) gives the ratio
# against it; the first build named is the reference.
set -euo pipefail
cd "$(dirname "$0")/.."

builds=("$@")
((${#builds[@]})) || builds=(build/fuzz)
declare -A runs=([open_read]=20000 [api_sequence]=60000)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

seconds_for() {  # build target seed
  local work=$scratch/work corpus=$scratch/corpus extra=()
  rm -rf "$work" "$corpus"
  mkdir -p "$work"
  cp -r "fuzz/corpus/$2" "$corpus"
  [ "$2" = open_read ] && extra=(-dict=fuzz/summary.dict)
  local start end
  start=$(date +%s.%N)
  "$1/fuzz/fuzz_$2" -runs="${runs[$2]}" -seed="$3" "${extra[@]}" "$work" "$corpus" \
    >"$scratch/log" 2>&1
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}

printf '%-14s %-40s %10s %12s %8s\n' target build inputs s/median inputs/s
for target in open_read api_sequence; do
  reference=
  for build in "${builds[@]}"; do
    median=$(for seed in 1 2 3; do seconds_for "$build" "$target" "$seed"; done | sort -n |
      sed -n 2p)
    rate=$(echo "${runs[$target]} / $median" | bc)
    ratio=
    [ -n "$reference" ] && ratio=$(echo "scale=1; $rate / $reference" | bc)x
    [ -z "$reference" ] && reference=$rate
    printf '%-14s %-40s %10s %12.2f %8s %s\n' "$target" "$build" "${runs[$target]}" "$median" \
      "$rate" "$ratio"
  done
done
