#!/usr/bin/env bash
# Whole-process wall time of each program against a floor built with the same compiler and flags:
# an OpenMP program whose region only asks each thread's number. Prints program / floor per team
# size, from medians over many runs measured side by side, so the machine's noise mostly cancels.
# Two threads are measured twice, as the environment leaves them and bound to separate CPUs.
# Usage: bench/run.sh [default|clang [RUNS]]   (default: the g++ build; RUNS: 500, and 100 at 512
# threads, unless given: a small count only checks that the script works)
# Standard output gets the table alone; anything else goes to standard error.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-default}
runs_asked=${2-}
[[ -z $runs_asked || $runs_asked =~ ^[1-9][0-9]*$ ]] || { echo "bench/run.sh: RUNS must be a count, not '$runs_asked'" >&2; exit 2; }

case $preset in
default | clang) ;;
tsan | asan)
  echo "bench/run.sh: '$preset' is a sanitizer build, whose checks cost more than the programs' work;" \
    "time 'default' or 'clang' instead" >&2
  exit 2
  ;;
*)
  echo "bench/run.sh: no such preset '$preset'; use 'default' or 'clang'" >&2
  exit 2
  ;;
esac

command -v hyperfine >/dev/null || {
  echo "bench/run.sh: hyperfine is not installed (Debian: apt-get install hyperfine)" >&2
  exit 1
}
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target pindra solvet quarnel omp_floor >/dev/null
bin=build/$preset
results=$(mktemp -d)
trap 'rm -rf "$results"' EXIT

compiler=$(grep -m1 '^CMAKE_CXX_COMPILER:' "$bin/CMakeCache.txt" | cut -d= -f2)
echo "# $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), $(nproc) CPUs"
echo "# $("$compiler" --version | head -n 1), $(grep -m1 '^CMAKE_BUILD_TYPE:' "$bin/CMakeCache.txt" | cut -d= -f2)"
printf '%-8s %7s %5s %9s %9s %6s\n' program threads bind floor_ms median_ms ratio
outliers=0
for row in 1 2 2:bound 64 512; do
  threads=${row%:*}
  team=(OMP_NUM_THREADS="$threads")
  bind=${OMP_PROC_BIND:--}
  if [[ $row == *:bound ]]; then
    team+=(OMP_PROC_BIND=true)
    bind=true
  fi
  runs=${runs_asked:-$((threads >= 512 ? 100 : 500))}
  for program in pindra solvet quarnel; do
    csv=$results/$program-$row.csv
    # hyperfine warns of outliers on standard error; count them instead of mixing them in.
    if ! env "${team[@]}" hyperfine -N --style none --warmup 20 --runs "$runs" \
      --export-csv "$csv" "$bin/bench/omp_floor" "$bin/$program" >/dev/null 2>"$results/warnings"; then
      cat "$results/warnings" >&2
      exit 1
    fi
    grep -q 'outliers' "$results/warnings" && outliers=$((outliers + 1))
    # The CSV's columns: command, mean, stddev, median, ...; row 2 is the floor, row 3 the program.
    awk -F, -v program="$program" -v threads="$threads" -v bind="$bind" '
      NR == 2 { floor = $4 }
      NR == 3 { printf "%-8s %7s %5s %9.3f %9.3f %6.3f\n", program, threads, bind, floor * 1e3, $4 * 1e3, $4 / floor }
    ' "$csv"
  done
done
((outliers == 0)) || echo "bench/run.sh: hyperfine saw statistical outliers in $outliers of 15 rows" >&2
