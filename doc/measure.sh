#!/usr/bin/env bash
# What varies from run to run and from toolchain to toolchain, measured on this machine. Each of
# the README's experiments is applied to a scratch copy of the sources, built with each compiler
# present (g++, and clang++ where it is installed), and run RUNS times at each team size; the
# script counts what the runs printed and writes a Markdown page of it to standard output. It
# needs only what the hand builds need. From the root of the clone:
#
#     bash doc/measure.sh [RUNS] > measured-here.md      (RUNS: 100 if not given)
#
# doc/measured/ keeps the pages of the project's own machines.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-100}
[[ $runs =~ ^[1-9][0-9]*$ ]] || { echo "usage: bash doc/measure.sh [RUNS]" >&2; exit 2; }

# One row per build: experiment (README, worksheet), program, edit, options, team sizes, and
# what to count in each run's output ("dynamic": the team size under OMP_DYNAMIC=true). "-" as
# team sizes: the build alone is the result.
experiments='
-  -  solvet  -                        -O2      1,2,4,8  totals
-  -  solvet  -                        -O2      unset    team
-  -  solvet  -                        -O2      4,8      dynamic
-  -  pindra  -                        -O2      4        starts
1  A  pindra  -                        -O0      4        starts
1  A  pindra  -                        -O0-g    1,2      valgrind
1  A  pindra  -                        pattern  4        starts
2  B  pindra  pindra-firstprivate      -O2      4        totals
3  C  solvet  solvet-shared-suma       -O2      2,4      outside
4  D  solvet  solvet-nowait            -O2      2,4      order
5  E  solvet  solvet-static-1          -O2      4        totals
6  F  quarnel quarnel-private-a        -O2      4        array
6  F  quarnel quarnel-firstprivate-a   -O2      4        array
7  G  pindra  pindra-reduction         -O2      1,2,4    totals
7  G  solvet  solvet-reduction         -O2      1,2,4,8  outside
7  G  solvet  solvet-reduction-on-for  -O2      -        build
8  H  solvet  solvet-addresses         -O2      1,4      addresses
9  I  quarnel quarnel-lastprivate      -O2      1,2,4    array
10 J  solvet  solvet-no-n              -O2      -        build
10 J  solvet  solvet-no-clauses        -O2      2,4      outside
11 K  solvet  solvet-shared-t          -O2      2,4      names
12 L  solvet  solvet-no-for            -O2      4        totals,order
12 L  solvet  solvet-misspelt-for      -O2      -        build
13 M  solvet  solvet-no-parallel       -O2      1,4      totals
'

compilers=()
for cxx in g++ clang++; do
  command -v "$cxx" >/dev/null && compilers+=("$cxx")
