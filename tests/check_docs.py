#!/usr/bin/env python3
"""Checks the docs against real runs, so that what they show cannot drift from what the programs
and the compilers print. From the root of the clone:

    python3 tests/check_docs.py README.md man/solvet.1.in ...   those pages
    python3 tests/check_docs.py --experiments                   the experiments, on every page

Every fenced block of a Markdown page says what it is in the word after its fence; a word not
listed here fails the page. In a manual page each .EX block of EXAMPLES is a console block, and a
comment line `.\\" WORD` right before it gives its second word.
  console   a transcript: each "$ " line is a command, the lines under it what it printed,
            standard output and error together. Each block runs from the root of a fresh copy of
            the clone (git's files, less what git ignores) whose build/hand/ holds the README's
            hand build (its first sh block that builds into build/hand/), with no OpenMP settings,
            messages in English and, for a manual page, build/hand/ on PATH. Its output must match
            line for line, where a line "..." stands for any lines left out and "..." inside a
            line for any text. A second word relaxes that, for the messages of pindra and solvet
            (tests/messages.awk reads them):
    any-order    the threads may come in another order: each thread's indices, in order, and its
                 one total are compared, and the phases that the loop's barrier gives: every
                 trace before every total, main's line last;
    any-totals   as any-order, but the totals after "suma=" are not compared;
    interleaved  as any-order, for a run without the loop's barrier: the block must show a total
                 among the traces, and the runs need not;
    example      one run, labelled so on the page: its lines are compared with every number and
                 address masked, and its command runs three times. What those runs print alike
                 the block must show as printed: each kind of value as a whole (the totals,
                 main's SUMA, the thread numbers on the total lines, the traced indices,
                 quarnel's elements), which of the totals and SUMA are equal, and which addresses
                 are equal; a kind the block shows otherwise fails only if 100 more runs print it
                 alike too. Thread numbers stay below the team that the command sets.
            Of the commands a block runs only clang++ and valgrind, which the pages call optional,
            and the Spanish messages of g++ may be missing: the block is then skipped, and said
            so (under CI, a failure). Any other command this machine lacks fails the page.
  diff      an experiment's edit: the second word names its file, and the block is that file.
  c++       lines of a source: the second word names it, and the block is one unbroken stretch
            of it, blank lines and lines that are only a comment aside.
  sh        commands, not run; "sh described" marks those for systems that cannot run here.
  powershell, bat   Windows commands, described.
A command of an sh or console block that builds build/hand/pindra, solvet or quarnel has the flags
of the README's line for it (with g++ or clang++), or a comment at its end that says how it
differs; every g++ or clang++ line of an sh block, but those described, is the text of a command
that a transcript runs, or a line of the README's hand build. Every relative path that a command
names, but under build/, and every relative link and #anchor lead to something in the fresh copy.
A failure names the page and the line that differs.

--experiments: an experiment is a folder doc/experiments/NN-name/: its number N, its *.diff files,
its edits, and its file `experiment`, the rows that doc/measure.sh measures of it ("measure: ..."):
  - each edit applies to today's sources, and a row of its experiment measures it;
  - README.md has an entry "**N. " and doc/answers.md a heading "## N. ", each naming every edit
    of N; the worksheets (doc/es/hoja-de-*.md) head a section "### Experimento N: " (or ", ") on
    one at least, in rising order, and name each edit on one at least; a worksheet's key has each
    of its sections and names the edits they name. A section names no other experiment's edit,
    and no page has a number that no folder has;
  - each page of doc/measured/ holds, for each experiment, the rows that `bash doc/measure.sh
    --plan` lists for every compiler its header names, under the stamp the plan gives today, and
    the check that doc/measure.sh wrote of those rows still holds: a hand edit fails.
"""
import os, re, shutil, subprocess, sys, tempfile
from pathlib import Path

os.chdir(Path(__file__).resolve().parent.parent)
os.environ["LC_ALL"] = "C"  # awk counts bytes, and sorts the same way everywhere
WORK = Path(tempfile.mkdtemp())
CLONE = WORK / "clone"
MODES = ("", "any-order", "any-totals", "interleaved", "example")
WORDS = ("console", "sh", "diff", "c++", "powershell", "bat")
OPTIONAL = ("clang++", "valgrind")
BUILTINS = set("echo cd export set test true false printf exit umask read".split())
count = {"failures": 0, "skips": 0, "runs": 0}
HAND = {}  # the README's hand build


