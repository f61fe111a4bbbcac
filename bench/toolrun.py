"""What the Python benchmarks share: the refusal to run outside
scripts/netns-run, the built tool offscreen with its debug lines followed, and
lbxsim beside it."""
import os
import socket
import subprocess
import sys
import threading
import time

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")

# Every benchmark here broadcasts or runs lbxctl: inside scripts/netns-run only,
# never on a real network (as the tests, and as bench/run runs them).
if os.environ.get("LBX_SANDBOX") != os.readlink("/proc/self/ns/net"):
    sys.exit("refused: this benchmark sends datagrams, and runs only inside the private network "
             "namespace of scripts/netns-run: scripts/netns-run python3 " + " ".join(sys.argv))
TOOL = os.path.join(ROOT, "build", "src", "lbxconfig")
SIMULATOR = os.path.join(ROOT, "build", "tools", "lbxsim", "lbxsim")
MINIMAL = os.path.join(ROOT, "build", "bench", "lbxbench-minimal")


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def wait_until(condition, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.01)
    return condition()


class Tool:
    """The tool as a process; counts the datagrams it has logged."""

    def __init__(self, program=TOOL, *arguments):
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        self.started = time.monotonic()
        self.process = subprocess.Popen([program, *arguments], stderr=subprocess.PIPE, env=env)
        self.received = 0
        self.lines = []
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        for line in self.process.stderr:
            if line.startswith(b"onRecvData "):
                self.received += 1
                if b"probe" in line:
                    self.lines.append(line)

    def alive(self):
        return self.process.poll() is None

    def rss_kib(self):
        return rss_kib(self.process.pid)

    def stop(self):
        self.process.kill()
        self.process.wait()


def converter_listener():
    """A socket on the converter port that hears the tool's search."""
    listener = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("0.0.0.0", 12166))
    return listener


class Simulator:
    """lbxsim with COUNT converters; its output lines are kept in `said`."""

    def __init__(self, count, *options):
        self.process = subprocess.Popen([SIMULATOR, "--count", str(count)] + list(options),
                                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.said = []
        for line in self.process.stdout:
            self.said.append(line)
            if line.startswith(b"lbxsim: ") and b" converters on " in line:
                break
        else:
            raise RuntimeError("lbxsim did not start: %s" % b"".join(self.said).decode())
        threading.Thread(target=self._follow, daemon=True).start()

    def _follow(self):
        for line in self.process.stdout:
            self.said.append(line)

    def count(self, text):
        return sum(1 for line in list(self.said) if text in line)

    def stop(self):
        self.process.kill()
        self.process.wait()
