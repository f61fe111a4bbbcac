"""Finds, closes and photographs top-level X11 windows by title, through libX11.

Used where no window manager runs (Xvfb): `close` sends WM_DELETE_WINDOW, the
message a window manager sends when the user clicks the close button.

    python3 xwin.py wait TITLE [SECONDS]   prints the window id once it is mapped
    python3 xwin.py close ID
    python3 xwin.py shot TITLE FILE.png [SECONDS]
    python3 xwin.py photograph TITLE FILE.png SECONDS COMMAND [ARG...]
        starts the command, photographs its window once it is mapped (FILE.png
        "-": no picture), closes it, and exits 0 when the command then ended
        with status 0
"""
import ctypes
import ctypes.util
import struct
import subprocess
import sys
import time
import zlib

_x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
_x11.XOpenDisplay.restype = ctypes.c_void_p
_x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
_x11.XDefaultRootWindow.restype = ctypes.c_ulong
_x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
_x11.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                            ctypes.POINTER(ctypes.c_ulong),
                            ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                            ctypes.POINTER(ctypes.c_uint)]
_x11.XFetchName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_char_p)]
_x11.XFree.argtypes = [ctypes.c_void_p]
_x11.XInternAtom.restype = ctypes.c_ulong
_x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
_x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                            ctypes.c_void_p]
_x11.XFlush.argtypes = [ctypes.c_void_p]
_x11.XCloseDisplay.argtypes = [ctypes.c_void_p]


class _WindowAttributes(ctypes.Structure):
    # Only the leading members up to map_state are read; the rest is padding.
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int),
                ("height", ctypes.c_int), ("border_width", ctypes.c_int),
                ("depth", ctypes.c_int), ("visual", ctypes.c_void_p),
                ("root", ctypes.c_ulong), ("c_class", ctypes.c_int),
                ("bit_gravity", ctypes.c_int), ("win_gravity", ctypes.c_int),
                ("backing_store", ctypes.c_int), ("backing_planes", ctypes.c_ulong),
                ("backing_pixel", ctypes.c_ulong), ("save_under", ctypes.c_int),
                ("colormap", ctypes.c_ulong), ("map_installed", ctypes.c_int),
                ("map_state", ctypes.c_int), ("pad", ctypes.c_long * 16)]


_x11.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong,
                                      ctypes.POINTER(_WindowAttributes)]


class _ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class _Event(ctypes.Union):
    _fields_ = [("xclient", _ClientMessage), ("pad", ctypes.c_long * 24)]


class _Image(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.POINTER(ctypes.c_ubyte)),
                ("byte_order", ctypes.c_int), ("bitmap_unit", ctypes.c_int),
                ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int),
                ("bits_per_pixel", ctypes.c_int)]


_x11.XTranslateCoordinates.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong,
                                       ctypes.c_int, ctypes.c_int, ctypes.POINTER(ctypes.c_int),
                                       ctypes.POINTER(ctypes.c_int),
                                       ctypes.POINTER(ctypes.c_ulong)]
_x11.XGetImage.restype = ctypes.POINTER(_Image)
_x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                           ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]

_CLIENT_MESSAGE = 33
_Z_PIXMAP = 2
_ALL_PLANES = 0xFFFFFFFF
_IS_VIEWABLE = 2


