"""lbxctl apply of a plan that changes 500 of 1,000 simulated converters, each
restarting for 5 s: wall time and datagrams sent, beside the targets. Runs
inside scripts/netns-run."""
import collections
import os
import re
import subprocess
import sys
import tempfile
import time

import toolrun

COUNT = 1000
CHANGED = 500
RESTART_S = 5
SEARCH_S = 2
LBXCTL = os.path.join(toolrun.ROOT, "build", "tools", "lbxctl", "lbxctl")


def main():
    with tempfile.NamedTemporaryFile("w", suffix=".csv", delete=False) as plan:
        plan.write("uuid,baud,plugin\n")
        for n in range(1, COUNT + 1):
            changed = n % 2 == 0
            plan.write("LBXSIM%06d,%s\n" % (n, "115200,OvTcp485" if changed else "9600,OvUdp485"))
    simulator = toolrun.Simulator(COUNT, "--restart", str(RESTART_S * 1000))
    started = time.monotonic()
    run = subprocess.run([LBXCTL, "apply", plan.name, "--receive-buffer", "208",
                          "--timeout", str(SEARCH_S)], capture_output=True, text=True)
    elapsed = time.monotonic() - started
    os.unlink(plan.name)
    simulator.stop()

    confirmed = run.stdout.count("apply: confirmed 115200 OvTcp485")
    sets = collections.Counter(line.split(b":")[0] for line in simulator.said if b"; restarts" in line)
    twice = sum(1 for n in sets.values() if n > 1)
    summary = re.search(r"(\d+) datagrams sent", run.stderr)
    sent = int(summary.group(1)) if summary else -1
    searches = 2  # 255.255.255.255 and the sandbox adapter's broadcast
    per_changed = (sent - searches) / CHANGED
    limit = RESTART_S + 3 + SEARCH_S
    print("apply, %d of %d converters changed, %d s restart: %d confirmed, exit status %d, "
          "%.2f s (target at most %d s), %d converters set twice, %d datagrams sent, "
          "%.2f per changed converter beyond the search (target at most 4)"
          % (CHANGED, COUNT, RESTART_S, confirmed, run.returncode, elapsed, limit, twice, sent,
             per_changed))
    for line in run.stderr.splitlines():
        print("  lbxctl said: " + line)
    good = (confirmed == CHANGED and run.returncode == 0 and twice == 0 and elapsed <= limit
            and 0 < per_changed <= 4)
    return 0 if good else 1


if __name__ == "__main__":
    sys.exit(main())
