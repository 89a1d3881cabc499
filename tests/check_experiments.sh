#!/usr/bin/env bash
# Checks that every experiment is whole wherever it must be. An experiment is a folder
# doc/experiments/NN-name/: NN is its number on every page, its file `experiment` gives the rows
# doc/measure.sh measures of it (`measure: ...`), and
# its *.diff files are its edits. From the root of the clone: bash tests/check_experiments.sh
#
#   - each edit applies to today's sources, and each is measured by a row of its experiment;
#   - README.md has an entry "**N. " for each experiment and doc/answers.md a heading "## N. ",
#     and each names every edit of it by its path; neither has one for a number no folder has;
#   - each number heads a section ("### Experimento N: ") of one worksheet at least, every edit
#     is named on one at least, and whatever a worksheet carries its key carries too; no
#     worksheet or key has a number that no experiment has;
#   - each page of doc/measured/ was made from today's experiments (its stamp is what
#     `bash doc/measure.sh --plan` gives) and has every row that the plan lists.
set -uo pipefail
cd "$(dirname "$0")/.."
export LC_ALL=C
failures=0
fail() {
  echo "FAIL $*"
  failures=$((failures + 1))
}

# Each worksheet, and the key that answers it.
sheets=(doc/es/hoja-de-practicas.md doc/es/hoja-de-ampliacion.md)
declare -A key_of=([doc/es/hoja-de-practicas.md]=doc/es/solucionario.md
  [doc/es/hoja-de-ampliacion.md]=doc/es/solucionario-de-ampliacion.md)

for page in README.md doc/answers.md "${sheets[@]}" "${key_of[@]}"; do
  [[ -f $page ]] || fail "$page: missing: it must carry the experiments"
done

# The headings a page gives experiments: numbers for the English pages, letters for the Spanish.
numbers_in() { sed -nE "$2" "$1" 2>/dev/null | sort -u; }
letters_in() { sed -nE 's/^#{2,4} Experimento ([0-9]+)[:,] .*/\1/p' "$1" 2>/dev/null | sort -u; }

# Today's sources, for the edits to be tried on; `git apply --check` leaves them as they are.
sources=$(mktemp -d)
trap 'rm -rf "$sources"' EXIT
cp -r pindra solvet quarnel "$sources/"
either=$(printf ' or %s' "${sheets[@]}")
either=${either# or }
declare -A numbers letters
for dir in doc/experiments/*/; do
  dir=${dir%/}
  name=${dir##*/}
  file=$dir/experiment
  if [[ ! $name =~ ^([0-9][0-9])-[a-z0-9-]+$ || ! -f $file ]]; then
    fail "$dir: an experiment is a folder NN-name holding a file experiment"
    continue
  fi
  number=$((10#${BASH_REMATCH[1]}))
  letter=$number
  label="experiment $number"
  [[ -z ${numbers[$number]-} ]] || fail "$dir: number $number is also ${numbers[$number]}'s"
  [[ -z $letter || -z ${letters[$letter]-} ]] || fail "$dir: letter $letter is also ${letters[$letter]}'s"
  numbers[$number]=$dir
  [[ -n $letter ]] && letters[$letter]=$dir

  edits=()
  for diff in "$dir"/*.diff; do
    [[ -f $diff ]] || continue
    edits+=("$diff")
    git -C "$sources" apply --check "$PWD/$diff" 2>/dev/null || fail "$diff: $label: the edit does not apply to today's source"
    grep -q "^measure: .*edit=${diff##*/}\( \|$\)" "$file" || fail "$diff: $label: no 'measure:' line of $file measures it"
  done
  for word in $(grep -o 'edit=[^ ]*' "$file"); do
    [[ -f $dir/${word#edit=} ]] || fail "$file: $label: $word names no edit of the folder"
  done

  grep -qE "^\*\*$number\. " README.md || fail "README.md: $label has no entry '**$number. '"
  grep -qE "^## $number\. " doc/answers.md || fail "doc/answers.md: $label has no heading '## $number. '"
  for diff in "${edits[@]}"; do
    for page in README.md doc/answers.md; do
      grep -qF "$diff" "$page" || fail "$page: $label: $diff is not named"
    done
  done

  [[ -n $letter ]] || continue
  carried=0
  for sheet in "${sheets[@]}"; do
    key=${key_of[$sheet]}
    if letters_in "$sheet" | grep -qx "$letter"; then
      carried=1
      letters_in "$key" | grep -qx "$letter" || fail "$key: $label: no section '$letter.', which $sheet has"
    fi
  done
  ((carried)) || fail "$either: $label: neither has a section '$letter.'"
  for diff in "${edits[@]}"; do
    named=0
    for sheet in "${sheets[@]}"; do
      grep -qF "$diff" "$sheet" 2>/dev/null || continue
      named=1
      grep -qF "$diff" "${key_of[$sheet]}" || fail "${key_of[$sheet]}: $label: $diff is not named, though $sheet names it"
    done
    ((named)) || fail "$either: $label: neither names $diff"
  done
done

# Nothing carried that no experiment is.
for number in $(numbers_in README.md 's/^\*\*([0-9]+)\. .*/\1/p'); do
  [[ -n ${numbers[$number]-} ]] || fail "README.md: entry '**$number. ', but no experiment has that number"
done
for number in $(numbers_in doc/answers.md 's/^## ([0-9]+)\. .*/\1/p'); do
  [[ -n ${numbers[$number]-} ]] || fail "doc/answers.md: heading '## $number. ', but no experiment has that number"
done
for page in "${sheets[@]}" "${key_of[@]}"; do
  for letter in $(letters_in "$page"); do
    [[ -n ${letters[$letter]-} ]] || fail "$page: section '$letter.', but no experiment has that letter"
  done
done

# The measured pages: made from today's experiments, with every row.
plan=$(bash doc/measure.sh --plan) || fail "doc/measure.sh --plan failed"
stamp=$(sed -n '1s/^stamp //p' <<<"$plan")
for page in doc/measured/*.md; do
  made=$(grep -o '(stamp [0-9]*' "$page" | head -n 1)
  made=${made#(stamp }
  [[ $made == "$stamp" ]] ||
    fail "$page: made from other experiments than today's (stamp ${made:-none}, today's $stamp): make it again with doc/measure.sh"
  while IFS= read -r row; do
    fail "$page: no row for $row"
  done < <(tail -n +2 <<<"$plan" | awk -F ' [|] ' '
      FNR == NR { split($0, c, / *[|] */); have[c[2] "|" c[3] "|" c[5]] = have[c[2] "|" c[3] "|" c[5]] "|" c[4] "|"; next }
      { k = $1 "|" $2 "|" $4; if (index(have[k], "|" $3 "|") == 0) print $1 ", " $2 ", " $3 ", threads " $4 }' \
      <(grep '^| ' "$page" | sed 's/ \(g++\|clang++\) [0-9.]* / /') -)
done

((failures == 0)) && echo "every experiment is whole in every page"
((failures == 0))
