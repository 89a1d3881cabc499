#!/usr/bin/env bash
# What varies from run to run and from toolchain to toolchain, measured on this machine. Each
# experiment's edit (doc/experiments/) is applied to a scratch copy of the sources, built with
# each compiler present (g++, and clang++ where it is installed), and run RUNS times at each team
# size; the script counts what the runs printed and writes a Markdown page of it to standard
# output. It needs only what the hand builds need. From the root of the clone:
#
#     bash doc/measure.sh [RUNS] > measured-here.md      (RUNS: 100 if not given)
#     bash doc/measure.sh --plan       the stamp and the rows a page must have, without running
#
# doc/measured/ keeps the pages of the project's own machines.
set -euo pipefail
cd "$(dirname "$0")/.."
export LC_ALL=C # the same sorting everywhere, and the compilers' words as the pages quote them
runs=${1:-100}
[[ $runs == --plan || $runs =~ ^[1-9][0-9]*$ ]] || { echo "usage: bash doc/measure.sh [RUNS | --plan]" >&2; exit 2; }

# A row of the page, by name: edit= (a file of the experiment's folder) or program= (no edit);
# options= (comma-separated); threads= (comma-separated team sizes, or unset: the runtime's own
# choice; none: the build alone is the result); count= what each run printed: totals, outside
# (main's SUMA), team (its size), order (of totals and traces), total-less-block, array, names,
# addresses, or valgrind's error summary (a tenth as many runs, under valgrind); compilers= and
# env=, if given, limit the compilers and set the environment. The experiments' rows are in
# their folders; these are the programs' own.
programs='measure: program=solvet options=-O2 threads=1,2,4,8 count=totals
measure: program=solvet options=-O2 threads=unset count=team
measure: program=solvet options=-O2 threads=4,8 env=OMP_DYNAMIC=true count=team
measure: program=pindra options=-O2 threads=4 count=total-less-block'

