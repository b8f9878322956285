#!/usr/bin/env python3
"""A small, deterministic mutation-testing probe for the C++ code of the project.

    mutate.py SRC_CHECKOUT BUILD_DIR [--count N] [--seed S]
              [--folders platform,fileops,engine,settings] [--gui] [--timeout SEC] [--jobs 1]
              [--list]

scripts/mutate runs it on a fresh clone of the committed tree. With --gui (for samples of
app/ and ui/) the desktop program's tests (mirova_gui_tests, mirova_ui_tests) run too. After the
first full build, a mutant rebuilds only the test executables that run.

SRC_CHECKOUT is a git checkout that the probe may edit (use a clone, never the main work
tree): every mutant is written into it and the file is restored byte for byte afterwards,
checked with `git diff --quiet`. The probe refuses to start on a checkout with changes.

1. It configures SRC_CHECKOUT into BUILD_DIR once (`cmake -S SRC -B BUILD -G Ninja`, the
   project's default build type), builds it (`cmake --build BUILD -j2`) and runs the core tests
   once on the unmutated code; it stops if they fail.
2. It lists the mutation sites of the product .cpp files of the chosen folders (never tests/
   or bench/), sorted by (file, line, column, operator), and picks N of them with
   random.Random(seed).sample, so the same code and seed always give the same mutants:
     rel    <  <->  <=,  >  <->  >=,  ==  <->  !=   (not template brackets, << >> -> or operator<)
     logic  &&  <->  ||                             (not rvalue references)
     arith  x + 1  <->  x - 1                       (binary + and - whose right operand is 1)
     bool   return true  <->  return false
     not    !cond  ->  cond                         (a unary !, which always negates a condition)
     const  k  ->  k+1                              (integer literals k > 1, same base)
   Comments, string and character literals and preprocessor lines are never touched.
3. Each mutant is applied, the tree rebuilt with `cmake --build BUILD -j2` (a build failure makes
   the mutant "invalid") and the core test binaries run one after the other with
   --gtest_fail_fast within the per-mutant time limit: "killed" if a test fails, crashes or
   runs out of time, "survived" if all pass. The core test binaries are the GoogleTest
   executables that CTest runs from BUILD/tests/{platform,fileops,settings,engine,app} (found
   with `ctest --show-only=json-v1`); the GUI tests (mirova_gui_tests, mirova_ui_tests), the
   soak test, the package test and the fuzz targets are left out. Running each binary once,
   rather than one process per test case as CTest does, makes a mutant's test run several
   times faster; the unmutated run checks that the binaries pass that way.
4. One line per mutant, then `mutation score: K killed of V valid (P%), I invalid, seed S,
   N sampled` as the last line.

--list prints the candidate sites and the sample, and changes nothing.
"""
import argparse
import json
import os
import random
import re
import signal
import subprocess
import sys
import time

DEFAULT_FOLDERS = "platform,fileops,engine,settings"
# Test binaries below BUILD/tests that never run for a mutant: the desktop-program dialogs,
# the Qt widgets, the convergence soak. The package test and the fuzz targets are no
# GoogleTest executables and are left out by that alone.
EXCLUDED_BINARIES = re.compile(r"^mirova_(gui|ui|soak)_tests$|fuzz|package")
EXCLUDED_WITH_GUI = re.compile(r"^mirova_soak_tests$|fuzz|package")
CORE_TEST_FOLDERS = ("platform", "fileops", "settings", "engine", "app", "ui")

# --------------------------------------------------------------------------------------------
# A C++ lexer good enough to find mutation sites: it drops comments and preprocessor lines and
# keeps string and character literals as single tokens.

PUNCTUATORS = sorted(
    """<=> <<= >>= ... ->* -> ++ -- << >> <= >= == != && || += -= *= /= %= &= |= ^= :: .*
    { } [ ] ( ) ; : ? . , + - * / % ^ & | ~ ! = < > #""".split(),
    key=len, reverse=True)