def fail(where, why, *details):
    count["failures"] += 1
    print(f"FAIL {where}: {why}", *details, sep="\n    ")


def sh(cmd, cwd, man=False):
    """A command's output, standard error with it, run with none of the caller's settings."""
    path = (f"{cwd}/build/hand:" if man else "") + os.environ["PATH"]
    env = {"PATH": path, "HOME": str(WORK), "LANG": "C.UTF-8"}
    return subprocess.run(["bash", "-c", cmd], cwd=cwd, env=env, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, timeout=300).stdout.decode(errors="replace")


def blocks(page):
    """A page's blocks: (the line of its fence, its words, its lines as (line, text))."""
    text, out, open_ = Path(page).read_text().split("\n"), [], None
    if page.endswith(".1.in"):
        section = ""
        for n, line in enumerate(text, 1):
            section = line[4:] if line.startswith(".SH ") else section
            if section == "EXAMPLES" and line == ".EX":
                out.append(open_ := (n, ["console"] + text[n - 2][4:].split() * text[n - 2].startswith('.\\" '), []))
            elif line == ".EE":
                open_ = None
            elif open_:
                open_[2].append((n, re.sub(r"\\f[BIPR]|\\&", "", line).replace("\\-", "-").replace("\\(en", "–")))
        return out
    for n, line in enumerate(text, 1):
        m = re.match(r"( *)```(.*)", line)
        if m and not open_:
            open_, indent = (n, m.group(2).split(), []), len(m.group(1))
        elif m and not m.group(2).strip():
            out.append(open_)
            open_ = None
        elif open_:
            open_[2].append((n, line[min(indent, len(line) - len(line.lstrip(" "))):]))
    return out


def prose(page, code=False):
    """A page's lines outside its blocks, inline code blanked unless asked for: (line, text)."""
    inside = False
    for n, line in enumerate(Path(page).read_text().split("\n"), 1):
        inside ^= line.lstrip().startswith("```")
        if not inside and not line.lstrip().startswith("```"):
            yield n, line if code else re.sub(r"`[^`]*`", "``", line)


def anchors(page):
    """The anchors that GitHub gives a page's headings."""
    seen, out = {}, set()
    for _, line in prose(page, code=True):
        if re.match(r"#+ ", line):
            s = re.sub(r"[^\w\- ]", "", re.sub(r"^#+ +", "", line).lower()).replace(" ", "-")
            out.add(f"{s}-{seen[s]}" if s in seen else s)
            seen[s] = seen.get(s, 0) + 1
    return out


def unquoted(command):
    """A command line with its quoted text emptied."""
    return re.sub(r"'[^']*'|\"[^\"]*\"", "''", command)


def commands_in(line):
    """The programs that a command line starts."""
    s = re.sub(r"\d*[<>]+&?\d*", " ", re.split(r"\s#", unquoted(line))[0])
    for part in re.split(r"\|\||&&|[|;&()`]|\$\(", s):
        words = part.split()
        while words and (re.match(r"\w+=", words[0]) or words[0] in ("do", "then", "!")):
            words.pop(0)
        if words and words[0] not in ("for", "done", "fi", "if", "while"):
            yield words[0]


def skipped(page, cmds, path):
    """Why a block cannot run here: a missing optional tool, or "fails" for any other."""
    why = []
    for line, cmd in cmds:
        for word in commands_in(cmd):
            if "/" in word or word in BUILTINS or shutil.which(word, path=path):
                continue
            if word not in OPTIONAL:
                fail(f"{page}:{line}", f"runs {word}, which this machine lacks; only {' and '.join(OPTIONAL)} may")
                return "fails"
            why.append(f"no {word}")
        if m := re.match(r"LANG=((\w+)_\S+)", cmd):
            charmap = subprocess.run(["locale", "charmap"], env={"LC_ALL": m[1]}, capture_output=True, text=True)
            if charmap.stdout.strip() != "UTF-8":
                why.append(f"no {m[1]} locale")
            if not list(Path("/usr/share/locale", m[2], "LC_MESSAGES").glob("gcc*.mo")):
                why.append(f"no {m[2]} messages for g++")
    return ", ".join(why)


