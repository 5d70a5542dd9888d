#!/usr/bin/env python3
"""Plants one-line faults in the product code and reports which ones the
test suite catches: a check that the tests still find real mistakes after
they are reshaped. Run by hand (it takes a while), never by CI.

    tests/mutate.py [--seed N] [--count N] [--build DIR] [--jobs N]
                    [--only-caught EARLIER_OUTPUT] [--exclude REGEX]

With a fixed seed the same faults are planted on the same tree. Each fault
is one of: a comparison flipped, a constant off by one, a condition
negated, a statement dropped. The files under ntfs/, storage/, walk/ and
output/ are candidates. For each fault the test build is rebuilt and the
suite run until its first failure; a fault that does not compile is
replaced by the next candidate. The working tree is restored after every
fault, also when the script is interrupted.

--only-caught takes the printed output of an earlier run with the same seed
on the same product tree and plants only the faults that run caught, to show
a reshaped suite still catches them in a fraction of the time; the faults
it missed are listed as not run. --exclude keeps matching tests out of the
suite (for example tests of options the product tree predates).
"""
import argparse
import os
import random
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FOLDERS = ("ntfs", "storage", "walk", "output")

NUMBER = re.compile(r"(?<![\w.])([1-9]\d{0,5})(?![\w.])")
COMPARISONS = [("<=", "<"), (">=", ">"), ("==", "!="), ("!=", "=="), (" < ", " <= "), (" > ", " >= ")]


def candidate_lines(path):
    """(line number, kind) pairs of lines worth mutating in one file."""
    found = []
    with open(path, encoding="utf-8") as f:
        lines = f.readlines()
    in_comment = False
    for number, line in enumerate(lines):
        text = line.strip()
        if text.startswith("/*"):
            in_comment = True
        if in_comment:
            in_comment = "*/" not in text
            continue
        if not text or text.startswith(("//", "#", "namespace", "}", "{", "case ", "default:", "static_assert",
                                         "template", "using ", "struct ", "class ")):
            continue
        code = text.split("//")[0].strip()
        if re.search(r"\bif \(|\bwhile \(|\breturn |\? ", code) and any(a in code for a, _ in COMPARISONS):
            found.append((number, "comparison"))
        if re.search(r"\bif \(", code):
            found.append((number, "negate"))
        if NUMBER.search(code):
            found.append((number, "constant"))
        # Declarations would only fail to compile; plain statements can go.
        if code.endswith(";") and not re.match(r"(return|break|continue|const|constexpr|static|auto|using|"
                                               r"std::[\w:<>]+ \w|(unsigned |signed )?(bool|int|char|"
                                               r"std::u?int\d+_t|std::size_t|double) )", code):
            found.append((number, "drop"))
    return lines, found


def mutate(line, kind, rng):
    """The line with one fault planted, or None when the kind does not apply."""
    indent = line[: len(line) - len(line.lstrip())]
    body = line.rstrip("\n")
    if kind == "comparison":
        options = [(a, b) for a, b in COMPARISONS if a in body]
        if not options:
            return None
        a, b = rng.choice(options)
        at = body.index(a)
        return body[:at] + b + body[at + len(a):] + "\n"
    if kind == "negate":
        m = re.search(r"\bif \(", body)
        if not m:
            return None
        start = m.end()
        depth, end = 1, start
        while end < len(body) and depth:
            depth += {"(": 1, ")": -1}.get(body[end], 0)
            end += 1
        if depth:
            return None
        return body[:start] + "!(" + body[start:end - 1] + "))" + body[end:] + "\n"
    if kind == "constant":
        numbers = list(NUMBER.finditer(body))
        if not numbers:
            return None
        m = rng.choice(numbers)
        return body[: m.start()] + str(int(m.group(1)) + 1) + body[m.end():] + "\n"
    if kind == "drop":
        return indent + "// dropped by mutate.py: " + body.strip() + "\n"
    return None