STRING_PREFIXES = ("u8R", "uR", "UR", "LR", "R", "u8", "u", "U", "L")
KEYWORDS = {
    "alignas", "alignof", "auto", "bool", "break", "case", "catch", "char", "char8_t", "char16_t",
    "char32_t", "class", "co_await", "co_return", "co_yield", "concept", "const", "consteval",
    "constexpr", "constinit", "const_cast", "continue", "decltype", "default", "delete", "do",
    "double", "dynamic_cast", "else", "enum", "explicit", "export", "extern", "false", "float",
    "for", "friend", "goto", "if", "inline", "int", "long", "mutable", "namespace", "new",
    "noexcept", "nullptr", "operator", "private", "protected", "public", "register",
    "reinterpret_cast", "requires", "return", "short", "signed", "sizeof", "static",
    "static_assert", "static_cast", "struct", "switch", "template", "this", "thread_local",
    "throw", "true", "try", "typedef", "typeid", "typename", "union", "unsigned", "using",
    "virtual", "void", "volatile", "wchar_t", "while"}
# Keywords that end an operand: `this < x`, `true == y`.
VALUE_KEYWORDS = {"this", "true", "false", "nullptr"}
TYPE_KEYWORDS = {"auto", "bool", "char", "char8_t", "char16_t", "char32_t", "double", "float",
                 "int", "long", "short", "signed", "unsigned", "void", "wchar_t", "const",
                 "volatile", "typename", "class", "struct"}


class Token:
    __slots__ = ("kind", "text", "start", "end", "line", "col")

    def __init__(self, kind, text, start, end, line, col):
        self.kind, self.text, self.start, self.end = kind, text, start, end
        self.line, self.col = line, col

    def __repr__(self):
        return f"{self.kind}:{self.text}@{self.line}:{self.col}"


def tokenize(src):
    tokens = []
    i, n = 0, len(src)
    line, line_start = 1, 0
    at_line_start = True  # only blanks since the last newline

    def newlines(a, b):
        nonlocal line, line_start
        k = src.find("\n", a, b)
        while k != -1:
            line += 1
            line_start = k + 1
            k = src.find("\n", k + 1, b)

    def quoted(j, quote):  # index after the literal that opens at src[j] == quote
        j += 1
        while j < n and src[j] != quote:
            if src[j] == "\\":
                j += 1
            elif src[j] == "\n":  # an unterminated literal: stop at the line's end
                return j
            j += 1
        return j + 1

    while i < n:
        c = src[i]
        if c == "\n":
            newlines(i, i + 1)
            at_line_start = True
            i += 1
            continue
        if c in " \t\r\f\v":
            i += 1
            continue
        if src.startswith("//", i):
            j = src.find("\n", i)
            i = n if j == -1 else j
            continue
        if src.startswith("/*", i):
            j = src.find("*/", i + 2)
            j = n if j == -1 else j + 2
            newlines(i, j)
            i = j
            continue
        if c == "#" and at_line_start:  # a preprocessor line, with its continuations
            j = i
            while True:
                k = src.find("\n", j)
                if k == -1:
                    j = n
                    break
                if src[j:k].rstrip("\r").endswith("\\"):
                    j = k + 1
                    continue
                # a block comment that starts on the directive line may run on
                open_comment = src.rfind("/*", j, k)
                if open_comment != -1 and src.find("*/", open_comment, k) == -1:
                    end = src.find("*/", k)
                    j = n if end == -1 else end + 2
                    continue
                j = k
                break
            newlines(i, j)
            i = j
            continue
        at_line_start = False
        start, col = i, i - line_start + 1
        if c.isalpha() or c == "_":
            j = i + 1
            while j < n and (src[j].isalnum() or src[j] == "_"):
                j += 1
            word = src[i:j]
            if j < n and src[j] in "\"'" and word in STRING_PREFIXES:
                if word.endswith("R") and src[j] == '"':  # raw string R"delim( ... )delim"
                    paren = src.find("(", j)
                    delim = src[j + 1:paren]
                    close = src.find(")" + delim + '"', paren)
                    end = n if close == -1 else close + len(delim) + 2
                else:
                    end = quoted(j, src[j])
                tokens.append(Token("str", src[i:end], start, end, line, col))
                newlines(i, end)
                i = end
                continue
            tokens.append(Token("id", word, start, j, line, col))
            i = j
            continue
        if c.isdigit() or (c == "." and i + 1 < n and src[i + 1].isdigit()):
            j = i + 1
            while j < n:
                d = src[j]
                if d in "+-" and src[j - 1] in "eEpP" and not src[i:j].lower().startswith("0x"):
                    j += 1
                elif d in "+-" and src[j - 1] in "pP":
                    j += 1
                elif d.isalnum() or d in "_." or (d == "'" and j + 1 < n and src[j + 1].isalnum()):
                    j += 1
                else:
                    break
            tokens.append(Token("num", src[i:j], start, j, line, col))
            i = j
            continue
        if c in "\"'":
            end = quoted(i, c)
            tokens.append(Token("str" if c == '"' else "chr", src[i:end], start, end, line, col))
            i = end
            continue
        for p in PUNCTUATORS:
            if src.startswith(p, i):
                tokens.append(Token("punct", p, start, i + len(p), line, col))
                i += len(p)
                break
        else:
            tokens.append(Token("other", c, start, i + 1, line, col))
            i += 1
    return tokens


