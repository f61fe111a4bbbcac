"""What the tests that play whole sites share: each site a network namespace of
its own behind a veth pair, a bounded wait, and the refusal to run outside
scripts/netns-run."""
import os
import shutil
import signal
import subprocess
import sys
import time

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")


def fail(message, detail=""):
    print("FAIL: " + message + ("\n" + detail if detail else ""))
    sys.exit(1)


def check(condition, message, detail=""):
    if not condition:
        fail(message, detail)
    print("PASS: " + message)


def wait_for(what, condition, seconds=60):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        result = condition()
        if result:
            return result
        time.sleep(0.1)
    fail("%s: not within %d s" % (what, seconds))


def sandboxed(name, programs=()):
    """Refuses to run outside scripts/netns-run, or without the programs it drives."""
    if os.environ.get("LBX_SANDBOX") != os.readlink("/proc/self/ns/net"):
        fail("refused: %s runs only inside scripts/netns-run" % name)
    for program in programs:
        if not shutil.which(program):
            fail("%s is missing: scripts/install-deps test" % program)


def start_site(name, here, there, script, arguments, processes):
    """Runs script (sh) in a new network namespace, given the far end of a veth
    pair whose near end has the address here (ADDRESS/24) and the arguments."""
    near, far = name + "a", name + "b"
    subprocess.run(["ip", "link", "add", near, "type", "veth", "peer", "name", far], check=True)
    subprocess.run(["ip", "addr", "add", here + "/24", "dev", near], check=True)
    subprocess.run(["ip", "link", "set", near, "up"], check=True)
    site = subprocess.Popen(["unshare", "-n", "sh", "-c", script, name, far, there] + arguments,
                            start_new_session=True)
    processes.append(site)
    own = os.readlink("/proc/self/ns/net")
    wait_for(name + "'s namespace", lambda: os.readlink("/proc/%d/ns/net" % site.pid) != own, 10)
    subprocess.run(["ip", "link", "set", far, "netns", str(site.pid)], check=True)


def stop(processes):
    for process in processes:
        try:
            os.killpg(process.pid, signal.SIGTERM)
        except (ProcessLookupError, PermissionError):
            process.terminate()
        process.wait()
