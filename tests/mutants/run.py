#!/usr/bin/env python3
"""Puts each fault of tests/mutants/faults into a copy of the tree, builds it,
runs the whole suite and prints which tests failed; a fault that no test
catches is printed as SURVIVED. Run by hand: each fault costs a build and a run.

    tests/mutants/run.py [--check] [--work DIR] [--tests REGEX] [NAME...]

--check only says whether every patch still applies, exactly once; --tests
runs only the ctest tests whose names match (to ask whether one test alone
catches a fault that another also catches)."""

import argparse
import pathlib
import re
import shutil
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parents[2]


def read_faults():
    faults = []
    for line in (ROOT / "tests/mutants/faults").read_text(encoding="utf-8").splitlines():
        if line[:1] in ("-", "+"):
            faults[-1]["old" if line[0] == "-" else "new"].append(line[1:] + "\n")
        elif line.strip() and not line.startswith("#"):
            name, path, what = line.split(None, 2)
            faults.append({"name": name, "path": path, "what": what, "old": [], "new": []})
    return faults


def patched(tree, fault):
    """The file's text and the text with the fault in, or None where it does not apply."""
    text = (tree / fault["path"]).read_text(encoding="utf-8")
    old, new = "".join(fault["old"]), "".join(fault["new"])
    return text, text.replace(old, new) if text.count(old) == 1 else None


def run(*command):
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)


def failed_tests(build, only):
    result = run("ctest", "--test-dir", str(build), "-j4", "--timeout", "400", *only)
    if result.returncode == 0:
        return []
    return re.findall(r"^\s*\d+ - (\S+) \(", result.stdout.split("tests FAILED:")[-1], re.M)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true")
    parser.add_argument("--work", default="/tmp/lbx-mutants")
    parser.add_argument("--tests", metavar="REGEX")
    parser.add_argument("names", nargs="*")
    args = parser.parse_args()
    only = ["-R", args.tests] if args.tests else []
    faults = read_faults()
    chosen = [f for f in faults if not args.names or f["name"] in args.names]
    if len(chosen) < len(set(args.names)):
        sys.exit("no such fault among: " + " ".join(args.names))
    if args.check:
        stale = [f["name"] for f in chosen if patched(ROOT, f)[1] is None]
        print(f"{len(chosen) - len(stale)} of {len(chosen)} faults apply", *stale)
        return 1 if stale else 0

    tree = pathlib.Path(args.work) / "tree"
    build = tree / "build"
    shutil.rmtree(tree, ignore_errors=True)
    shutil.copytree(ROOT, tree, ignore=shutil.ignore_patterns("build*", ".git"))
    run("cmake", "-S", str(tree), "-B", str(build))
    if run("cmake", "--build", str(build), "-j2").returncode:
        sys.exit("the tree as it is does not build; nothing to measure")
    failing = failed_tests(build, only)
    if failing:
        sys.exit("the tree as it is does not pass (%s); nothing to measure" % " ".join(failing))
    killed = 0
    for fault in chosen:
        started = time.monotonic()
        original, text = patched(tree, fault)
        if text is None:
            verdict = "DOES NOT APPLY"
        else:
            (tree / fault["path"]).write_text(text, encoding="utf-8")
            if run("cmake", "--build", str(build), "-j2").returncode:
                verdict = "DOES NOT BUILD"
            else:
                failed = failed_tests(build, only)
                verdict = "killed by " + " ".join(failed) if failed else "SURVIVED"
            (tree / fault["path"]).write_text(original, encoding="utf-8")
        killed += verdict.startswith("killed")
        seconds = time.monotonic() - started
        print(f"{fault['name']:<28} {verdict}  ({seconds:.0f} s)", flush=True)
    print(f"{killed} of {len(chosen)} faults killed")
    return 0 if killed == len(chosen) else 1


if __name__ == "__main__":
    sys.exit(main())