# --------------------------------------------------------------------------------------------
# Template angle brackets.

def template_brackets(tokens):
    """Indexes of the < and > (and >>) tokens that are template brackets, not comparisons."""
    marked = set()
    n = len(tokens)
    stoppers = {";", "{", "}", "&&", "||", "?", "=", "==", "!=", "<=", ">=", "+=", "-=", "*=",
                "/=", "|=", "&=", "<<", "return"}
    for i, t in enumerate(tokens):
        if t.text != "<" or t.kind != "punct" or i == 0:
            continue
        prev = tokens[i - 1]
        forced = prev.text == "template"
        if not forced and not (prev.kind == "id" and (prev.text not in KEYWORDS
                                                     or prev.text.endswith("_cast"))):
            continue  # `) < x`, `3 < x`: a comparison
        depth, j, closers = 1, i + 1, [i]
        ok = False
        while j < n:
            x = tokens[j].text
            if tokens[j].kind == "punct":
                if x in ("(", "["):  # skip a balanced group: f<decltype(a < b)>
                    close = {"(": ")", "[": "]"}[x]
                    level = 0
                    while j < n:
                        if tokens[j].text == x:
                            level += 1
                        elif tokens[j].text == close:
                            level -= 1
                            if level == 0:
                                break
                        elif tokens[j].text in (";", "{", "}") and not forced:
                            break
                        j += 1
                    if j >= n or tokens[j].text != close:
                        break
                elif x in (")", "]"):
                    break  # `(a < b)`: the group closes before any >
                elif x == "<":
                    depth += 1
                    closers.append(j)
                elif x in (">", ">>"):
                    depth -= 1 if x == ">" else 2
                    closers.append(j)
                    if depth <= 0:
                        ok = True
                        break
                elif x in stoppers and not (forced and x == "="):
                    break
            elif x == "return":
                break
            j += 1
        if ok:
            marked.update(closers)
    return marked


# --------------------------------------------------------------------------------------------
# Mutation sites.

REL_SWAP = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="}


