"""Flood: 100,000 datagrams of mixed content sent to the tool's reply port, in
batches that the tool is given time to read. Prints whether it survived and
still answers, how fast it read, and resident memory before, halfway and after.

    scripts/netns-run python3 bench/flood.py
"""
import json
import random
import socket
import sys
import time

import toolrun

TOTAL = 100000
BATCH = 500


def mixed_datagrams(rng):
    """Endless mixed content; every datagram is non-empty, so each leaves a line."""
    makers = [
        lambda: bytes(rng.getrandbits(8) for _ in range(rng.randint(1, 1400))),
        lambda: b"x" * 65507,
        lambda: b'{"ack":"lbx.info","arg":' + b"[" * 20000 + b"]" * 20000 + b"}",
        lambda: b'{"ack":"lbx.info","arg":{"uuid":"\xff\xfe%d"}}' % rng.randint(0, 99),
        lambda: b'{"ack":"lbx.set"}\x00\x00garbage',
        lambda: b'{"ack":"lbx.info","a":[1],"a":1}',
        lambda: json.dumps({"ack": "lbx.info", "arg": {
            "uuid": "flood-%d" % rng.randint(0, 99), "appVersion": rng.random() * 10,
            "romVersion": "r", "baud": 9600, "pluginName": rng.choice(["OvUdp485", "x", 5])}}).encode(),
        lambda: json.dumps({"ack": rng.choice(["lbx.set", "lbx.uploadLog", "lbx.update",
                                               "lbx.factory", "LBX.SET", 7, None])}).encode(),
        lambda: json.dumps({"ack": "lbx.info", "arg": rng.choice([None, 1, "s", [1, 2], True])}).encode(),
    ]
    while True:
        yield rng.choice(makers)()


def main():
    listener = toolrun.converter_listener()
    tool = toolrun.Tool()
    _, (tool_address, tool_port) = listener.recvfrom(65536)
    sender = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sender.bind(("127.0.0.9", 0))
    time.sleep(0.5)
    before = tool.rss_kib()
    halfway = None

    rng = random.Random(12166)
    datagrams = mixed_datagrams(rng)
    started = time.monotonic()
    sent = 0
    while sent < TOTAL and tool.alive():
        for _ in range(BATCH):
            sender.sendto(next(datagrams), (tool_address, tool_port))
        sent += BATCH
        if not toolrun.wait_until(lambda: tool.received >= sent or not tool.alive(), 30):
            print("the tool fell behind: %d of %d read" % (tool.received, sent))
            break
        if sent == TOTAL // 2:
            halfway = tool.rss_kib()
    elapsed = time.monotonic() - started

    survived = tool.alive()
    answers = False
    if survived:
        after = tool.rss_kib()
        sender.sendto(b'{"ack":"lbx.info","arg":{"uuid":"probe"}}', (tool_address, tool_port))
        answers = toolrun.wait_until(lambda: tool.lines, 10)
    tool.stop()

    print("flood of %d datagrams: %s; %d read in %.1f s (%.0f per second)%s"
          % (sent, "survived" if survived else "DID NOT SURVIVE", tool.received, elapsed,
             tool.received / elapsed, "; still reads and lists" if answers else ""))
    if survived:
        print("resident memory: %.1f MiB before, %.1f MiB after 50,000, %.1f MiB after 100,000"
              % (before / 1024, (halfway or 0) / 1024, after / 1024))
    return 0 if survived and answers else 1


if __name__ == "__main__":
    sys.exit(main())