def parse(text):
    """An output's messages, read by tests/messages.awk: (the line it was on, kind, the rest)."""
    out = subprocess.run(["awk", "-v", "where=1", "-f", "tests/messages.awk"], input=text.encode(),
                         stdout=subprocess.PIPE).stdout.decode(errors="replace")
    return [(int(n), kind, rest[0] if rest else "") for n, kind, *rest in (s.split(" ", 2) for s in out.splitlines())]


def canon(text, mode):
    """An output as the second word compares it: from the messages, each run (up to main's line)
    as a line per thread, main's line, the phases and the other lines, each with its line."""
    out, run = [], {}

    def flush():
        for t in sorted(run.get("threads", {}), key=int):
            line, traces, totals = run["threads"][t]
            out.append((line, f"thread {t}:" + "".join(f" a[{i}]" for i in traces) + "," * bool(traces and totals)
                        + "".join(f" total {v}" for v in totals)))
        out.extend(run[k] for k in ("main", "phase") if k in run and (k, mode) != ("phase", "interleaved"))
        out.extend(run.get("others", []))
        run.clear()

    for line, kind, rest in parse(text):
        f = rest.split()
        if kind in ("trace", "total"):
            thread = run.setdefault("threads", {}).setdefault(f[0], (line, [], []))
            if kind == "trace":
                thread[1].append(f[1])
                if "phase" in run:
                    run["phase"] = (run["phase"][0], "(a total among the traces)")
            else:
                thread[2].append("..." if mode == "any-totals" else f[1])
                run.setdefault("phase", (line, "(every trace before every total)"))
        elif kind == "main":
            run["main"] = (line, f"main: THREAD {f[0]}, SUMA = {f[1]}")
            flush()
        elif kind in ("element", "text"):
            run.setdefault("others", []).append((line, f"a[{f[0]}] = {f[1]}" if kind == "element" else rest))
        else:
            flush()
    return out


def masked(lines):
    return [(n, " ".join(re.sub(r"-?\d+(\.\d+)?", "#", re.sub(r"0x[0-9a-fA-F]+", "#", s)).split())) for n, s in lines]


def facts(text):
    """What an example compares of an output, and the line each kind is first on."""
    kinds, equal, where, last = {}, {}, {}, ""
    for line, kind, rest in parse(text):
        w = rest.split()
        named = {"trace": {"traced indices": w[1:]}, "main": {"main's SUMA": w[1:]}, "element": {"elements": w},
                 "total": {"totals": w[1:], "thread numbers on the total lines": w[:1]}}.get(kind, {})
        if kind in ("total", "main"):
            named["equal totals and SUMA"] = equal.setdefault(("value", w[1]), [])
            named["equal totals and SUMA"].append(kind)
        for word, address in re.findall(r"(\S*?)\s*(0x[0-9a-fA-F]+)", rest if kind == "text" else ""):
            named["equal addresses"] = equal.setdefault(("address", address), [])
            named["equal addresses"].append(f"{last} {word}")
        for key, value in named.items():
            where.setdefault(key, line)
            if not key.startswith("equal"):
                kinds.setdefault(key, []).append(" ".join(value))
        last = last if kind == "text" else kind
    out = {k: " ".join(sorted(v, key=lambda s: (len(s), s))) for k, v in kinds.items()}
    for key, kind in (("equal totals and SUMA", "value"), ("equal addresses", "address")):
        if groups := sorted(" + ".join(sorted(v)) for (k, _), v in equal.items() if k == kind):
            out[key] = " | ".join(groups)
    return out, where