def integer_value(text):
    """(value, base prefix, digits case, suffix) of an integer literal, or None for a float."""
    body = text.replace("'", "")
    m = re.fullmatch(r"(0[xX])([0-9a-fA-F]+)([uUlLzZ]*)", body)
    if m:
        return int(m.group(2), 16), m.group(1), m.group(2), m.group(3)
    m = re.fullmatch(r"(0[bB])([01]+)([uUlLzZ]*)", body)
    if m:
        return int(m.group(2), 2), m.group(1), m.group(2), m.group(3)
    m = re.fullmatch(r"(0)([0-7]+)([uUlLzZ]*)", body)
    if m:
        return int(m.group(2), 8), "0", m.group(2), m.group(3)
    m = re.fullmatch(r"([0-9]+)([uUlLzZ]*)", body)
    if m:
        return int(m.group(1)), "", m.group(1), m.group(2)
    return None


def integer_text(value, prefix, digits, suffix):
    if prefix.lower() == "0x":
        out = format(value, "x")
        return prefix + (out.upper() if digits.isupper() else out) + suffix
    if prefix.lower() == "0b":
        return prefix + format(value, "b") + suffix
    if prefix == "0":
        return "0" + format(value, "o") + suffix
    return str(value) + suffix


def is_operand_end(t):
    return (t.kind in ("id", "num", "str", "chr") and (t.kind != "id" or t.text not in KEYWORDS
                                                        or t.text in VALUE_KEYWORDS)) \
        or t.text in (")", "]")


def find_sites(path, src):
    """Mutation candidates of one file: dicts with line, col, op, start, end, before, after."""
    tokens = tokenize(src)
    templ = template_brackets(tokens)
    sites = []

    def add(op, t, after, start=None, end=None):
        start = t.start if start is None else start
        end = t.end if end is None else end
        sites.append(dict(file=path, line=t.line, col=t.col, op=op, start=start, end=end,
                          before=src[start:end], after=after))

    n = len(tokens)
    for i, t in enumerate(tokens):
        prev = tokens[i - 1] if i > 0 else None
        nxt = tokens[i + 1] if i + 1 < n else None
        if prev is not None and prev.text == "operator":
            continue  # operator<, operator==, operator! ...: a declaration, not an expression
        if t.kind == "punct":
            x = t.text
            if x in REL_SWAP:
                if x in ("<", ">") and i in templ:
                    continue
                if prev is None or not is_operand_end(prev) or nxt is None:
                    continue
                add("rel", t, REL_SWAP[x])
            elif x in ("&&", "||"):
                if prev is None or nxt is None or not is_operand_end(prev):
                    continue
                if x == "&&" and (i - 1 in templ or prev.text in TYPE_KEYWORDS
                                  or nxt.text in (")", ",", "...", ">", "=", ";")
                                  or (i >= 2 and tokens[i - 2].text in TYPE_KEYWORDS)):
                    continue  # T&& x, auto&& y, f(T&&): a reference
                add("logic", t, "||" if x == "&&" else "&&")
            elif x in ("+", "-"):
                if prev is None or nxt is None or not is_operand_end(prev):
                    continue  # a unary sign
                if nxt.kind != "num":
                    continue
                value = integer_value(nxt.text)
                if value is None or value[0] != 1:
                    continue
                after_one = tokens[i + 2].text if i + 2 < n else ""
                if after_one in ("*", "/", "%", "(", "[", "."):
                    continue  # x - 1 * y: the 1 does not stand alone
                add("arith", t, "-" if x == "+" else "+")
            elif x == "!":
                if nxt is None or nxt.text in ("=",):
                    continue
                # removes the ! and any blanks after it
                add("not", t, "", start=t.start, end=nxt.start)
        elif t.kind == "id" and t.text in ("true", "false"):
            if prev is not None and prev.text == "return" and nxt is not None and nxt.text == ";":
                add("bool", t, "false" if t.text == "true" else "true")
        elif t.kind == "num":
            value = integer_value(t.text)
            if value is None or value[0] <= 1:
                continue
            add("const", t, integer_text(value[0] + 1, *value[1:]))
    return sites