done
((${#compilers[@]})) || { echo "doc/measure.sh: neither g++ nor clang++ is installed" >&2; exit 1; }
valgrind_runs=$(((runs + 9) / 10))

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# What one run printed, as one short value: awk over all runs at once, one run per record.
count() { # what threads
  awk -v what="$1" -v team="$2" '
    function totals(   s, t) { s = ""; for (t = 0; t < nt; t++) s = s (t ? " " : "") total[t]; return s }
    # A thread block under the static split of 7 indices: the first 7 % team threads take one more.
    function in_block(t, i,   q, r, start) {
      q = int(7 / team); r = 7 % team
      if (t < r) { q++; r = 0 }
      start = q * t + r
      return i >= start && i < start + q
    }
    function parse(text,   s, m, t, i) {
      delete total; delete blocksum; nt = 0; wrong = 0; interleaved = 0; seen_total = 0
      s = text
      while (match(s, /thread [0-9]+ suma a\[[0-9]+\] \/ |\* thread [0-9]+ suma= -?[0-9]+/)) {
        m = substr(s, RSTART, RLENGTH); s = substr(s, RSTART + RLENGTH)
        split(m, w, /[^-0-9]+/)
        if (m ~ /^\*/) { t = w[2]; total[t] = w[3]; seen_total = 1; if (t + 1 > nt) nt = t + 1 }
        else { t = w[2]; i = w[3]; blocksum[t] += i; if (seen_total) interleaved = 1; if (!in_block(t, i)) wrong = 1 }
      }
      outside = match(text, /SUMA = -?[0-9]+/) ? substr(text, RSTART + 7, RLENGTH - 7) : "none"
    }
    # Where a copy started: its total less its block; shown if small, "pattern" for 0xAAAAAAAA.
    function start_of(t,   v) {
      v = total[t] - blocksum[t]
      if (v == -1431655766) return "pattern"
      return (v >= -99 && v <= 99) ? v : "large"
    }
    function value(text,   s, t, n, a, b, k) {
      parse(text)
      if (what == "totals") return "totals " totals() ", SUMA = " outside
      if (what == "outside") return "SUMA = " outside
      if (what == "team" || what == "dynamic") return "a team of " nt
      if (what == "order") return interleaved ? "a total among the traces" : "every total after every trace"
      if (what == "starts") { for (t = 0; t < nt; t++) s = s (t ? " " : "") start_of(t); return "copies started at " s }
      if (what == "valgrind") return match(text, /ERROR SUMMARY: [0-9]+ errors? from [0-9]+ contexts?/) ? substr(text, RSTART, RLENGTH) : "no summary"
      if (what == "array") {
        s = text; while (match(s, /= -?[0-9]+/)) { a = a (a == "" ? "" : " ") substr(s, RSTART + 2, RLENGTH - 2); s = substr(s, RSTART + RLENGTH) }
        return "a = " a
      }
      if (what == "names") {
        n = 0; delete named
        s = text; while (match(s, /\* thread [0-9]+ /)) { k = substr(s, RSTART + 9, RLENGTH - 10); if (!(k in named)) n++; named[k]; s = substr(s, RSTART + RLENGTH) }
        return (n == 1 ? "every total line names one thread" : "total lines name " n " threads") \
               (wrong ? "; a trace names a thread not its own" : "; every trace names its own thread")
      }
      if (what == "addresses") {
        delete sumas; n = 0; one_a = 1; a = ""; t0 = ""; b = ""
        s = text
        while (match(s, /(thread [0-9]+|main): &suma= [^ \n]+ &a= [^ \n]+/)) {
          k = split(substr(s, RSTART, RLENGTH), w, / /)
          if (!(w[k - 2] in sumas)) n++
          sumas[w[k - 2]]
          if (a == "") a = w[k]; else if (w[k] != a) one_a = 0
          if (w[1] == "main:") b = w[k - 2]; else if (w[2] == "0:") t0 = w[k - 2]
          s = substr(s, RSTART + RLENGTH)
        }
        return n " addresses of suma, " (one_a ? "one of a" : "several of a") \
               "; thread 0\047s suma " (t0 == b ? "is" : "is not") " main\047s"
      }
      return "?"
    }
    BEGIN { RS = "\001" }
    { seen[value($0)]++ }
    END { for (v in seen) print seen[v] "\t" v }' | sort -t $'\t' -k1,1nr -k2 |
    awk -F '\t' 'NR <= 4 || $2 == "SUMA = 28" { s = s (NR > 1 ? " · " : "") $2 " (" $1 ")"; next }
      { others++; runs += $1 }
      END { print s (others ? " · " others (others > 1 ? " other values" : " other value") " (" runs ")" : "") }'
}

# The first thing the compiler said, without the place, or that it said nothing.
said() { grep -m 1 -E 'error|warning' "$1" | sed -E 's/^[^ ]*: (error|warning)/\1/' || echo "with no word"; }

version() { "$1" --version | head -n 1 | grep -oE '[0-9]+\.[0-9]+' | head -n 1; }
settings=$(env | grep -E '^(OMP|GOMP|KMP)_' | tr '\n' ' ' || true)
echo "# What varies, measured on $( (. /etc/os-release 2>/dev/null && echo "$PRETTY_NAME") || uname -sr)"
echo
echo "Made by \`bash doc/measure.sh $runs\` on $(date +%Y-%m-%d), on $(uname -m) with $(nproc) CPUs, with"
for cxx in "${compilers[@]}"; do echo "\`$("$cxx" --version | head -n 1)\`;"; done
echo "OpenMP settings in the environment: ${settings:-none}."
echo "Each row is one build of one experiment (README number, worksheet letter), run $runs times"
echo "at each team size ($valgrind_runs under valgrind): what the runs printed, and in how many of them."
echo "\"copies started at\" gives, thread by thread, a copy's total less its block's sum: the number"
echo "itself from -99 to 99, \"large\" beyond, \"pattern\" for 0xAAAAAAAA (clang's filling of unset"
echo "variables). \"SUMA\" is what main printed; \"totals\", each thread's, in thread order."
echo
echo "| experiment | edit | build | threads | what the runs printed (how many) |"
echo "|---|---|---|---|---|"

root=$PWD
while read -r number letter program edit build teams what; do
  [[ -n $number ]] || continue
  flags=(-Wall -Wextra -fopenmp)
  [[ $program == pindra ]] && flags+=(-fwrapv)
  case $build in
  -O0-g) options=(-O0 -g) ;;
  pattern) options=(-O2 -ftrivial-auto-var-init=pattern) ;;
  *) options=("$build") ;;
  esac
  for cxx in "${compilers[@]}"; do
    [[ $build == pattern && $cxx != clang++ ]] && continue # g++ leaves OpenMP's copies unfilled
    [[ $what == valgrind ]] && ! command -v valgrind >/dev/null && continue
    dir=$work/$program-$edit-$build-$cxx
    mkdir -p "$dir"
    cp -r "$program" "$dir/"
    [[ $edit == - ]] || (cd "$dir" && git apply "$root/doc/experiments/$edit.diff")
    row="| $([[ $number == - ]] && echo "the programs" || echo "$number ($letter)") | ${edit/#-/$program, no edit} | $cxx $(version "$cxx") ${options[*]} |"
    if ! (cd "$dir" && "$cxx" "${flags[@]}" "${options[@]}" "$program/main.cpp" -o prog) >"$dir/said" 2>&1; then
      echo "$row – | does not build: $(said "$dir/said") |"
      continue
    fi
    if [[ $teams == - ]]; then
      echo "$row – | builds, $(said "$dir/said") |"
      continue
    fi
    for team in ${teams//,/ }; do
      for kind in ${what//,/ }; do
        n=$runs
        [[ $kind == valgrind ]] && n=$valgrind_runs
        for ((k = 0; k < n; k++)); do
          if [[ $team == unset ]]; then
            env -u OMP_NUM_THREADS "$dir/prog"
          elif [[ $kind == dynamic ]]; then # the runtime may then form a smaller team
            OMP_DYNAMIC=true OMP_NUM_THREADS=$team "$dir/prog"
          elif [[ $kind == valgrind ]]; then
            OMP_NUM_THREADS=$team valgrind --track-origins=yes "$dir/prog" 2>&1
          else
            OMP_NUM_THREADS=$team "$dir/prog"
          fi
          printf '\001'
        done >"$dir/out" 2>/dev/null || true
        threads=$team
        [[ $kind == dynamic ]] && threads+=", OMP_DYNAMIC=true"
        echo "$row $threads | $(count "$kind" "$team" <"$dir/out") |"
      done
    done
  done
done <<<"$experiments"