def check_example(page, at, cmd, shown, first, again):
    """The facts of an example's output against those of its command's runs."""
    text = "\n".join(s for _, s in shown) + "\n"
    want, where = facts(text)
    team = set(re.findall(r"OMP_NUM_THREADS=(\d+)", cmd))
    for line, kind, rest in parse(text) if len(team) == 1 else []:
        if kind in ("trace", "total") and int(rest.split()[0]) >= int(*team):
            fail(f"{page}:{shown[line - 1][0]}", f"thread {rest.split()[0]} in a team of {int(*team)}")
    seen = [facts(first)[0]]
    if not want and not seen[0]:
        return
    seen += [facts(again())[0] for _ in range(2)]
    for key in sorted(set(want) | set(seen[0])):
        values, n = {s.get(key) for s in seen}, len(seen)
        while len(values) == 1 and want.get(key) not in values and n < len(seen) + 100:
            values.add(facts(again())[0].get(key))
            n += 1
        if len(values) == 1 and want.get(key) not in values:
            fail(f"{page}:{shown[where[key] - 1][0] if key in where else at}", f"example shows {key} as {want.get(key) or 'nothing'}, "
                 f"but {n} runs printed {values.pop() or 'nothing'}")


def matches(shown, real):
    """None if the real lines match the shown ones, with their "..."; else the first shown line
    that no run of real lines can meet, and the real lines there."""
    def ok(e, a):
        return re.fullmatch(".*".join(map(re.escape, e.split("..."))), a, re.S) is not None
    reach, far, at = {(0, 0)}, 0, 0
    for i in range(len(shown) + 1):
        for j in range(len(real) + 1):
            if (i, j) not in reach:
                continue
            far, at = (i, j) if i > far else (far, at)
            if i < len(shown) and shown[i][1] == "...":
                reach |= {(i + 1, j), (i, min(j + 1, len(real)))}
            elif i < len(shown) and j < len(real) and ok(shown[i][1], real[j]):
                reach.add((i + 1, j + 1))
    if (len(shown), len(real)) in reach:
        return None
    near = real[at:at + 3] or ["(its end)"]
    if far < len(shown) and far and shown[far - 1][1] == "...":  # the real lines that hold its longest part
        near = [r for r in real[at:] if max(shown[far][1].split("..."), key=len) in r][:3] or near
    line, text = shown[far] if far < len(shown) else (shown[-1][0], "(its end)")
    return line, [f"shown: {text}"] + [f"real:  {r}" for r in near]


def check_console(page, line, mode, lines):
    if mode not in MODES:
        return fail(f"{page}:{line}", f"console block with an unknown second word '{mode}'")
    if not lines or not lines[0][1].startswith("$ "):
        return fail(f"{page}:{line}", 'console block that does not start with a "$ " command')
    man = page.endswith(".1.in")
    why = skipped(page, [(n, s[2:]) for n, s in lines if s.startswith("$ ")], f"{CLONE}/build/hand:{os.environ['PATH']}" if man else None)
    if why:
        count["skips"] += why != "fails"
        return print(f"skip {page}:{line}: {why}") if why != "fails" else None
    count["runs"] += 1
    sh(f"git reset -q --hard && git clean -qfdx && mkdir build && cp -a {WORK}/hand build/", CLONE)  # as it was after the hand build
    shown_all, real_all, k = [], [], 0
    while k < len(lines):
        at, cmd, k = lines[k][0], lines[k][1][2:], k + 1
        shown = []
        while k < len(lines) and not lines[k][1].startswith("$ "):
            shown, k = shown + [lines[k]], k + 1
        real = sh(cmd, CLONE, man)
        if mode == "example":
            check_example(page, at, cmd, shown, real, lambda: sh(cmd, CLONE, man))
            shown, real = masked(shown), [s for _, s in masked(enumerate(real.splitlines()))]
        elif mode:
            text = "\n".join(s for _, s in shown) + "\n"
            if mode == "interleaved" and any("(every trace" in s for _, s in canon(text, "any-order")):
                return fail(f"{page}:{at}", "console block labelled interleaved whose output shows every total after every trace")
            shown = [(shown[min(n, len(shown)) - 1][0], s) for n, s in canon(text, mode)]
            real = [s for _, s in canon(real, mode)]
        else:
            real = real.splitlines()
        shown_all += [(at, "$ " + cmd)] + shown
        real_all += ["$ " + cmd] + real
    if where := matches(shown_all, real_all):
        fail(f"{page}:{where[0]}", f"console block {mode + ' ' if mode else ''}differs from a real run, as compared:", *where[1])