def run(command, cwd, log):
    return subprocess.run(command, cwd=cwd, stdout=log, stderr=subprocess.STDOUT).returncode


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seed", type=int, default=14)
    parser.add_argument("--count", type=int, default=40)
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "mutate"))
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    parser.add_argument("--only-caught", metavar="EARLIER_OUTPUT")
    parser.add_argument("--exclude", metavar="REGEX")
    args = parser.parse_args()

    # Faults of an earlier run: "(file, line, kind)" -> its verdict.
    earlier = {}
    if args.only_caught:
        with open(args.only_caught, encoding="utf-8") as f:
            for m in re.finditer(r"^\s*\d+\. (caught|MISSED) (\S+):(\d+) (\w+):", f.read(), re.M):
                earlier[(m.group(2), int(m.group(3)), m.group(4))] = m.group(1)
        args.count = len(earlier)

    rng = random.Random(args.seed)
    files = sorted(os.path.join(folder, name) for folder in FOLDERS
                   for name in os.listdir(os.path.join(ROOT, folder)) if name.endswith(".cpp"))
    candidates = []
    for relative in files:
        _, found = candidate_lines(os.path.join(ROOT, relative))
        candidates += [(relative, number, kind) for number, kind in found]
    rng.shuffle(candidates)

    os.makedirs(args.build, exist_ok=True)
    log_path = os.path.join(args.build, "mutate.log")
    with open(log_path, "w") as log:
        if run(["cmake", "-S", ROOT, "-B", args.build, "-DCMAKE_BUILD_TYPE=Debug", "-DBRINDLE_SANITIZE=ON"],
               ROOT, log) or run(["cmake", "--build", args.build, "-j", str(args.jobs)], ROOT, log):
            sys.exit(f"the unmutated tree does not build (see {log_path})")
        results = []
        for relative, number, kind in candidates:
            if len(results) == args.count:
                break
            path = os.path.join(ROOT, relative)
            with open(path, encoding="utf-8") as f:
                original = f.read()
            lines = original.splitlines(keepends=True)
            changed = mutate(lines[number], kind, rng)
            if changed is None or changed == lines[number]:
                continue
            lines[number] = changed
            verdict_before = earlier.get((relative, number + 1, kind))
            if args.only_caught and verdict_before != "caught":
                if verdict_before:
                    results.append((relative, number + 1, kind, changed.strip(), "not run (missed before)"))
                continue
            try:
                with open(path, "w", encoding="utf-8") as f:
                    f.write("".join(lines))
                log.write(f"\n=== {relative}:{number + 1} {kind}\n")
                log.flush()
                if run(["cmake", "--build", args.build, "-j", str(args.jobs)], ROOT, log):
                    continue  # not a viable fault: the next candidate takes its place
                status = run(["ctest", "--stop-on-failure", "-j", str(args.jobs + 1), "--timeout", "120"]
                             + (["-E", args.exclude] if args.exclude else []), args.build, log)
            finally:
                with open(path, "w", encoding="utf-8") as f:
                    f.write(original)
            verdict = "caught" if status else "MISSED"
            results.append((relative, number + 1, kind, changed.strip(), verdict))
            print(f"{len(results):2}. {verdict:6} {relative}:{number + 1} {kind}: {changed.strip()[:90]}", flush=True)
        run(["cmake", "--build", args.build, "-j", str(args.jobs)], ROOT, log)

    caught = sum(1 for r in results if r[4] == "caught")
    print(f"\n| # | fault | where | verdict |\n|---|---|---|---|")
    for i, (relative, number, kind, text, verdict) in enumerate(results, 1):
        shown = text[:70].replace("|", "\\|")
        print(f"| {i} | {kind}: `{shown}` | {relative}:{number} | {verdict} |")
    print(f"\n{caught} of {len(results)} faults caught (seed {args.seed}).")


if __name__ == "__main__":
    main()
