#!/usr/bin/env bash
# Checks pages of the docs against real runs, so that what they show cannot drift from what the
# programs and the compilers print. From the root of the clone:
#
#     bash tests/check_docs.sh README.md doc/es/solucionario.md ...
#
# Every fenced block says what it is in the word after its fence; these are checked:
#   ```console  a transcript: each "$ " line is a command, the lines under it what it printed,
#               standard output and error together. Each block runs from the root of a fresh copy
#               of the clone whose build/hand/ holds the README's g++ builds (its first sh block
#               that builds into build/hand/), with no OpenMP settings and messages in English,
#               and its output must match: line for line, where a line "..." stands for any lines
#               left out and "..." inside a line for any text. A second word relaxes that, for the
#               messages of pindra and solvet (tests/messages.awk reads them):
#                 any-order    the threads may come in another order: each thread's indices, in
#                              order, and its total are compared, and the phases that the loop's
#                              barrier gives: every trace before every total, main's line last;
#                 any-totals   as any-order, but the totals after "suma=" are not compared;
#                 interleaved  as any-order, for a run without the loop's barrier: the block must
#                              show a total among the traces, and the runs need not;
#                 example      one run's example, labelled so on the page: every number and
#                              address is masked, and blanks squeezed, and the run must have as
#                              many distinct values among the totals and main's line, and
#                              thread numbers on the total lines, as the block shows.
#   ```diff     an experiment's edit: the second word names its file, and the block is that file.
#   ```c++      lines of a source: the second word names it, and the block is one unbroken
#               stretch of it, blank lines and lines that are only a comment aside.
#   ```sh       commands: each g++ or clang++ line must be run by some transcript of the docs, as
#               the same text, or be one of the README's hand build; "sh described" marks lines
#               for systems that cannot run here.
# And every relative link, and every #anchor, of the page must lead somewhere.
# A console block needing a program that this machine lacks is skipped, and said so; under CI,
# where everything is installed, a skip is a failure.
set -uo pipefail
cd "$(dirname "$0")/.."
export LC_ALL=C # awk counts bytes, and sorts and makes anchors the same way everywhere
root=$PWD
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0 skips=0 runs=0

fail() {
  echo "FAIL $*"
  failures=$((failures + 1))
}

# Only the command decides what it prints: no OpenMP or sanitizer settings of the caller's.
run_clean() { (cd "$1" && env -i "PATH=$PATH" "HOME=$work" LANG=C.UTF-8 timeout 300 bash -c "$2" 2>&1); }

# The clone as a reader has it, with build/hand/ built by the README's lines.
mkdir "$work/clone"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard |
    tar -c --null --ignore-failed-read -T - 2>/dev/null | tar -x -C "$work/clone"
else # a copy without its history, such as CI's Debian 13 root
  tar -c --exclude=./build . | tar -x -C "$work/clone"