def product_files(src_root, folders):
    files = []
    for folder in folders:
        base = os.path.join(src_root, folder)
        if not os.path.isdir(base):
            sys.exit(f"mutate.py: no folder {base}")
        for dirpath, dirnames, filenames in os.walk(base):
            dirnames[:] = sorted(d for d in dirnames if d not in ("tests", "bench"))
            for name in filenames:
                if name.endswith(".cpp"):
                    files.append(os.path.relpath(os.path.join(dirpath, name), src_root))
    return sorted(files)


def candidates(src_root, folders):
    out = []
    for rel in product_files(src_root, folders):
        with open(os.path.join(src_root, rel), encoding="utf-8", newline="") as f:
            out.extend(find_sites(rel, f.read()))
    out.sort(key=lambda s: (s["file"], s["line"], s["col"], s["op"]))
    return out


# --------------------------------------------------------------------------------------------
# Building and testing.

def log(text=""):
    print(text, flush=True)


def run(cmd, timeout=None, **kw):
    """Runs cmd in its own process group; returns (exit status or None on timeout, output)."""
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                            errors="replace", start_new_session=True, **kw)
    try:
        out, _ = proc.communicate(timeout=timeout)
        return proc.returncode, out
    except subprocess.TimeoutExpired:
        kill_group(proc)
        out, _ = proc.communicate()
        return None, out
    finally:
        if proc.poll() is None:  # interrupted: leave nothing running
            kill_group(proc)
            proc.wait()


def kill_group(proc):
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass


def build(build_dir, targets=None):
    cmd = ["cmake", "--build", build_dir, "-j2"]
    if targets:
        cmd += ["--target"] + list(targets)
    return run(cmd)


def core_test_binaries(build_dir, gui=False):
    """The GoogleTest executables that CTest runs from the core test folders."""
    rc, out = run(["ctest", "--test-dir", build_dir, "--show-only=json-v1"])
    if rc != 0:
        sys.exit(f"mutate.py: ctest --show-only failed:\n{out}")
    tests_root = os.path.realpath(os.path.join(build_dir, "tests"))
    found = {}
    for test in json.loads(out).get("tests", []):
        cmd = test.get("command") or []
        if not cmd:
            continue
        exe = os.path.realpath(cmd[0])
        rel = os.path.relpath(exe, tests_root)
        folder = rel.split(os.sep)[0]
        if rel.startswith("..") or folder not in CORE_TEST_FOLDERS:
            continue
        if (EXCLUDED_WITH_GUI if gui else EXCLUDED_BINARIES).search(os.path.basename(exe)):
            continue
        found.setdefault(exe, 0)
        found[exe] += 1
    order = {f: k for k, f in enumerate(CORE_TEST_FOLDERS)}
    return sorted(found.items(), key=lambda kv: (order[os.path.relpath(kv[0], tests_root)
                                                      .split(os.sep)[0]], kv[0]))


def test_env():
    env = dict(os.environ)
    env["QT_QPA_PLATFORM"] = "offscreen"  # what the tests' CTest properties set
    env["GTEST_COLOR"] = "no"
    return env


def run_tests(binaries, timeout, jobs, first=None):
    """Runs the binaries, the one of the mutated folder first; stops at the first failure.
    Returns (status, detail) with status "pass", "fail" or "timeout"."""
    order = list(binaries)
    if first is not None:
        order.sort(key=lambda b: 0 if os.sep + first + os.sep in b else 1)
    deadline = time.monotonic() + timeout
    env = test_env()
    pending = list(order)
    running = []  # (proc, exe)
    result = ("pass", "")
    try:
        _run_binaries(pending, running, deadline, jobs, env)
    except _Outcome as outcome:
        result = outcome.args[0]
    finally:
        for proc, _ in running:
            kill_group(proc)
            proc.communicate()
    return result


class _Outcome(Exception):
    pass


