"""examples.py LBXCTL LBXSIM FILE.md...

Replays every example session in the docs against lbxsim and fails where the
output differs, so that no example drifts from the program. A session is a
fenced block whose first line starts with "$ ", after a comment that sets up
its site:

    <!-- example: LBXSIM-OPTIONS [| LBXSIM-OPTIONS...] [; stop N before M] -->

Each "|" starts another lbxsim; "stop N before M" stops the N-th of them
before the M-th command (a converter switched off between two visits). A
command's expected output is the lines after it, up to the next "$ "; a line
"(exit status N)" gives its status (0 when there is none). "$ cat FILE" writes
FILE with the lines shown. Times ("2.0 s") and what this system grants ("416
KiB granted", and the questions that follow from it) are masked; lines that outcomes
print as they become known may come in another order. Runs inside
scripts/netns-run."""
import os
import re
import shlex
import subprocess
import sys
import tempfile
import time

from sites import sandboxed

MARKER = re.compile(r"<!-- example: (.*?) -->\s*\n```[a-z]*\n(.*?)```", re.S)
MASKED = re.compile(r"\b\d+(\.\d+)? s\b|\d+ KiB granted|up to \d+ questions")


def sessions(path):
    """(line number, site, stops, commands) of each example in the file, each
    command a (text, expected lines, expected status)."""
    text = open(path, encoding="utf-8").read()
    for match in MARKER.finditer(text):
        setup, _, stop = match.group(1).partition(";")
        stops = {}
        if stop.strip():
            group, _, before = stop.split()[1:4]
            stops[int(before)] = int(group)
        commands = []
        for line in match.group(2).splitlines():
            if line.startswith("$ "):
                commands.append([line[2:], [], 0])
            elif re.fullmatch(r"\(exit status \d+\)", line):
                commands[-1][2] = int(line[13:-1])
            else:
                commands[-1][1].append(line)
        yield (text.count("\n", 0, match.start()) + 1,
               [shlex.split(group) for group in setup.split("|")], stops, commands)


def start(lbxsim, options, work):
    log = open(os.path.join(work, "lbxsim%d.log" % len(os.listdir(work))), "w+")
    process = subprocess.Popen([lbxsim] + options, stdout=log, stderr=subprocess.STDOUT)
    deadline = time.monotonic() + 20
    while " converters on " not in open(log.name).read():
        if process.poll() is not None or time.monotonic() > deadline:
            raise RuntimeError("lbxsim %s did not start" % " ".join(options))
        time.sleep(0.01)
    return process


def differs(expected, got):
    """Why the output differs from the example; None where it does not."""
    mask = [MASKED.sub("N", line).rstrip() for line in expected]
    seen = [MASKED.sub("N", line).rstrip() for line in got]
    if mask == seen or sorted(mask) == sorted(seen):
        return None
    return "expected:\n  %s\ngot:\n  %s" % ("\n  ".join(expected), "\n  ".join(got))


def replay(path, line, site, stops, commands, lbxctl, lbxsim):
    failures = []
    with tempfile.TemporaryDirectory() as work:
        groups = [start(lbxsim, options, work) for options in site]
        env = dict(os.environ,
                   PATH=os.path.dirname(os.path.abspath(lbxctl)) + os.pathsep + os.environ["PATH"])
        try:
            for number, (command, expected, status) in enumerate(commands, 1):
                if number in stops:
                    groups[stops[number] - 1].terminate()
                    groups[stops[number] - 1].wait()
                words = shlex.split(command)
                if words[0] == "cat":
                    with open(os.path.join(work, words[1]), "w", encoding="utf-8") as shown:
                        shown.write("".join(line + "\n" for line in expected))
                result = subprocess.run(["sh", "-c", command], cwd=work, env=env, timeout=300,
                                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                        text=True)
                why = differs(expected, result.stdout.splitlines())
                if result.returncode != status:
                    why = "exit status %d, not %d\n%s" % (result.returncode, status, result.stdout)
                if why:
                    failures.append("%s:%d: $ %s\n%s" % (path, line, command, why))
        finally:
            for group in groups:
                group.terminate()
                group.wait()
    return failures


def main():
    lbxctl, lbxsim, paths = sys.argv[1], sys.argv[2], sys.argv[3:]
    sandboxed("examples.py")
    failures, count = [], 0
    for path in paths:
        for line, site, stops, commands in sessions(path):
            count += 1
            failures += replay(path, line, site, stops, commands, lbxctl, lbxsim)
    print("\n\n".join(failures))
    failed = len({failure.split(": $")[0] for failure in failures})
    print("%d example sessions replayed: %d passed, %d failed" % (count, count - failed, failed))
    return 1 if failures or count == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
