#!/usr/bin/env python3
"""Mutation run: plants each fault listed under mutation/ on its own, rebuilds
and runs the tests, and tells which faults the tests did not catch.

A mutant names a file, an exact text that must occur in it once, and the text
that replaces it, so changes elsewhere in the file do not disturb it; a mutant
whose text is no longer found is reported as stale, not skipped in silence.

The tree is copied into build-mutate/tree (only changed files are rewritten,
so the build there stays incremental) and built in build-mutate/build; the
working tree itself is never touched. The planted file is put back after every
mutant, also on Ctrl+C.

    scripts/mutate.py                 all mutants, both layers
    scripts/mutate.py core            one layer (core or gui)
    scripts/mutate.py -k pll          mutants whose id contains "pll"
    scripts/mutate.py --list          list the mutants and whether they apply

Exit status: 0 when every layer run reaches its threshold, 1 when one does not,
2 when the mutant list or the baseline is broken.
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
MUTANTS = ROOT / "mutation"
WORK = ROOT / "build-mutate"
TREE = WORK / "tree"
BUILD = WORK / "build"
COPIED = ["CMakeLists.txt", "cmake", "samples", "src", "tests"]

THRESHOLDS = {"core": 95.0, "gui": 90.0}

# Which test programs can see a fault in which folder, the folder's own first
# and the rest cheapest first: a mutant counts as caught at the first failing
# program, and only one that survives runs them all.
TESTS_FOR = [
    ("src/core/config/", ["core_tests", "cli_tests", "gui_tests"]),
    ("src/core/flash/", ["core_tests", "link_tests", "cli_tests", "sim_tests", "gui_tests"]),
    ("src/core/link/", ["link_tests", "cli_tests", "sim_tests", "gui_tests"]),
    ("src/gui/", ["gui_tests"]),
]

# A program that runs this much longer than its baseline counts as hung,
# which catches the mutant (the test's own time-out would end it in CI).
HANG_FACTOR = 4
HANG_MINIMUM = 180.0


class Mutant:
    def __init__(self, layer, ident, path, description, original, replacement, line):
        self.layer = layer
        self.ident = ident
        self.path = path
        self.description = description
        self.original = original
        self.replacement = replacement
        self.line = line

    def tests(self):
        for prefix, programs in TESTS_FOR:
            if self.path.startswith(prefix):
                return programs
        raise SystemExit(f"{self.ident}: no test programs for {self.path}")


def parse(layer, listing):
    """Blocks of the form

        @@ id path/from/top
        One line that says what the fault is.
        <<<
        exact original text (one or more lines)
        ===
        replacement text (may be empty)
        >>>
    """
    mutants = []
    lines = listing.read_text().split("\n")
    i = 0
    while i < len(lines):
        line = lines[i]
        if not line.startswith("@@ "):
            if line.strip() and not line.startswith("#"):
                raise SystemExit(f"{listing}:{i + 1}: expected '@@ id path', got {line!r}")
            i += 1
            continue
        start = i + 1
        try:
            _, ident, path = line.split(maxsplit=2)
        except ValueError:
            raise SystemExit(f"{listing}:{start}: expected '@@ id path'")
        i += 1
        description = []
        while i < len(lines) and lines[i] != "<<<":
            description.append(lines[i].strip())
            i += 1
        original, i = block(lines, i + 1, "===", listing, start)
        replacement, i = block(lines, i, ">>>", listing, start)
        mutants.append(Mutant(layer, ident, path.strip(), " ".join(description).strip(), original,
                              replacement, f"{listing.name}:{start}"))
    return mutants


def block(lines, i, end, listing, start):
    body = []
    while i < len(lines) and lines[i] != end:
        body.append(lines[i])
        i += 1
    if i >= len(lines):
        raise SystemExit(f"{listing}:{start}: missing '{end}'")
    return "\n".join(body), i + 1


def load(layers):
    mutants = []
    for layer in layers:
        mutants += parse(layer, MUTANTS / f"{layer}.txt")
    seen = set()
    for m in mutants:
        if m.ident in seen:
            raise SystemExit(f"{m.line}: the id {m.ident} is used twice")
        seen.add(m.ident)
    return mutants


def occurrences(m):
    source = ROOT / m.path
    if not source.is_file():
        return 0
    return source.read_text().count(m.original)


def sync_tree():
    """Copies the working tree into TREE, rewriting only files whose bytes
    differ; a rewritten file gets a fresh time stamp, so ninja rebuilds it."""
    wanted = set()
    for name in COPIED:
        top = ROOT / name
        files = [top] if top.is_file() else [p for p in top.rglob("*") if p.is_file()]
        for source in files:
            relative = source.relative_to(ROOT)
            wanted.add(relative)
            target = TREE / relative
            data = source.read_bytes()
            if target.is_file() and target.read_bytes() == data:
                continue
            target.parent.mkdir(parents=True, exist_ok=True)
            target.write_bytes(data)
    for name in COPIED:
        top = TREE / name
        if top.is_dir():
            for stale in [p for p in top.rglob("*") if p.is_file() and p.relative_to(TREE) not in wanted]:
                stale.unlink()


def run(command, **kwargs):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kwargs)


def configure():
    if not (BUILD / "build.ninja").is_file():
        result = run(["cmake", "-S", str(TREE), "-B", str(BUILD), "-G", "Ninja",
                      "-DCMAKE_BUILD_TYPE=RelWithDebInfo"])
        if result.returncode != 0:
            print(result.stdout)
            raise SystemExit(2)


def build(programs, jobs):
    return run(["ninja", "-C", str(BUILD), f"-j{jobs}", *programs]).returncode == 0


def run_tests(program, limit):
    """True when the program passes. A program past its time limit is ended
    and counts as failing."""
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    command = [str(BUILD / "bin" / program), "--gtest_brief=1", "--gtest_fail_fast"]
    process = subprocess.Popen(command, cwd=BUILD / "tests", env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, start_new_session=True)
    try:
        return process.wait(timeout=limit) == 0
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        process.wait()
        return False
    finally:
        if process.poll() is None:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()


class Planted:
    """Puts the mutant into the tree's copy of its file and takes it out again
    when the block ends, however it ends."""

    def __init__(self, m):
        self.m = m
        self.target = TREE / m.path

    def __enter__(self):
        self.saved = self.target.read_text()
        self.target.write_text(self.saved.replace(self.m.original, self.m.replacement, 1))
        return self

    def __exit__(self, *exc):
        self.target.write_text(self.saved)
        return False


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("layers", nargs="*", default=[], help="core, gui or both (default)")
    parser.add_argument("-k", dest="pattern", help="only mutants whose id contains this")
    parser.add_argument("--list", action="store_true", help="list the mutants, run nothing")
    parser.add_argument("--no-baseline", action="store_true",
                        help="trust that the unchanged tree passes (skips the first full test run)")
    parser.add_argument("-j", dest="jobs", type=int, default=2, help="build jobs (default 2)")
    args = parser.parse_args()
    layers = args.layers or ["core", "gui"]
    for layer in layers:
        if layer not in THRESHOLDS:
            parser.error(f"no layer {layer!r}: core or gui")

    mutants = load(layers)
    if args.pattern:
        mutants = [m for m in mutants if args.pattern in m.ident]
    broken = [(m, n) for m in mutants if (n := occurrences(m)) != 1]
    if args.list:
        for m in mutants:
            n = occurrences(m)
            state = "ok" if n == 1 else ("STALE" if n == 0 else f"AMBIGUOUS x{n}")
            print(f"{m.layer:4} {m.ident:34} {state:8} {m.description}")
        return 0
    for m, n in broken:
        what = "stale (its text is no longer in" if n == 0 else f"ambiguous ({n} matches in"
        print(f"{m.ident}: {what} {m.path}) [{m.line}]")
    mutants = [m for m in mutants if occurrences(m) == 1]

    started = time.monotonic()
    WORK.mkdir(exist_ok=True)
    sync_tree()
    configure()
    programs = sorted({p for m in mutants for p in m.tests()})
    print(f"building {', '.join(programs)} in {BUILD}", flush=True)
    if not build(programs, args.jobs):
        print("the unchanged tree does not build")
        return 2

    limits = {}
    for program in programs:
        began = time.monotonic()
        if not args.no_baseline and not run_tests(program, 1800):
            print(f"{program} fails on the unchanged tree: fix that first")
            return 2
        limits[program] = max(HANG_MINIMUM, HANG_FACTOR * (time.monotonic() - began))
        if not args.no_baseline:
            print(f"baseline {program}: passes in {time.monotonic() - began:.0f} s", flush=True)

    results = {layer: {"killed": [], "survived": [], "unbuildable": []} for layer in layers}
    for number, m in enumerate(mutants, 1):
        began = time.monotonic()
        with Planted(m):
            # Each program is built just before it runs: most mutants die in
            # the first one, and linking the others would be wasted.
            verdict, by = "survived", ""
            for first, program in enumerate(m.tests()):
                if not build([program], args.jobs):
                    verdict = "unbuildable" if first == 0 else "killed"
                    by = "" if first == 0 else f"the build of {program}"
                    break
                if not run_tests(program, limits.get(program, HANG_MINIMUM)):
                    verdict, by = "killed", program
                    break
        results[m.layer][verdict].append(m)
        print(f"[{number}/{len(mutants)}] {m.ident}: {verdict}{' by ' + by if by else ''}"
              f" ({time.monotonic() - began:.0f} s)", flush=True)

    # Leave the build as the unchanged tree has it.
    build(programs, args.jobs)

    failed = False
    print()
    for layer in layers:
        r = results[layer]
        total = len(r["killed"]) + len(r["survived"])
        if total == 0:
            continue
        score = 100.0 * len(r["killed"]) / total
        below = score < THRESHOLDS[layer]
        failed |= below
        print(f"{layer}: {len(r['killed'])} of {total} killed, score {score:.1f}%"
              f" (threshold {THRESHOLDS[layer]:.0f}%){'  BELOW' if below else ''}")
        for m in r["survived"]:
            print(f"  survived {m.ident} ({m.path}): {m.description}")
        for m in r["unbuildable"]:
            print(f"  does not build {m.ident} [{m.line}]: fix the mutant")
    print(f"total time {time.monotonic() - started:.0f} s")
    if broken or any(results[layer]["unbuildable"] for layer in layers):
        return 2
    return 1 if failed else 0


def interrupted(signum, frame):
    raise KeyboardInterrupt


if __name__ == "__main__":
    # Ended by kill as by Ctrl+C: the planted file is put back either way.
    signal.signal(signal.SIGTERM, interrupted)
    signal.signal(signal.SIGINT, interrupted)
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        print("\ninterrupted; the planted file is put back")
        sys.exit(130)