def _run_binaries(pending, running, deadline, jobs, env):
    while pending or running:
        while pending and len(running) < max(1, jobs):
            exe = pending.pop(0)
            proc = subprocess.Popen([exe, "--gtest_fail_fast", "--gtest_brief=1"],
                                    stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                    text=True, errors="replace", start_new_session=True,
                                    cwd=os.path.dirname(exe), env=env)
            running.append((proc, exe))
        proc, exe = running[0]
        try:
            out, _ = proc.communicate(timeout=max(0.1, deadline - time.monotonic()))
        except subprocess.TimeoutExpired:
            raise _Outcome(("timeout", os.path.basename(exe)))
        running.pop(0)
        if proc.returncode != 0:
            failed = re.findall(r"^\[  FAILED  \] (\S+)", out, re.M)
            what = failed[0] if failed else f"exit {proc.returncode}"
            raise _Outcome(("fail", f"{os.path.basename(exe)}: {what}"))



# --------------------------------------------------------------------------------------------

def git_clean(src_root, path=None):
    cmd = ["git", "-C", src_root, "diff", "--quiet"]
    if path:
        cmd += ["--", path]
    return subprocess.run(cmd).returncode == 0


def show_line(src, site):
    line_start = src.rfind("\n", 0, site["start"]) + 1
    line_end = src.find("\n", site["start"])
    return src[line_start:line_end if line_end != -1 else len(src)].strip()