class Display:
    def __init__(self):
        self.dpy = _x11.XOpenDisplay(None)
        if not self.dpy:
            raise RuntimeError("cannot open the X display")

    def close(self):
        _x11.XCloseDisplay(self.dpy)

    def windows(self):
        root, parent = ctypes.c_ulong(), ctypes.c_ulong()
        children, count = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
        _x11.XQueryTree(self.dpy, _x11.XDefaultRootWindow(self.dpy), ctypes.byref(root),
                        ctypes.byref(parent), ctypes.byref(children), ctypes.byref(count))
        ids = [children[i] for i in range(count.value)]
        if children:
            _x11.XFree(children)
        return ids

    def title(self, window):
        name = ctypes.c_char_p()
        if not _x11.XFetchName(self.dpy, window, ctypes.byref(name)) or not name.value:
            return None
        text = name.value.decode("utf-8", "replace")
        _x11.XFree(name)
        return text

    def mapped(self, window):
        attributes = _WindowAttributes()
        _x11.XGetWindowAttributes(self.dpy, window, ctypes.byref(attributes))
        return attributes.map_state == _IS_VIEWABLE

    def wait_for(self, title, seconds=10.0):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            for window in self.windows():
                if self.title(window) == title and self.mapped(window):
                    return window
            time.sleep(0.05)
        return None

    def close_window(self, window):
        event = _Event()
        event.xclient.type = _CLIENT_MESSAGE
        event.xclient.window = window
        event.xclient.message_type = _x11.XInternAtom(self.dpy, b"WM_PROTOCOLS", 0)
        event.xclient.format = 32
        event.xclient.data[0] = _x11.XInternAtom(self.dpy, b"WM_DELETE_WINDOW", 0)
        _x11.XSendEvent(self.dpy, window, 0, 0, ctypes.byref(event))
        _x11.XFlush(self.dpy)


    def png(self, window):
        """What the screen shows where the window is, as a PNG file's bytes: popups
        open over it (such as a drop-down list) are in the picture."""
        attributes = _WindowAttributes()
        _x11.XGetWindowAttributes(self.dpy, window, ctypes.byref(attributes))
        width, height = attributes.width, attributes.height
        root = _x11.XDefaultRootWindow(self.dpy)
        x, y, child = ctypes.c_int(), ctypes.c_int(), ctypes.c_ulong()
        _x11.XTranslateCoordinates(self.dpy, window, root, 0, 0, ctypes.byref(x), ctypes.byref(y),
                                   ctypes.byref(child))
        # Only what lies on the screen can be read.
        screen = _WindowAttributes()
        _x11.XGetWindowAttributes(self.dpy, root, ctypes.byref(screen))
        if x.value < 0:
            width, x.value = width + x.value, 0
        if y.value < 0:
            height, y.value = height + y.value, 0
        width = min(width, screen.width - x.value)
        height = min(height, screen.height - y.value)
        image = _x11.XGetImage(self.dpy, root, x.value, y.value, width, height, _ALL_PLANES,
                               _Z_PIXMAP)
        if not image or image.contents.bits_per_pixel != 32:
            raise RuntimeError("cannot read the window's pixels")
        stride = image.contents.bytes_per_line
        raw = ctypes.string_at(image.contents.data, stride * height)
        rows = bytearray()
        for y in range(height):
            row = raw[y * stride:y * stride + width * 4]
            rows.append(0)  # no filter
            # Little-endian BGRX to RGB.
            pixels = bytearray(width * 3)
            pixels[0::3] = row[2::4]
            pixels[1::3] = row[1::4]
            pixels[2::3] = row[0::4]
            rows += pixels

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

        header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
        return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
                + chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b""))


def photograph(display, title, path, seconds, command):
    program = subprocess.Popen(command)
    try:
        window = display.wait_for(title, seconds)
        if window is None:
            print("no mapped window titled %r" % title, file=sys.stderr)
            return 1
        if path != "-":
            with open(path, "wb") as out:
                out.write(display.png(window))
        display.close_window(window)
        try:
            status = program.wait(timeout=30)
        except subprocess.TimeoutExpired:
            print("%s did not end when its window was closed" % command[0], file=sys.stderr)
            return 1
        if status != 0:
            print("%s exited with status %d" % (command[0], status), file=sys.stderr)
        return 0 if status == 0 else 1
    finally:
        if program.poll() is None:
            program.kill()
            program.wait()


def main(argv):
    display = Display()
    try:
        if argv[1:2] == ["wait"] and len(argv) >= 3:
            window = display.wait_for(argv[2], float(argv[3]) if len(argv) > 3 else 10.0)
            if window is None:
                print("no mapped window titled %r" % argv[2], file=sys.stderr)
                return 1
            print(window)
            return 0
        if argv[1:2] == ["shot"] and len(argv) >= 4:
            window = display.wait_for(argv[2], float(argv[4]) if len(argv) > 4 else 10.0)
            if window is None:
                print("no mapped window titled %r" % argv[2], file=sys.stderr)
                return 1
            with open(argv[3], "wb") as out:
                out.write(display.png(window))
            return 0
        if argv[1:2] == ["photograph"] and len(argv) >= 6:
            return photograph(display, argv[2], argv[3], float(argv[4]), argv[5:])
        if argv[1:2] == ["close"] and len(argv) == 3:
            display.close_window(int(argv[2], 0))
            return 0
    finally:
        display.close()
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
