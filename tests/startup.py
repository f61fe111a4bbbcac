"""startup.py PATH/TO/lbxconfig: the real program on Xvfb, in the sandbox, shows its
window, broadcasts one search, and ends with status 0, having sent nothing more,
when the window is closed through the window manager's close message."""
import os
import socket
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts", "lib"))
import xwin  # noqa: E402

INFO_REQUEST = b'{"call":"lbx.info"}'


def fail(message, tool=None):
    if tool is not None and tool.poll() is None:
        tool.kill()
    print("FAIL: " + message)
    sys.exit(1)


def main():
    # It broadcasts: only inside the private network namespace of scripts/netns-run.
    if os.environ.get("LBX_SANDBOX") != os.readlink("/proc/self/ns/net"):
        fail("refused: run it inside scripts/netns-run, which makes a private network namespace")
    listener = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("0.0.0.0", 12166))

    tool = subprocess.Popen([sys.argv[1]], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    display = xwin.Display()
    window = display.wait_for("LBXConfig", 20)
    if window is None:
        fail("no window titled LBXConfig was shown", tool)

    listener.settimeout(20)
    try:
        request = listener.recv(65536)
    except socket.timeout:
        fail("no search was broadcast after start", tool)
    if request != INFO_REQUEST:
        fail("start-up broadcast was %r" % request, tool)

    display.close_window(window)
    try:
        output, _ = tool.communicate(timeout=20)
    except subprocess.TimeoutExpired:
        fail("the process did not end after its window was closed", tool)
    display.close()
    print(output.decode("utf-8", "replace"), end="")
    if tool.returncode != 0:
        fail("exit status %d after closing the window" % tool.returncode)

    listener.setblocking(False)
    try:
        fail("sent more after the start-up search: %r" % listener.recv(65536))
    except BlockingIOError:
        pass
    print("PASS: one search at start, exit status 0 on close")


if __name__ == "__main__":
    main()
