"""Start-up: time from process start to the first broadcast (median of five
starts), and resident memory at idle and with 1,000 converters listed.

    scripts/netns-run python3 bench/startup.py
"""
import statistics
import time

import toolrun


def time_to_first_broadcast():
    listener = toolrun.converter_listener()
    tool = toolrun.Tool()
    listener.recvfrom(65536)
    elapsed = time.monotonic() - tool.started
    listener.close()
    return tool, elapsed


def main():
    starts = []
    for _ in range(5):
        tool, elapsed = time_to_first_broadcast()
        starts.append(elapsed * 1000)
        tool.stop()
    tool, _ = time_to_first_broadcast()
    time.sleep(1.0)
    idle = tool.rss_kib()
    tool.stop()

    simulator = toolrun.Simulator(1000)
    tool = toolrun.Tool()
    listed = toolrun.wait_until(lambda: tool.received >= 1000, 60)
    time.sleep(0.5)
    with_thousand = tool.rss_kib()
    tool.stop()
    simulator.stop()

    print("start-up to first broadcast: median %.0f ms (of %s ms)"
          % (statistics.median(starts), ", ".join("%.0f" % s for s in starts)))
    print("resident memory at idle: %.1f MiB" % (idle / 1024))
    print("resident memory with 1,000 converters listed: %.1f MiB%s"
          % (with_thousand / 1024, "" if listed else " (not all were listed!)"))


if __name__ == "__main__":
    main()
