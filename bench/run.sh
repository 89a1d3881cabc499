#!/usr/bin/env bash
# Whole-process wall time of each program against a floor built with the same compiler and flags:
# an OpenMP program whose region only asks each thread's number. Prints program / floor per team
# size, from medians over many runs measured side by side, so the machine's noise mostly cancels.
# Usage: bench/run.sh [preset]   (default: the g++ build)
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}

command -v hyperfine >/dev/null || { apt-get update -qq && apt-get install -y -qq hyperfine; }
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target pindra solvet quarnel omp_floor >/dev/null
bin=build/$preset
results=$(mktemp -d)
trap 'rm -rf "$results"' EXIT

compiler=$(grep -m1 '^CMAKE_CXX_COMPILER:' "$bin/CMakeCache.txt" | cut -d= -f2)
echo "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), $(nproc) CPUs"
echo "$("$compiler" --version | head -n 1), $(grep -m1 '^CMAKE_BUILD_TYPE:' "$bin/CMakeCache.txt" | cut -d= -f2)"
printf '%-8s %7s %9s %9s %6s\n' program threads floor_ms median_ms ratio
for threads in 1 2 64 512; do
  runs=$((threads >= 512 ? 100 : 500))
  for program in pindra solvet quarnel; do
    json=$results/$program-$threads.json
    OMP_NUM_THREADS=$threads hyperfine -N --style none --warmup 20 --runs "$runs" --export-json "$json" \
      "$bin/omp_floor" "$bin/$program" >/dev/null
    python3 - "$json" "$program" "$threads" <<'PY'
import json, sys
floor, program = (r["median"] for r in json.load(open(sys.argv[1]))["results"])
print(f"{sys.argv[2]:<8} {sys.argv[3]:>7} {floor * 1e3:9.3f} {program * 1e3:9.3f} {program / floor:6.3f}")
PY
  done
done
