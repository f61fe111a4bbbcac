"""lbxctl set --all against 1,000 simulated converters, with the receive buffer
capped at the stock 208 KiB: every converter reported truthfully, none asked
twice, wall time. Runs inside scripts/netns-run."""
import json
import os
import subprocess
import sys
import time

import toolrun

COUNT = 1000
LBXCTL = os.path.join(toolrun.ROOT, "build", "tools", "lbxctl", "lbxctl")


def main():
    simulator = toolrun.Simulator(COUNT, "--restart", "5000")
    started = time.monotonic()
    run = subprocess.run([LBXCTL, "set", "--all", "--baud", "19200", "--plugin", "OvTcp485",
                          "--receive-buffer", "208", "--json"], capture_output=True, text=True)
    elapsed = time.monotonic() - started
    toolrun.wait_until(lambda: simulator.count(b"; restarts") >= COUNT, 10)
    restarts = simulator.count(b"; restarts")
    simulator.stop()

    lines = [json.loads(line) for line in run.stdout.splitlines()]
    outcomes = {}
    for line in lines:
        outcomes[line["outcome"]] = outcomes.get(line["outcome"], 0) + 1
    twice = sum(1 for line in lines if line["tries"] > 1)
    print("set --all, %d converters, 208 KiB receive buffer: %d reported (%s), exit status %d, "
          "%d sent set twice, %d set by the simulator, %.2f s"
          % (COUNT, len(lines), ", ".join("%d %s" % (n, o) for o, n in sorted(outcomes.items())),
             run.returncode, twice, restarts, elapsed))
    for line in run.stderr.splitlines():
        print("  lbxctl said: " + line)
    good = len(lines) == COUNT and outcomes.get("done") == COUNT and restarts == COUNT
    return 0 if good and run.returncode == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
