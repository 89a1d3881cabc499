#!/usr/bin/env bash
# What varies from run to run and from toolchain to toolchain, measured on this machine. Each
# experiment's edit (doc/experiments/) is applied to a scratch copy of the sources, built with
# each compiler present (g++, and clang++ where it is installed), and run RUNS times at each team
# size; the script counts what the runs printed and writes a Markdown page of it, a section per
# experiment. It needs only what the hand builds need, and valgrind for its rows. From the root
# of the clone:
#
#     bash doc/measure.sh [RUNS] > measured-here.md   a whole page (RUNS: 100 if not given)
#     bash doc/measure.sh RUNS PAGE                    in PAGE, made on a machine like this one, only
#                                                      the sections of new or changed experiments, or
#                                                      of sections edited by hand; the rest stays
#     bash doc/measure.sh --plan                       each section's stamp and the rows it must have
#
# doc/measured/ keeps the pages of the project's own machines.
set -euo pipefail
cd "$(dirname "$0")/.."
export LC_ALL=C # the same sorting everywhere, and the compilers' words as the pages quote them
runs=${1:-100} page=${2-}
if [[ ! ($runs == --plan && -z $page || $runs =~ ^[1-9][0-9]*$) || $# -gt 2 ]]; then
  echo "usage: bash doc/measure.sh [RUNS [PAGE] | --plan]" >&2
  exit 2
fi

# A row of a section, by name: edit= (a file of the experiment's folder) or program= (no edit);
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
# The sections, in order: the programs', then one per experiment, named by its folder.
sections=(programs)
for dir in doc/experiments/*/; do
  dir=${dir%/}
  sections+=("${dir##*/}")
done

# The rows of a section: its folder and its fields, one row a line.
rows() {
  if [[ $1 == programs ]]; then
    sed -n 's/^measure: /-\t/p' <<<"$programs"
  else
    sed -n "s#^measure: #doc/experiments/$1\t#p" "doc/experiments/$1/experiment"
  fi
}

# What a section is made from: its rows, and its edits' changed lines, not where they apply.
stamp() {
  {
    rows "$1"
    for diff in "doc/experiments/$1"/*.diff; do
      echo "$diff"
      grep -E '^[-+]' "$diff" | grep -vE '^(---|\+\+\+) '
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
  for section in "${sections[@]}"; do
    echo "block $section stamp $(stamp "$section")"
    while IFS=$'\t' read -r dir fields; do
      read_fields "$dir" "$fields"
      teams=${field[threads]:-–}
      for team in ${teams//,/ }; do
        echo "| ${field[shown]} | ${field[compilers]:--} | ${field[options]//,/ } | $(threads_cell "$team")"
      done
    done < <(rows "$section")
  done
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
    # The edit of experiment 8 prints "  &suma= P &a= P" under each total line and the line of main.
    function addresses(   k, w, n, seen, a, one_a, t0, m) {
      n = 0; one_a = 1; a = ""; t0 = ""; m = ""
      for (k = 1; k <= ntext; k++) {
        if (split(text[k], w, " ") != 4 || w[1] != "&suma=" || w[3] != "&a=") continue
        if (after[k] == "main") m = w[2]; else if (after[k] == 0) t0 = w[2]
        if (!(w[2] in seen)) { seen[w[2]]; n++ }
        if (a == "") a = w[4]; else if (w[4] != a) one_a = 0
      }
      return n " addresses of suma, " (one_a ? "one of a" : "several of a") "; thread 0\047s suma " (t0 == m ? "is" : "is not") " main\047s"
    }
    function reset() {
      split("", total); split("", blocksum); split("", element); split("", text); split("", named_by); split("", after)
      split("", trace_t); split("", trace_i)
      nt = 0; nelement = 0; ntext = 0; ntrace = 0; interleaved = 0; seen_total = 0; outside = "none"
    }
    BEGIN { reset() }
    $1 == "trace" { trace_t[++ntrace] = $2; trace_i[ntrace] = $3; blocksum[$2] += $3; if (seen_total) interleaved = 1 }
    $1 == "total" { named_by[nt++] = $2; total[$2] = $3; seen_total = 1; last = $2 }
    $1 == "main" { outside = $3; last = "main" }
    $1 == "element" { element[nelement++] = $3 }
    $1 == "text" { text[++ntext] = substr($0, 6); after[ntext] = last }
    $1 == "end" { seen[value()]++; reset() }
    END { for (v in seen) print seen[v] "\t" v }' | sort -t $'\t' -k1,1nr -k2 |
    awk -F '\t' 'NR <= 4 || $2 == "SUMA = 28" { s = s (NR > 1 ? " · " : "") $2 " (" $1 ")"; next }
      { others++; runs += $1 }
      END { print s (others ? " · " others (others > 1 ? " other values" : " other value") " (" runs ")" : "") }'
}

# The first thing the compiler said, without the place, or that it said nothing.
said() { grep -m 1 -E 'error|warning' "$1" | sed -E 's/^[^ ]*: (error|warning)/\1/' || echo "with no word"; }

version() { "$1" --version | head -n 1 | grep -oE '[0-9]+\.[0-9]+' | head -n 1; }

# What the page says of the machine: a page is remade only where this is the same.
header() {
  local cxx settings tools=""
  for cxx in "${compilers[@]}"; do tools+="$cxx $(version "$cxx") (\`$("$cxx" --version | head -n 1)\`), "; done
  ! command -v valgrind >/dev/null || tools+="$(valgrind --version), "
  settings=$(env | grep -E '^(OMP|GOMP|KMP)_' | tr '\n' ' ' || true)
  echo "# What varies, measured on $( (. /etc/os-release 2>/dev/null && echo "$PRETTY_NAME") || uname -sr)"
  echo
  echo "Made by doc/measure.sh on $(uname -m) with $(nproc) CPUs, with"
  echo "${tools%, }."
  echo "OpenMP settings in the environment: ${settings:-none}. Each section is one experiment of"
  echo "doc/experiments/, the first the programs as they are; each row is one build of it, run as many"
  echo "times at each team size as the section says: what the runs printed, and in how many of them."
  echo "\"totals\" are each thread's, in thread order; \"SUMA\" is what main printed. \"total less"
  echo "block\" gives, thread by thread, its total less the sum of its block: what its copy happened to"
  echo "hold before the loop, given by nothing. It shows the number from -99 to 99, \"large\" beyond,"
  echo "and \"pattern\" for 0xAAAAAAAA (clang's filling of unset variables). The tests fail when a"
  echo "section was made from another experiment than today's, or edited by hand."
  echo
}

# One section: its heading, its runs, and a row per build, team size and count.
section() {
  local dir fields cxx build row team what n k program flags options run setting also=""
  [[ $1 == programs ]] && echo "## The programs" || echo "## $1"
  echo
  ! rows "$1" | grep -q 'count=valgrind' || also=" ($valgrind_runs under valgrind)"
  echo "$runs runs at each team size$also, on $(date +%Y-%m-%d)."
  echo
  echo "| edit | build | threads | what the runs printed (how many) |"
  echo "|---|---|---|---|"
  while IFS=$'\t' read -r dir fields; do
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
      row="| ${field[shown]} | $cxx $(version "$cxx") ${options[*]} |"
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
  done < <(rows "$1")
}

# A section as the page keeps it: a line that gives its stamp and the check of what follows.
# The check is the cksum of "stamp S", then the section's lines.
kept() { # section stamp text
  echo "<!-- $1: stamp $2, check $(printf 'stamp %s\n%s\n' "$2" "$3" | cksum | cut -d ' ' -f 1) -->"
  printf '%s\n\n' "$3"
}

made=$work/made # the page's sections, one file each, that still hold: kept as they are
mkdir "$made"
if [[ -n $page ]]; then
  if [[ -f $page ]]; then
    if [[ $(header) != "$(sed '/^<!-- /,$d' "$page")" ]]; then
      echo "doc/measure.sh: $page was made on another machine, or with other tools or settings:" >&2
      diff <(sed '/^<!-- /,$d' "$page") <(header) >&2 || true
      exit 1
    fi
    awk -v dir="$made" '/^<!-- [^ ]+: stamp [0-9]+, check [0-9]+ -->$/ { f = dir "/" substr($2, 1, length($2) - 1) } f { print > f }' "$page"
  fi
  exec >"$page.new"
fi
header
for section in "${sections[@]}"; do
  stamp=$(stamp "$section")
  text=$([[ ! -f $made/$section ]] || tail -n +2 "$made/$section")
  # A kept section's line gives today's stamp and still checks its text.
  if [[ -n $text && $(kept "$section" "$stamp" "$text" | head -n 1) == "$(head -n 1 "$made/$section")" ]]; then
    kept "$section" "$stamp" "$text"
  else
    [[ -z $page ]] || echo "doc/measure.sh: making the section $section of $page" >&2
    kept "$section" "$stamp" "$(section "$section")"
  fi
done
if [[ -n $page ]]; then
  exec >&-
  mv "$page.new" "$page"
fi