def fresh_copy():
    """Makes the fresh copy of the clone; the README's hand build: its lines and each program's flags."""
    if subprocess.run(["git", "rev-parse"], capture_output=True).returncode == 0:
        files = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"], capture_output=True).stdout
    else:  # a copy without its history, such as CI's Debian 13 root
        files = subprocess.run("find . -path ./build -prune -o ! -type d -print0", shell=True, capture_output=True).stdout
    CLONE.mkdir()
    subprocess.run(["tar", "-c", "--null", "--ignore-failed-read", "-T", "-"], input=files, stdout=open(WORK / "c.tar", "wb"), stderr=subprocess.DEVNULL)
    subprocess.run(["tar", "-x", "-f", WORK / "c.tar", "-C", CLONE])
    sh("git init -q && git add -A && git -c user.name=docs -c user.email=docs@localhost commit -q -m clone", CLONE)
    HAND["at"], lines = next((n, lines) for n, words, lines in blocks("README.md")
                             if words == ["sh"] and any(re.match(r"g\+\+ .* -o build/hand/", s) for _, s in lines))
    HAND["lines"] = [s for _, s in lines]
    HAND["flags"] = {m[1]: s.split()[1:] for s in HAND["lines"] if (m := re.search(r" -o build/hand/(\w+)$", s))}


def broken():
    """What went wrong with the README's hand build, built in the fresh copy when first needed."""
    if "problem" not in HAND:
        out = sh("set -e\n" + "\n".join(HAND["lines"]) + f"\ncp -a build/hand {WORK}", CLONE)
        out += "".join(f"\nno build/hand/{p}" for p in ("pindra", "solvet", "quarnel") if not (CLONE / "build/hand" / p).exists())
        HAND["problem"] = out.strip()
    return HAND["problem"]


def check_commands(page, fence, line, cmd, transcripts):
    uncommented = re.split(r"\s#", unquoted(cmd))[0]
    words = uncommented.split()
    while words and re.match(r"\w+=", words[0]):
        words.pop(0)
    for word in re.split(r"[\s;|&()<>]+", uncommented):
        word = re.sub(r"^\w+=", "", word)
        if re.fullmatch(r"(\./)?[\w.+-]+(/[\w.+-]+)+/?", word) and not re.match(r"(\./)?build/|\.\./", word) and not (CLONE / word).exists():
            fail(f"{page}:{line}", f"{word} is not in a fresh clone")
    if not words or words[0] not in ("g++", "clang++"):
        return
    target = re.fullmatch(r"build/hand/(pindra|solvet|quarnel)", words[words.index("-o") + 1] if "-o" in words[:-1] else "")
    flags = HAND["flags"][target[1]] if target else []
    if target and words[1:] != flags and not re.search(r"\s#", unquoted(cmd)) and fence != ["sh", "described"] and not broken():
        differs = [f"without {w}" for w in flags if w not in words] + [f"with {w}" for w in words[1:] if w not in flags]
        fail(f"{page}:{line}", f"builds {target[0]} unlike the README's line for it ({', '.join(differs) or 'in another order'}): "
             "a variant says how in a comment at its end")
    if fence == ["sh"] and cmd not in transcripts and cmd not in HAND["lines"]:
        fail(f"{page}:{line}", f"build line that no transcript runs, nor the README's hand build: {cmd}")


def check_page(page, transcripts):
    for n, line in prose(page) if page.endswith(".md") else []:
        for target in re.findall(r"\]\(([^)\s]+)\)", line):
            path, _, anchor = target.partition("#")
            path = os.path.normpath(os.path.join(os.path.dirname(page), path)) if path else page
            if re.match(r"[a-z]+:", target):
                continue
            if path.startswith("..") or not (CLONE / path).exists():
                fail(f"{page}:{n}", f"link to {target}, which is not in a fresh clone")
            elif anchor and anchor not in anchors(CLONE / path):
                fail(f"{page}:{n}", f"link to {target}, but {path} has no heading with that anchor")
    for line, words, lines in blocks(page):
        kind, arg = (words + ["", ""])[:2]
        if kind not in WORDS:
            fail(f"{page}:{line}", f"a block whose first word is not one of {', '.join(WORDS)}: say what it is")
        if kind in ("sh", "console"):
            for n, s in lines:
                if kind == "sh" and s.strip() and not s.lstrip().startswith("#") or s.startswith("$ "):
                    check_commands(page, words, n, s.strip().removeprefix("$ "), transcripts)
        if kind == "console" and not broken():
            check_console(page, line, arg, lines)
        elif kind in ("diff", "c++") and not (arg and (CLONE / arg).is_file()):
            fail(f"{page}:{line}", f"{kind} block that names no file of a fresh clone")
        elif kind == "diff" and [s for _, s in lines] != (want := (CLONE / arg).read_text().split("\n")[:-1]):
            where = matches(lines, want) or (line, [])
            fail(f"{page}:{where[0]}", f"diff block is not {arg}:", *where[1])
        elif kind == "c++":
            def kept(text): return [s for s in text if s.strip() and not s.strip().startswith("//")]
            want, got = kept(s for _, s in lines), kept((CLONE / arg).read_text().split("\n"))
            if not any(got[i:i + len(want)] == want for i in range(len(got) - len(want) + 1)):
                fail(f"{page}:{line}", f"c++ block that is not one stretch of {arg} (blank and comment lines aside)")