shopt -s nullglob
experiments=(doc/experiments/*/experiment)

# Every row: the experiment's name in the page, its folder, its fields.
rows() {
  local file dir number
  printf '%s\n' "$programs" | sed -n 's/^measure: /the programs\t-\t/p'
  for file in "${experiments[@]}"; do
    dir=${file%/experiment}
    number=${dir##*/}
    number=$((10#${number%%-*}))
    awk -v name="$number" -v dir="$dir" \
      'sub(/^measure: /, "") { print name "\t" dir "\t" $0 }' "$file"
  done
}

# What the page was made from: the rows, and each edit's changed lines, not where they apply.
stamp() {
  local dir diff
  {
    rows
    for dir in "${experiments[@]%/experiment}"; do
      for diff in "$dir"/*.diff; do
        echo "$diff"
        grep -E '^[-+]' "$diff" | grep -vE '^(---|\+\+\+) '
      done
    done
  } | cksum | cut -d ' ' -f 1
}

declare -A field
# read_fields FOLDER FIELDS: into field[], and the program from the edit when it is not given.
read_fields() {
  local dir=$1 word
  field=()
  for word in $2; do field[${word%%=*}]=${word#*=}; done
  if [[ -n ${field[edit]-} ]]; then
    field[program]=$(sed -n 's#^+++ b/\([a-z]*\)/main.cpp$#\1#p' "$dir/${field[edit]}")
    field[shown]="${dir#doc/experiments/}/${field[edit]}"
  else
    field[shown]="${field[program]}, no edit"
  fi
}
# The threads column of a row: the team size, and the environment the row sets.
threads_cell() { echo "$1${field[env]:+, ${field[env]}}"; }

if [[ $runs == --plan ]]; then
  echo "stamp $(stamp)"
  while IFS=$'\t' read -r name dir fields; do
    read_fields "$dir" "$fields"
    teams=${field[threads]:-–}
    for team in ${teams//,/ }; do echo "$name | ${field[shown]} | ${field[options]//,/ } | $(threads_cell "$team")"; done
  done < <(rows)
  exit 0
fi

compilers=()
for cxx in g++ clang++; do
  command -v "$cxx" >/dev/null && compilers+=("$cxx")
done
((${#compilers[@]})) || { echo "doc/measure.sh: neither g++ nor clang++ is installed" >&2; exit 1; }
valgrind_runs=$(((runs + 9) / 10))

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# What one run printed, as one short value, for each run; then the values, most frequent first.
count() { # what team
  awk -f tests/messages.awk | awk -v what="$1" -v team="$2" '
    # Does thread t own index i under the static split of 7 indices among `size` threads?
    function in_block(t, i, size,   q, r, start) {
      q = int(7 / size); r = 7 % size
      if (t < r) { q++; r = 0 }
      start = q * t + r
      return i >= start && i < start + q
    }
    function list(a, n,   s, k) { s = ""; for (k = 0; k < n; k++) s = s (k ? " " : "") a[k]; return s }
    function less_block(t,   v) {
      v = total[t] - blocksum[t]
      if (v == -1431655766) return "pattern"
      return (v >= -99 && v <= 99) ? v : "large"
    }
    function value(   size, t, k, s, named, n) {
      # The team is the size asked for, or, left unset, the number of total lines the run printed.
      size = team == "unset" ? nt : team
      if (what == "totals") return "totals " list(total, nt) ", SUMA = " outside
      if (what == "outside") return "SUMA = " outside
      if (what == "team") return "a team of " nt
      if (what == "order") return interleaved ? "a total among the traces" : "every total after every trace"
      if (what == "total-less-block") {
        for (t = 0; t < nt; t++) s = s (t ? " " : "") less_block(t)
        return "total less block " s
      }
      if (what == "valgrind") {
        for (k = 1; k <= ntext; k++) if (match(text[k], /ERROR SUMMARY: [0-9]+ errors? from [0-9]+ contexts?/)) return substr(text[k], RSTART, RLENGTH)
        return "no summary"
      }
      if (what == "array") return "a = " list(element, nelement)
      if (what == "names") {
        n = 0
        for (k = 0; k < nt; k++) if (!(named_by[k] in named)) { named[named_by[k]]; n++ }
        for (k = 1; k <= ntrace; k++) if (!in_block(trace_t[k], trace_i[k], size)) return names(n) "; a trace names a thread not its own"
        return names(n) "; every trace names its own thread"
      }
      if (what == "addresses") return addresses()
      return "?"
    }
    function names(n) { return n == 1 ? "every total line names one thread" : "total lines name " n " threads" }
    # The edit of experiment 8 prints " thread T: &suma= P &a= P" and " main: &suma= P &a= P".
    function addresses(   k, w, n, seen, a, one_a, t0, m, p, q) {
      n = 0; one_a = 1; a = ""; t0 = ""; m = ""
      for (k = 1; k <= ntext; k++) {
        if (text[k] ~ /^ thread [0-9]+: &suma= [^ ]+ &a= [^ ]+$/) {
          split(text[k], w, " "); p = w[4]; q = w[6]; if (w[2] == "0:") t0 = p
        } else if (text[k] ~ /^ main: &suma= [^ ]+ &a= [^ ]+$/) {
          split(text[k], w, " "); p = w[3]; q = w[5]; m = p
        } else continue
        if (!(p in seen)) { seen[p]; n++ }
        if (a == "") a = q; else if (q != a) one_a = 0
      }
      return n " addresses of suma, " (one_a ? "one of a" : "several of a") "; thread 0\047s suma " (t0 == m ? "is" : "is not") " main\047s"
    }
    function reset() {
      split("", total); split("", blocksum); split("", element); split("", text); split("", named_by)
      split("", trace_t); split("", trace_i)
      nt = 0; nelement = 0; ntext = 0; ntrace = 0; interleaved = 0; seen_total = 0; outside = "none"
    }
    BEGIN { reset() }
    $1 == "trace" { trace_t[++ntrace] = $2; trace_i[ntrace] = $3; blocksum[$2] += $3; if (seen_total) interleaved = 1 }
    $1 == "total" { named_by[nt++] = $2; total[$2] = $3; seen_total = 1 }
    $1 == "main" { outside = $3 }
    $1 == "element" { element[nelement++] = $3 }
    $1 == "text" { text[++ntext] = substr($0, 6) }
    $1 == "end" { seen[value()]++; reset() }
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
echo "Made by \`bash doc/measure.sh $runs\` on $(date +%Y-%m-%d), from the experiments as they were"
echo "then (stamp $(stamp); the tests fail when doc/experiments/ no longer gives it), on $(uname -m)"
echo "with $(nproc) CPUs, with"
for cxx in "${compilers[@]}"; do echo "\`$("$cxx" --version | head -n 1)\`;"; done
echo "OpenMP settings in the environment: ${settings:-none}."
echo "Each row is one build of one experiment (its number), run $runs times"
echo "at each team size ($valgrind_runs under valgrind): what the runs printed, and in how many of them."
echo "\"totals\" are each thread's, in thread order; \"SUMA\" is what main printed. \"total less"
echo "block\" gives, thread by thread, its total less the sum of its block: what its copy happened to"
echo "hold before the loop, given by nothing. It shows the number from -99 to 99, \"large\" beyond,"
echo "and \"pattern\" for 0xAAAAAAAA (clang's filling of unset variables)."
echo
echo "| experiment | edit | build | threads | what the runs printed (how many) |"
echo "|---|---|---|---|---|"

while IFS=$'\t' read -r name dir fields; do
  read_fields "$dir" "$fields"
  program=${field[program]}
  flags=(-Wall -Wextra -fopenmp)
  [[ $program == pindra ]] && flags+=(-fwrapv)
  IFS=, read -r -a options <<<"${field[options]}"
  for cxx in "${compilers[@]}"; do
    [[ " ${field[compilers]:-$cxx} " == *" $cxx "* ]] || continue
    [[ ${field[count]} == valgrind ]] && ! command -v valgrind >/dev/null && continue
    build=$work/build
    rm -rf "$build"
    mkdir "$build"
    cp -r "$program" "$build/"
    [[ ${field[edit]-} ]] && git -C "$build" apply "$PWD/$dir/${field[edit]}"
    row="| $name | ${field[shown]} | $cxx $(version "$cxx") ${options[*]} |"
    if ! (cd "$build" && "$cxx" "${flags[@]}" "${options[@]}" "$program/main.cpp" -o prog) >"$build/said" 2>&1; then
      echo "$row – | does not build: $(said "$build/said") |"
      continue
    fi
    if [[ -z ${field[threads]-} ]]; then
      echo "$row – | builds, $(said "$build/said") |"
      continue
    fi
    teams=${field[threads]}
    for team in ${teams//,/ }; do
      for what in ${field[count]//,/ }; do
        n=$runs
        run=("$build/prog")
        [[ $what == valgrind ]] && n=$valgrind_runs run=(valgrind --track-origins=yes "${run[@]}")
        setting=(-u OMP_NUM_THREADS)
        [[ $team == unset ]] || setting=("OMP_NUM_THREADS=$team")
        for ((k = 0; k < n; k++)); do
          env "${setting[@]}" ${field[env]-} "${run[@]}" 2>&1
          printf '\001'
        done >"$build/out" || true
        echo "$row $(threads_cell "$team") | $(count "$what" "$team" <"$build/out") |"
      done
    done
  done
done < <(rows)