def describe(site):
    before = site["before"].strip() or site["before"]
    if site["op"] == "not":
        return f"{site['op']:5} `{before}` -> ``"
    return f"{site['op']:5} `{before}` -> `{site['after']}`"


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("src")
    ap.add_argument("build")
    ap.add_argument("--count", type=int, default=40)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--folders", default=DEFAULT_FOLDERS)
    ap.add_argument("--timeout", type=float, default=None,
                    help="seconds per mutant's test run (default: 3 x the unmutated run + 20)")
    ap.add_argument("--jobs", type=int, default=1, help="test binaries run at once")
    ap.add_argument("--list", action="store_true", help="print the sites and the sample only")
    ap.add_argument("--gui", action="store_true", help="run the desktop program's tests too")
    ap.add_argument("--lines", default="",
                    help="only the sampled faults on these lines (FILE:LINE,...), to recheck some")
    args = ap.parse_args()
    src_root = os.path.realpath(args.src)
    build_dir = os.path.realpath(args.build)
    folders = [f for f in args.folders.split(",") if f]

    cands = candidates(src_root, folders)
    rng = random.Random(args.seed)
    sample = rng.sample(cands, min(args.count, len(cands)))
    sample.sort(key=lambda s: (s["file"], s["line"], s["col"], s["op"]))
    if args.lines:
        picked = set(args.lines.split(","))
        sample = [s for s in sample if f"{s['file']}:{s['line']}" in picked]
    if args.list:
        for s in cands:
            log(f"site {s['file']}:{s['line']}:{s['col']} {describe(s)}")
        log(f"# {len(cands)} sites; sample of {len(sample)} with seed {args.seed}:")
        for s in sample:
            log(f"sample {s['file']}:{s['line']}:{s['col']} {describe(s)}")
        return 0

    if not os.path.exists(os.path.join(src_root, ".git")):  # a worktree has a .git file
        sys.exit(f"mutate.py: {src_root} is not a git checkout")
    if not git_clean(src_root):
        sys.exit(f"mutate.py: {src_root} has uncommitted changes; use a clean clone")

    # A SIGTERM unwinds like an exception, so that the mutated file is restored.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("mutate.py: terminated"))
    log("# " + " ".join([os.path.basename(sys.argv[0])] + sys.argv[1:]))
    t0 = time.monotonic()
    rc, out = run(["cmake", "-S", src_root, "-B", build_dir, "-G", "Ninja"])
    if rc != 0:
        sys.exit(f"mutate.py: configure failed:\n{out[-4000:]}")
    rc, out = build(build_dir)
    if rc != 0:
        sys.exit(f"mutate.py: the unmutated build failed:\n{out[-4000:]}")
    binaries = core_test_binaries(build_dir, args.gui)
    if not binaries:
        sys.exit("mutate.py: no core test binaries found")
    log(f"# built {src_root} into {build_dir} in {time.monotonic() - t0:.0f} s")
    for exe, count in binaries:
        log(f"# test binary {os.path.relpath(exe, build_dir)} ({count} CTest cases)")
    t1 = time.monotonic()
    status, detail = run_tests([b for b, _ in binaries], timeout=3600, jobs=args.jobs)
    base_time = time.monotonic() - t1
    if status != "pass":
        sys.exit(f"mutate.py: the unmutated tests do not pass ({status}: {detail})")
    timeout = args.timeout if args.timeout is not None else round(3 * base_time + 20)
    log(f"# unmutated tests pass in {base_time:.1f} s; per-mutant test limit {timeout:.0f} s")
    log(f"# {len(cands)} candidate sites in {','.join(folders)}; "
        f"sampling {len(sample)} with seed {args.seed}")

    killed = survived = invalid = 0
    times = []
    exe_paths = [b for b, _ in binaries]
    targets = sorted({os.path.basename(b) for b in exe_paths})
    for site in sample:
        path = os.path.join(src_root, site["file"])
        with open(path, "rb") as f:
            original = f.read()
        text = original.decode("utf-8")
        mutated = text[:site["start"]] + site["after"] + text[site["end"]:]
        context = show_line(text, site)
        start = time.monotonic()
        build_time = 0.0
        try:
            with open(path, "wb") as f:
                f.write(mutated.encode("utf-8"))
            rc, out = build(build_dir, targets)
            build_time = time.monotonic() - start
            if rc != 0:
                # A test binary that dies while CTest lists its tests fails the build too.
                if "Error running test executable" in out:
                    status, detail = "killed", "the test binary fails on start"
                    killed += 1
                else:
                    errors = re.findall(r"error: (.*)", out)
                    status = "invalid"
                    detail = "build fails" + (f": {errors[0][:100]}" if errors else "")
                    invalid += 1
            else:
                tstatus, tdetail = run_tests(exe_paths, timeout, args.jobs,
                                             first=site["file"].split("/")[0])
                if tstatus == "pass":
                    status, detail = "survived", ""
                    survived += 1
                else:
                    status = "killed"
                    detail = tdetail if tstatus == "fail" else f"timeout in {tdetail}"
                    killed += 1
        finally:
            with open(path, "wb") as f:
                f.write(original)
        if not git_clean(src_root, site["file"]):
            sys.exit(f"mutate.py: could not restore {site['file']}")
        elapsed = time.monotonic() - start
        times.append(elapsed)
        log(f"{status:8} {site['file']}:{site['line']}  {describe(site)}  | {context}"
            f"  [{elapsed:.0f} s, build {build_time:.0f} s{'; ' + detail if detail else ''}]")
    if not git_clean(src_root):
        sys.exit(f"mutate.py: {src_root} is not clean after the run")
    # Leaves BUILD built from the unmutated code again.
    rc, _ = build(build_dir)
    log(f"# rebuilt the unmutated code: {'ok' if rc == 0 else 'FAILED'}")

    valid = killed + survived
    if times:
        log(f"# mean time per mutant {sum(times) / len(times):.1f} s over {len(times)}; "
            f"total {time.monotonic() - t0:.0f} s")
    pct = 100.0 * killed / valid if valid else 0.0
    log(f"mutation score: {killed} killed of {valid} valid ({pct:.1f}%), {invalid} invalid, "
        f"seed {args.seed}, {len(sample)} sampled")
    return 0


if __name__ == "__main__":
    sys.exit(main())
