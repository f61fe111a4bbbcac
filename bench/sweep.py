"""lbxctl discover --sweep of a /22 (1,022 addresses) holding 300 simulated
converters: wall time against the rate's own floor (addresses / rate) and the
timeout for the last answers, within 1.3 times the floor whatever the buffer;
the datagrams lbxctl sent and the datagrams the system dropped (must be none),
at the default rate and buffer, at a faster rate, and into a 32 KiB buffer. Runs
inside scripts/netns-run, whose namespace has UDP counters of its own."""
import json
import os
import subprocess
import sys
import tempfile
import time

import toolrun

COUNT = 300
RANGE = "127.0.4.0/22"
ADDRESSES = 1022
TIMEOUT = 2  # lbxctl's default --timeout
LBXCTL = os.path.join(toolrun.ROOT, "build", "tools", "lbxctl", "lbxctl")


def udp_counters():
    with open("/proc/net/snmp") as snmp:
        rows = [line.split() for line in snmp if line.startswith("Udp:")]
    return dict(zip(rows[0][1:], map(int, rows[1][1:])))


def lines_of(path):
    with open(path) as journal:
        return sum(1 for _ in journal)


def sweep(journal, rate, *options):
    heard_before = lines_of(journal)
    before = udp_counters()
    started = time.monotonic()
    run = subprocess.run([LBXCTL, "discover", "--sweep", RANGE, "--rate", str(rate), "--json",
                          *options], capture_output=True, text=True)
    elapsed = time.monotonic() - started
    after = udp_counters()
    found = len([json.loads(line) for line in run.stdout.splitlines()])
    answers = lines_of(journal) - heard_before  # each request heard is answered once
    sent = after["OutDatagrams"] - before["OutDatagrams"] - answers
    dropped = after["RcvbufErrors"] - before["RcvbufErrors"]
    floor = ADDRESSES / rate
    # The pace the rate sets, whatever the buffer: within 1.3 times its floor,
    # then the timeout for the last answers.
    target = 1.3 * floor + TIMEOUT
    print("sweep of %s (%d addresses), %d converters, --rate %d %s: %d found, %.2f s "
          "(floor %.2f s + %.0f s timeout; target %.2f s), "
          "%d datagrams sent, %d dropped, exit status %d"
          % (RANGE, ADDRESSES, COUNT, rate, " ".join(options) or "(default buffer)", found,
             elapsed, floor, TIMEOUT, target, sent, dropped, run.returncode))
    for line in run.stderr.splitlines():
        print("  lbxctl said: " + line)
    return found == COUNT and dropped == 0 and sent == ADDRESSES and run.returncode == 0 \
        and elapsed <= target


def main():
    with tempfile.TemporaryDirectory() as folder:
        journal = os.path.join(folder, "journal")
        simulator = toolrun.Simulator(COUNT, "--base", "127.0.4.1", "--journal", journal)
        good = [sweep(journal, 200), sweep(journal, 1000),
                sweep(journal, 200, "--receive-buffer", "32")]
        simulator.stop()
    return 0 if all(good) else 1


if __name__ == "__main__":
    sys.exit(main())