def sections(page, pattern):
    """A page's sections of experiments, each from its heading (or entry) to the next heading:
    (its number, its line, its text)."""
    out, prose_lines = [], {n for n, _ in prose(page)}
    for n, line in enumerate(Path(page).read_text().split("\n"), 1):
        if n in prose_lines and ((m := re.match(pattern, line)) or line.startswith("#")):
            out.append((int(m[1]), n, []) if m else (None, n, []))
        if out:
            out[-1][2].append(line)
    return [(number, n, "\n".join(text)) for number, n, text in out if number is not None]


def cksum(text):
    return subprocess.run(["cksum"], input=text.encode(), capture_output=True).stdout.split()[0].decode()


def check_measured(page, plan):
    text = Path(page).read_text()
    compilers = re.findall(r"\b(g\+\+|clang\+\+) [\d.]+ \(`", text.split("<!-- ")[0])
    made = {}
    for m in re.finditer(r"(?m)^<!-- (\S+): stamp (\d+), check (\d+) -->\n((?:(?!<!-- ).*\n?)*)", text):
        line, body = text[:m.start()].count("\n") + 1, m[4].rstrip("\n") + "\n"
        made[m[1]] = {tuple(c.strip() for c in row.split("|")[1:4]) for row in body.split("\n") if row.startswith("| ") and "---" not in row}
        if m[1] not in plan:
            fail(f"{page}:{line}", f"rows of {m[1]}, which no experiment is")
        elif m[2] != plan[m[1]][0]:
            fail(f"{page}:{line}", f"the rows of {m[1]} were made from another {m[1]} than today's: make them again")
        elif m[3] != cksum(f"stamp {m[2]}\n{body}"):
            fail(f"{page}:{line}", f"the rows of {m[1]} were edited by hand: make them again")
    for key, (stamp, rows) in plan.items():
        if key not in made:
            fail(page, f"no rows of {key}: make them")
            continue
        have = {(shown, build.split()[0], " ".join(build.split()[2:]), threads) for shown, build, threads in made[key]}
        for shown, only, options, threads in rows:
            for cxx in compilers:
                if only in ("-", cxx) and (shown, cxx, options, threads) not in have:
                    fail(page, f"{key}: no row for {shown}, {cxx} {options}, threads {threads}")


