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
#               left out and "..." inside a line for any text. A second word relaxes that:
#                 any-order   the threads' messages may come in another order: each thread's
#                             indices, in order, and its total are compared, the rest as it stands;
#                 any-totals  as any-order, but the totals after "suma=" are not compared;
#                 example     one run's example, labelled so on the page: not run.
#   ```diff     an experiment's edit: the second word names its file, and the block is that file.
#   ```c++      lines of a source: the second word names it, and it has them, in that order.
# A console block needing a program that this machine lacks is skipped, and said so; under CI,
# where everything is installed, a skip is a failure.
set -uo pipefail
cd "$(dirname "$0")/.."

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

# The threads' messages of pindra and solvet, each on a line of its own and grouped by thread:
# what no run may change, whatever order the threads wrote in.
by_thread() {
  sed -E 's#/ #/\n#g; s#([0-9])(thread [0-9])#\1\n\2#g' |
    awk -v mode="$1" -v OFS='\t' 'NF == 0 { next }
      { kind = 3; t = 0 }
      /^thread [0-9]+ suma a\[/ { kind = 1; t = $2 }
      /^\* thread [0-9]+ suma= / { kind = 2; t = $3; if (mode == "any-totals") sub(/suma= .*/, "suma= ...") }
      { print kind, t, NR, $0 }' | sort -t $'\t' -k1,1n -k2,2n -k3,3n | cut -f 4-
}

# Does the text of file $2 match the lines of file $1, with its "..." lines and "..." in lines?
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
       function from(i, j,   r) {
         if ((i, j) in memo) return memo[i, j]
         if (i > ne) r = j > na
         else if (want[i] == "...") r = from(i + 1, j) || (j <= na && from(i, j + 1))
         else r = j <= na && line_ok(want[i], got[j]) && from(i + 1, j + 1)
         return memo[i, j] = r
       }
       FNR == NR { want[++ne] = $0; next }
       { got[++na] = $0 }
       END { exit !from(1, 1) }' "$1" "$2"
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
  example) return ;;
  "" | any-order | any-totals) ;;
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
  # Each command's output, shown and real, in files of its own: any-order groups them one by one.
  awk -v dir="$work" '/^\$ / { n++; print > (dir "/cmd" n); next } { print > (dir "/exp" n) }' "$body"
  expected=$work/expected actual=$work/actual
  : >"$expected"
  : >"$actual"
  while [[ -f $work/cmd$((n + 1)) ]]; do
    n=$((n + 1))
    cmd=$(cat "$work/cmd$n")
    touch "$work/exp$n"
    run_clean "$dir" "${cmd#\$ }" >"$work/out$n"
    if [[ -n $mode ]]; then
      by_thread "$mode" <"$work/exp$n" >"$work/exp$n.sorted"
      by_thread "$mode" <"$work/out$n" >"$work/out$n.sorted"
      mv "$work/exp$n.sorted" "$work/exp$n"
      mv "$work/out$n.sorted" "$work/out$n"
    fi
    cat "$work/cmd$n" "$work/exp$n" >>"$expected"
    cat "$work/cmd$n" "$work/out$n" >>"$actual"
    rm -f "$work/cmd$n" "$work/exp$n" "$work/out$n"
  done
  if ! matches "$expected" "$actual"; then
    fail "$page:$line: console block ${mode:+($mode) }differs from a real run:"
    diff -u --label shown --label "real run" "$expected" "$actual" | tail -n +3
  fi
}

check_page() {
  local page=$1 blocks="$work/blocks" n line info kind arg
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
      elif ! grep -v '^[[:space:]]*$' "$blocks/$n" | awk 'FNR == NR { want[++n] = $0; next }
             i < n && $0 == want[i + 1] { i++ } END { exit i < n }' - "$arg"; then
        fail "$page:$line: c++ block whose lines are not lines of $arg, in that order"
      fi
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
