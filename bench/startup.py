"""Start-up: time from process start to the first broadcast (median of five
starts), and resident memory at idle and with 1,000 converters listed; the
first two beside a minimal Qt Widgets program that shows a window and sends
one broadcast (bench/minimal.cpp), measured in the same run.

    scripts/netns-run python3 bench/startup.py
"""
import statistics
import time

import toolrun


def time_to_first_broadcast(program=toolrun.TOOL):
    listener = toolrun.converter_listener()
    tool = toolrun.Tool(program)
    listener.recvfrom(65536)
    elapsed = time.monotonic() - tool.started
    listener.close()
    return tool, elapsed


def start_and_idle(program):
    starts = []
    for _ in range(5):
        tool, elapsed = time_to_first_broadcast(program)
        starts.append(elapsed * 1000)
        tool.stop()
    tool, _ = time_to_first_broadcast(program)
    time.sleep(1.0)
    idle = tool.rss_kib()
    tool.stop()
    return starts, idle


def main():
    floor_starts, floor_idle = start_and_idle(toolrun.MINIMAL)
    starts, idle = start_and_idle(toolrun.TOOL)

    simulator = toolrun.Simulator(1000)
    tool = toolrun.Tool()
    listed = toolrun.wait_until(lambda: tool.received >= 1000, 60)
    time.sleep(0.5)
    with_thousand = tool.rss_kib()
    tool.stop()
    simulator.stop()

    print("start-up to first broadcast: median %.0f ms (of %s ms); minimal Qt Widgets program "
          "%.0f ms (target at most 1.5 times)"
          % (statistics.median(starts), ", ".join("%.0f" % s for s in starts),
             statistics.median(floor_starts)))
    print("resident memory at idle: %.1f MiB; minimal Qt Widgets program %.1f MiB "
          "(target at most 1.5 times)" % (idle / 1024, floor_idle / 1024))
    print("resident memory with 1,000 converters listed: %.1f MiB%s"
          % (with_thousand / 1024, "" if listed else " (not all were listed!)"))


if __name__ == "__main__":
    main()