def check_experiments():
    sources, numbers = WORK / "sources", {}
    shutil.copytree(".", sources, ignore=lambda d, names: [n for n in names if d == "." and n not in ("pindra", "solvet", "quarnel")])
    for folder in sorted(Path("doc/experiments").iterdir()):
        m, file = re.fullmatch(r"(\d\d)-[a-z0-9-]+", folder.name), folder / "experiment"
        if not m or not file.is_file():
            fail(folder, "an experiment is a folder NN-name holding a file experiment")
            continue
        rows, edits = file.read_text(), sorted(str(e) for e in folder.glob("*.diff"))
        numbers[int(m[1])] = edits
        for edit in edits:
            if subprocess.run(["git", "-C", sources, "apply", "--check", Path(edit).resolve()], capture_output=True).returncode:
                fail(edit, "the edit does not apply to today's source")
            if not re.search(rf"^measure: .*edit={re.escape(Path(edit).name)}( |$)", rows, re.M):
                fail(edit, f"no 'measure:' line of {file} measures it")
        for name in re.findall(r"edit=(\S+)", rows):
            if not (folder / name).is_file():
                fail(file, f"edit={name} names no edit of the folder")
    sheets = {"doc/es/hoja-de-practicas.md": "doc/es/solucionario.md", "doc/es/hoja-de-ampliacion.md": "doc/es/solucionario-de-ampliacion.md"}
    found = {}
    for page, pattern in [("README.md", r"\*\*(\d+)\. "), ("doc/answers.md", r"## (\d+)\. ")] + [(p, r"#{2,4} Experimento (\d+)[:,] ") for p in [*sheets, *sheets.values()]]:
        found[page] = sections(page, pattern) if Path(page).is_file() else fail(page, "missing: it must carry the experiments") or []
        for number, line, text in found[page]:
            if number not in numbers:
                fail(f"{page}:{line}", f"experiment {number}, but no folder has that number")
            for other in re.findall(r"doc/experiments/(\d\d)-[\w-]+/[\w.-]+\.diff", text):
                if int(other) != number:
                    fail(f"{page}:{line}", f"the section of experiment {number} names an edit of experiment {int(other)}")
        if page in sheets and [s[0] for s in found[page]] != sorted(s[0] for s in found[page]):
            fail(page, "its experiments do not come in rising order")
    named = lambda page, number: "\n".join(text for n, _, text in found[page] if n == number)
    for number, edits in numbers.items():
        for page, what in (("README.md", f"entry '**{number}. '"), ("doc/answers.md", f"heading '## {number}. '")):
            if not any(n == number for n, _, _ in found[page]):
                fail(page, f"experiment {number} has no {what}")
            for edit in edits:
                if edit not in named(page, number):
                    fail(page, f"experiment {number}: its section does not name {edit}")
        if not any(n == number for sheet in sheets for n, _, _ in found[sheet]):
            fail(" or ".join(sheets), f"experiment {number}: neither has a section '### Experimento {number}: '")
        for edit in edits:
            if not any(edit in named(sheet, number) for sheet in sheets):
                fail(" or ".join(sheets), f"experiment {number}: neither names {edit} in its section")
        for sheet, key in sheets.items():
            for n, line, text in found[sheet]:
                if n == number and not any(k == number for k, _, _ in found[key]):
                    fail(key, f"no section of experiment {number}, which {sheet}:{line} has")
                for edit in (e for e in edits if n == number and e in text and e not in named(key, number)):
                    fail(key, f"experiment {number}: its section does not name {edit}, which {sheet}:{line} names")
    plan, key = {}, None
    for line in subprocess.run(["bash", "doc/measure.sh", "--plan"], capture_output=True, text=True, check=True).stdout.splitlines():
        if m := re.fullmatch(r"block (\S+) stamp (\d+)", line):
            key = m[1]
            plan[key] = (m[2], [])
        else:
            plan[key][1].append(tuple(c.strip() for c in line.split("|")[1:]))
    for page in sorted(Path("doc/measured").glob("*.md")):
        check_measured(str(page), plan)


def main(pages):
    if pages == ["--experiments"]:
        check_experiments()
    else:
        fresh_copy()
        every = ["README.md", *map(str, sorted(Path("doc").glob("**/*.md"))), *map(str, sorted(Path("man").glob("*.1.in")))]
        transcripts = {s[2:] for page in every for _, words, lines in blocks(page) if words[:1] == ["console"]
                       for _, s in lines if s.startswith("$ ")}
        for page in pages:
            if page == "README.md" and broken():
                fail(f"README.md:{HAND['at']}", "its hand build does not build the three programs without a word:", *HAND["lines"], "", *broken().splitlines())
            check_page(page, transcripts)
            if HAND.get("problem") and page != "README.md":
                print(f"README.md's hand build is broken (its own test says how): {page}'s transcripts and builds are not checked")
        print(f"{count['runs']} transcripts run, {count['skips']} skipped, {count['failures']} failures")
        if count["skips"] and re.fullmatch(r"1|on|yes|true|y", os.environ.get("CI", ""), re.I):
            fail("CI", f"{count['skips']} blocks skipped, where everything is installed")
    shutil.rmtree(WORK)
    return 1 if count["failures"] else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