fi
# A reader's clone is a git repository: `git checkout -- .` in a transcript puts the sources back.
git -C "$work/clone" init -q
git -C "$work/clone" add -A
git -C "$work/clone" -c user.name=docs -c user.email=docs@localhost commit -q -m clone
setup=$(awk '/^```sh$/ { f = 1; b = ""; g = 0; next }
  f && /^```/ { if (g) { printf "%s", b; exit } f = 0; next }
  f { b = b $0 "\n"; if ($0 ~ /^g\+\+ .* -o build\/hand\//) g = 1 }' README.md)
out=$(run_clean "$work/clone" "set -e; $setup")
for program in pindra solvet quarnel; do
  [[ -x $work/clone/build/hand/$program ]] || out+=$'\n'"no build/hand/$program"
done
if [[ -n $out ]]; then
  echo "README.md's hand build did not build the three programs without a word:"
  printf '%s\n' "$setup" "$out"
  exit 1
fi

# Every command that a transcript of the docs runs, and the hand build: what a build line must be.
pages=(README.md doc/*.md doc/*/*.md)
{
  printf '%s\n' "$setup"
  awk '/^ *```console/ { f = 1; next } /^ *```/ { f = 0 } f && sub(/^ *\$ /, "")' "${pages[@]}"
} >"$work/commands"

# One command's output, as the block's second word compares it: from the messages, each run
# (up to main's line) as a line per thread, main's line, the phases, and the other lines.
canon() { # mode
  awk -f tests/messages.awk | awk -v mode="$1" '
    function reset() {
      split("", traces); split("", total); split("", known); split("", other)
      threads = 0; others = 0; messages = 0; phased = 1; totals_seen = 0; main_line = ""
    }
    function thread(t) { if (!(t in known)) { known[t]; order[++threads] = t } }
    function flush(   i, j, t) {
      for (i = 2; i <= threads; i++) { # insertion sort by number: mawk has no asort
        t = order[i]
        for (j = i - 1; j >= 1 && order[j] + 0 > t + 0; j--) order[j + 1] = order[j]
        order[j + 1] = t
      }
      for (i = 1; i <= threads; i++) {
        t = order[i]
        print "thread " t ":" (t in traces ? traces[t] : "") (t in total ? (t in traces ? "," : "") " total " total[t] : "")
      }
      if (main_line != "") print main_line
      if (messages && mode != "interleaved")
        print phased ? "(every trace before every total)" : "(a total among the traces)"
      for (i = 1; i <= others; i++) print other[i]
      reset()
    }
    BEGIN { reset() }
    $1 == "trace" { thread($2); traces[$2] = traces[$2] " a[" $3 "]"; messages = 1; if (totals_seen) phased = 0 }
    $1 == "total" { thread($2); total[$2] = mode == "any-totals" ? "..." : $3; messages = totals_seen = 1 }
    $1 == "main" { main_line = "main: THREAD " $2 ", SUMA = " $3; flush() }
    $1 == "element" { other[++others] = "a[" $2 "] = " $3 }
    $1 == "text" { other[++others] = substr($0, 6) }
    $1 == "end" { flush() }'
}

# One command's output with its numbers masked, and how many distinct values its messages hold.
masked() {
  tee "$work/raw" | awk '{ gsub(/0x[0-9a-fA-F]+/, "#"); gsub(/-?[0-9]+(\.[0-9]+)?/, "#"); gsub(/[ \t]+/, " "); print }'
  awk -f tests/messages.awk "$work/raw" | awk '
    function count(a,   k, n) { n = 0; for (k in a) n++; return n }
    $1 == "total" { value[$3]; named[$2]; seen = 1 }
    $1 == "main" { value[$3]; seen = 1 }
    END { if (seen) print "(" count(value) " distinct values among the totals and main\047s line, " count(named) " thread numbers on the total lines)" }'
}

# Does the text of file $2 match the lines of file $1, with its "..." lines and "..." in lines?
# If not, it shows where they part: the first shown line that no run of the real lines can meet.
matches() {
  awk 'function line_ok(e, a,   n, p, i, at, k) {
         if (index(e, "...") == 0) return e == a
         n = split(e, p, "\\.\\.\\.")
         if (substr(a, 1, length(p[1])) != p[1]) return 0
         at = length(p[1]) + 1
         for (i = 2; i < n; i++) {
           if ((k = index(substr(a, at), p[i])) == 0) return 0
           at += k - 1 + length(p[i])
         }
         return length(a) - at + 1 >= length(p[n]) && substr(a, length(a) - length(p[n]) + 1) == p[n]
       }
       FNR == NR { want[++ne] = $0; next }
       { got[++na] = $0 }
       END {
         reach[1, 1] = 1; far = 1; at = 1
         for (i = 1; i <= ne + 1; i++)
           for (j = 1; j <= na + 1; j++) {
             if (!((i, j) in reach)) continue
             if (i > far) { far = i; at = j }
             if (i > ne) continue
             if (want[i] == "...") { reach[i + 1, j] = 1; if (j <= na) reach[i, j + 1] = 1 }
             else if (j <= na && line_ok(want[i], got[j])) reach[i + 1, j + 1] = 1
           }
         if ((ne + 1, na + 1) in reach) exit 0
         print "  shown, from its line " far ":"
         for (k = far; k <= ne && k < far + 3; k++) print "    " want[k]
         if (far > ne) print "    (its end)"
         # After a "..." line, the real lines that hold the longest fixed part of the shown one.
         if (far > 1 && far <= ne && want[far - 1] == "...") {
           n = split(want[far], p, "\\.\\.\\."); best = ""
           for (k = 1; k <= n; k++) if (length(p[k]) > length(best)) best = p[k]
           for (k = at; k <= na && like < 3; k++) if (index(got[k], best)) {
             if (!like++) print "  real run, its lines like it:"
             print "    " got[k]
           }
           if (like) exit 1
         }
         print "  real run, from its line " at ":"
         for (k = at; k <= na && k < at + 3; k++) print "    " got[k]
         if (at > na) print "    (its end)"
         exit 1
       }' "$1" "$2"
}

# Prints why a command cannot run here, if it cannot.
missing() {
  local word lang=
  for word in $1; do
    case $word in
    LANG=*) lang=${word#LANG=} ;;
    *=*) ;;
    */*) return ;;
    *) command -v "$word" >/dev/null || echo "no $word"; break ;;
    esac
  done
  if [[ -n $lang ]]; then
    [[ $(LC_ALL=$lang locale charmap 2>/dev/null) == UTF-8 ]] || echo "no $lang locale"
    compgen -G "/usr/share/locale/${lang%%_*}/LC_MESSAGES/gcc*.mo" >/dev/null || echo "no ${lang%%_*} messages for g++"
  fi
}

check_console() { # page line mode body
  local page=$1 line=$2 mode=$3 body=$4 dir="$work/run" cmd why= n=0 expected actual
  case $mode in
  "" | any-order | any-totals | interleaved | example) ;;
  *) fail "$page:$line: console block with an unknown second word '$mode'"; return ;;
  esac
  if [[ $(head -n 1 "$body") != '$ '* ]]; then
    fail "$page:$line: console block that does not start with a \"\$ \" command"
    return
  fi
  while IFS= read -r cmd; do why+="$(missing "${cmd#\$ }") "; done < <(grep '^\$ ' "$body")
  if [[ -n ${why// /} ]]; then
    echo "skip $page:$line: $(echo $why)"
    skips=$((skips + 1))
    return
  fi
  runs=$((runs + 1))
  rm -rf "$dir"
  cp -a "$work/clone" "$dir"
  # Each command's output, shown and real, in files of its own, compared one by one.
  awk -v dir="$work" '/^\$ / { n++; print > (dir "/cmd" n); next } { print > (dir "/exp" n) }' "$body"
  expected=$work/expected actual=$work/actual
  : >"$expected"
  : >"$actual"
  while [[ -f $work/cmd$((n + 1)) ]]; do
    n=$((n + 1))
    cmd=$(cat "$work/cmd$n")
    touch "$work/exp$n"
    run_clean "$dir" "${cmd#\$ }" >"$work/out$n"
    case $mode in
    any-order | any-totals | interleaved)
      if [[ $mode == interleaved ]] && canon any-order <"$work/exp$n" | grep -q '^(every trace before'; then
        fail "$page:$line: console block labelled interleaved whose command $n shows every total after every trace"
        return
      fi
      canon "$mode" <"$work/exp$n" >"$work/exp$n.c"
      canon "$mode" <"$work/out$n" >"$work/out$n.c"
      ;;
    example)
      masked <"$work/exp$n" >"$work/exp$n.c"
      masked <"$work/out$n" >"$work/out$n.c"
      ;;
    *)
      cp "$work/exp$n" "$work/exp$n.c"
      cp "$work/out$n" "$work/out$n.c"
      ;;
    esac
    cat "$work/cmd$n" "$work/exp$n.c" >>"$expected"
    cat "$work/cmd$n" "$work/out$n.c" >>"$actual"
    rm -f "$work"/{cmd,exp,out}"$n"{,.c}
  done
  if ! matches "$expected" "$actual" >"$work/where"; then
    fail "$page:$line: console block ${mode:+($mode) }differs from a real run${mode:+, as compared}:"
    cat "$work/where"
  fi
}

# The anchors of a page's headings, as GitHub makes them.
anchors() {
  awk '/^ *```/ { f = !f; next }
    !f && /^#+ / {
      h = tolower($0); sub(/^#+ +/, "", h); s = ""
      for (i = 1; i <= length(h); i++) {
        c = substr(h, i, 1)
        if (c == " ") s = s "-"
        else if (index("!\"#$%&\047()*+,./:;<=>?@[\\]^`{|}~", c) == 0) s = s c
      }
      print (s in seen ? s "-" seen[s] : s); seen[s]++
    }' "$1"
}

