"""Flood: 100,000 datagrams of mixed content sent to the tool's reply port, in
batches that the tool is given time to read. Prints whether it survived and
still answers, how fast it read, and resident memory before, halfway and after.

    scripts/netns-run python3 bench/flood.py
"""
import json
import random
import socket
import sys
import threading
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


def send_in_batches(sender, datagrams, to, received, alive):
    """Sends the datagrams in batches, each once the last has been read; returns
    how many were sent and the seconds it took."""
    started = time.monotonic()
    sent = 0
    while sent < len(datagrams) and alive():
        for datagram in datagrams[sent:sent + BATCH]:
            sender.sendto(datagram, to)
        sent += BATCH
        if not toolrun.wait_until(lambda: received() >= sent or not alive(), 30):
            print("fell behind: %d of %d read" % (received(), sent))
            break
        yield sent, time.monotonic() - started


def bare_loop_rate(datagrams):
    """The same flood read by a plain socket that does nothing else: the floor."""
    receiver = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    receiver.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 16 * 1024 * 1024)
    receiver.bind(("127.0.0.1", 0))
    count = [0]

    def read():
        while True:
            receiver.recv(65536)
            count[0] += 1

    threading.Thread(target=read, daemon=True).start()
    sender = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    elapsed = 1
    for _, elapsed in send_in_batches(sender, datagrams, receiver.getsockname(),
                                      lambda: count[0], lambda: True):
        pass
    return count[0] / elapsed


def flood_tool(datagrams, program, *arguments):
    """Floods a program that logs what it reads as the tool does; returns
    (datagrams sent, read, seconds, survived, still answers, memory in KiB
    before, halfway and after)."""
    listener = toolrun.converter_listener()
    tool = toolrun.Tool(program, *arguments)
    _, (tool_address, tool_port) = listener.recvfrom(65536)
    listener.close()
    sender = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sender.bind(("127.0.0.9", 0))
    time.sleep(0.5)
    memory = [tool.rss_kib(), 0, 0]
    sent, elapsed = 0, 1
    for sent, elapsed in send_in_batches(sender, datagrams, (tool_address, tool_port),
                                         lambda: tool.received, tool.alive):
        if sent == TOTAL // 2:
            memory[1] = tool.rss_kib()
    survived = tool.alive()
    answers = False
    if survived:
        memory[2] = tool.rss_kib()
        sender.sendto(b'{"ack":"lbx.info","arg":{"uuid":"probe"}}', (tool_address, tool_port))
        answers = toolrun.wait_until(lambda: tool.lines, 10)
    tool.stop()
    return sent, tool.received, elapsed, survived, answers, memory


def main():
    rng = random.Random(12166)
    flood = mixed_datagrams(rng)
    datagrams = [next(flood) for _ in range(TOTAL)]
    floor = bare_loop_rate(datagrams)
    # Most of a datagram's cost is its debug line, which the window must write:
    # the honest floor reads and logs each one and does nothing else.
    _, logged, seconds, *_ = flood_tool(datagrams, toolrun.MINIMAL, "--log-datagrams")
    logging_floor = logged / seconds
    sent, received, elapsed, survived, answers, memory = flood_tool(datagrams, toolrun.TOOL)
    rate = received / elapsed
    print("flood of %d datagrams: %s; %d read in %.1f s (%.0f per second)%s"
          % (sent, "survived" if survived else "DID NOT SURVIVE", received, elapsed, rate,
             "; still reads and lists" if answers else ""))
    print("floors: bare receive loop %.0f per second (%.1fx the tool's time); the loop that "
          "also writes each debug line %.0f per second (%.2fx, target at most 1.5x)"
          % (floor, floor / rate, logging_floor, logging_floor / rate))
    if survived:
        print("resident memory: %.1f MiB before, %.1f MiB after 50,000, %.1f MiB after 100,000"
              % tuple(kib / 1024 for kib in memory))
    return 0 if survived and answers else 1


if __name__ == "__main__":
    sys.exit(main())
