# The programs' messages, read back from what they printed: the one parser of them for the
# scripts (tests/check_docs.py, doc/measure.sh). It reads one run's output, or many runs'
# separated by a \001 byte, and prints one line per message, in the order they were printed
# (with -v where=1, each after the number of the line it was on):
#
#   trace T I    thread T's "thread T suma a[I] / "
#   total T V    thread T's "* thread T suma= V"
#   main T V     main's " >> [THREAD : T] | FUERA DE PARALLEL --> SUMA = V"
#   element I V  quarnel's "a[I] = V"
#   text S       anything else: a line, or the part of one between two messages
#   end          the end of a run
#
# pindra's and solvet's messages carry no newline at their end, so a line may hold several.
BEGIN {
  RS = "\001"
  trace = "thread [0-9]+ suma a[[][0-9]+[]] / "
  total = "[*] thread -?[0-9]+ suma= -?[0-9]+"
  main = " >> [[]THREAD : -?[0-9]+[]] [|] FUERA DE PARALLEL --> SUMA = -?[0-9]+"
  any = trace "|" total "|" main
}

# The numbers in s, as "A B ...".
function numbers(s,   out) {
  out = ""
  while (match(s, /-?[0-9]+/)) {
    out = out (out == "" ? "" : " ") substr(s, RSTART, RLENGTH)
    s = substr(s, RSTART + RLENGTH)
  }
  return out
}

function emit(s) { print (where ? i " " : "") s }

function line(s,   n) {
  if (s ~ /^a[[][0-9]+[]] = -?[0-9]+$/) { emit("element " numbers(s)); return }
  while (s != "") {
    if (match(s, "^(" trace ")")) { n = RLENGTH; emit("trace " numbers(substr(s, 1, n))) }
    else if (match(s, "^" total)) { n = RLENGTH; emit("total " numbers(substr(s, 1, n))) }
    else if (match(s, "^" main)) { n = RLENGTH; emit("main " numbers(substr(s, 1, n))) }
    else { n = match(s, any) ? RSTART - 1 : length(s); emit("text " substr(s, 1, n)) }
    s = substr(s, n + 1)
  }
}

{
  n = split($0, lines, "\n")
  # The run's last newline, or the \n before \001, ends a line: it starts no empty one.
  if (n > 0 && lines[n] == "") n--
  for (i = 1; i <= n; i++) if (lines[i] != "") line(lines[i])
  emit("end")
}