check_links() { # page
  local page=$1 line target path anchor
  while IFS=$'\t' read -r line target; do
    path=${target%%#*} anchor=
    [[ $target == *#* ]] && anchor=${target#*#}
    if [[ -z $path ]]; then
      path=$page
    else
      path=$(realpath -m --relative-to="$root" "$(dirname "$page")/$path")
    fi
    if [[ $path == ../* || ! -e $path ]]; then
      fail "$page:$line: link to $target, which is not in the clone"
    elif [[ -n $anchor ]] && ! anchors "$path" | grep -qxF -- "$anchor"; then
      fail "$page:$line: link to $target, but $path has no heading with that anchor"
    fi
  done < <(awk '/^ *```/ { f = !f; next }
      !f { s = $0
        while (match(s, /\]\([^)]+\)/)) {
          t = substr(s, RSTART + 2, RLENGTH - 3); s = substr(s, RSTART + RLENGTH)
          if (t !~ /^[a-z]+:/) print FNR "\t" t
        } }' "$page")
}

check_page() {
  local page=$1 blocks="$work/blocks" n line info kind arg k word
  rm -rf "$blocks"
  mkdir "$blocks"
  # Each fenced block to a file of its own, without the indent of its fence (a block in a list).
  awk -v dir="$blocks" -v OFS='\t' '
    !in_block && match($0, /^ *```/) {
      in_block = 1; indent = RLENGTH - 3; info = substr($0, RLENGTH + 1)
      print ++n, NR, info > (dir "/index"); printf "" > (dir "/" n); next }
    in_block && /^ *```[ \t]*$/ { in_block = 0; next }
    in_block { s = $0; for (i = 0; i < indent && substr(s, 1, 1) == " "; i++) s = substr(s, 2)
      print s > (dir "/" n) }' "$page"
  check_links "$page"
  [[ -f $blocks/index ]] || return 0
  while IFS=$'\t' read -r n line info; do
    read -r kind arg _ <<<"$info"
    case $kind in
    "") fail "$page:$line: a block with no word after its fence: say what it is (console, sh, text, ...)" ;;
    console) check_console "$page" "$line" "${arg-}" "$blocks/$n" ;;
    diff)
      if [[ -z ${arg-} || ! -f $arg ]]; then
        fail "$page:$line: diff block that names no edit file of the clone"
      elif ! cmp -s "$blocks/$n" "$arg"; then
        fail "$page:$line: diff block is not $arg:"
        diff -u --label shown --label "$arg" "$blocks/$n" "$arg" | tail -n +3
      fi
      ;;
    c++)
      if [[ -z ${arg-} || ! -f $arg ]]; then
        fail "$page:$line: c++ block that names no source of the clone"
      elif ! awk 'function kept(s) { return s !~ /^[ \t]*$/ && s !~ /^[ \t]*\/\// }
             FNR == NR { if (kept($0)) want[++n] = $0; next }
             kept($0) { got[++m] = $0 }
             END { for (s = 1; s + n - 1 <= m; s++) { for (k = 1; k <= n && got[s + k - 1] == want[k]; k++);
                     if (k > n) exit 0 }
                   exit 1 }' "$blocks/$n" "$arg"; then
        fail "$page:$line: c++ block that is not one stretch of $arg (blank and comment lines aside)"
      fi
      ;;
    sh)
      [[ ${arg-} == described ]] && continue
      while IFS=$'\t' read -r k word; do
        grep -qxF -- "$word" "$work/commands" ||
          fail "$page:$((line + k)): build line that no transcript runs, nor the README's hand build: $word"
      done < <(awk '{ s = $0; sub(/^[ \t]+/, "", s); c = s
               while (c ~ /^[A-Za-z_]+=[^ ]* /) sub(/^[^ ]+ +/, "", c)
               if (c ~ /^(g|clang)\+\+ /) print NR "\t" s }' "$blocks/$n")
      ;;
    esac
  done <"$blocks/index"
}

for page; do
  check_page "$page"
done
echo "$runs transcripts run, $skips skipped, $failures failures"
if ((skips)) && [[ ${CI-} =~ ^([Oo][Nn]|[Yy]([Ee][Ss])?|[Tt][Rr][Uu][Ee]|1)$ ]]; then
  fail "$skips blocks skipped, under CI"
fi
((failures == 0))
