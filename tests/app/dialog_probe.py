"""Helpers of the dialog tests: start the build's program, find its X window
(for the Windows build, the X window that Wine made for the Win32 window),
read its pixels, click into it and press keys on the run's Xvfb."""

import os
import stat
import subprocess
import sys
import time
import unittest
from contextlib import contextmanager
from pathlib import Path

sys.path.insert(0, os.environ.get("NVK_SUPPORT", str(Path(__file__).resolve().parent.parent / "support")))
import systest  # noqa: E402

CLIENT = (442, 397)


class RecordingTest(unittest.TestCase):
    """A dialog test whose opened links and installer launches are recorded
    in its scratch folder (named with scratch_prefix); a link opened on Linux
    goes to a recording browser. self.env is the dialog's environment."""

    scratch_prefix = "dialog-"

    def setUp(self):
        self.folder = systest.scratch_dir(self.scratch_prefix + self.id().rsplit(".", 1)[-1])
        self.opened_file = self.folder / "opened.txt"
        recorder = self.folder / "record-browser"
        recorder.write_text('#!/bin/sh\nprintf "%s\\n" "$1" >> "$NVK_OPENED_FILE"\n')
        recorder.chmod(recorder.stat().st_mode | stat.S_IXUSR)
        self.installer_log = self.folder / "installer.log"
        log = systest.windows_path(self.installer_log) if systest.WINDOWS else str(self.installer_log)
        self.env = {"BROWSER": str(recorder), "NVK_OPENED_FILE": str(self.opened_file), "NVK_STANDIN_LOG": log}

    def launches(self):
        """How many times the stand-in installer was started."""
        if not self.installer_log.exists():
            return 0
        return self.installer_log.read_text().splitlines().count("end")

    def opened(self):
        return self.opened_file.read_text().splitlines() if self.opened_file.exists() else []


def _x(argv, **kwargs):
    return subprocess.run(argv, capture_output=True, env=systest.x_env(), timeout=systest.PROCESS_TIMEOUT, **kwargs)


def _window_pid(window):
    text = systest.x_property(window, "_NET_WM_PID")
    _, _, value = text.partition(" = ")
    return int(value) if value.strip().isdigit() else None


def _in_session(pid, session):
    try:
        return os.getsid(pid) == session
    except OSError:
        return False


def find_dialog(session, timeout=systest.WINDOW_TIMEOUT):
    """The viewable X window titled "Setup" of a process in the given session
    (every program a test starts runs in a session of its own)."""
    def viewable():
        for window in systest.x_windows("^Setup$"):
            pid = _window_pid(window)
            if pid is not None and _in_session(pid, session) and \
                    systest.x_geometry(window).get("Map State") == "IsViewable":
                return window
        return None
    return systest.poll(viewable, timeout)


def park_pointer():
    """Moves the pointer to the screen's corner, off every dialog, so that no
    control under it is drawn hot (a pointer left by an earlier test would)."""
    _x(["xdotool", "mousemove", "--sync", "0", "0"])


def _ready(window):
    if window is not None:
        park_pointer()
        settle()
    return window


@contextmanager
def dialog(env_extra=None, arguments=""):
    """Starts the build's program and yields (process, window) once its window
    is up, with the pointer parked off it. Under Wine the process also carries
    windows_pid, the program's Windows process id."""
    env_extra = dict(env_extra or {})
    if systest.WINDOWS:
        line = '"' + systest.windows_path(systest.program("ToolbarSetup")) + '"' + (" " + arguments if arguments else "")
        with systest.started_windows(line, **env_extra) as process:
            yield process, _ready(find_dialog(process.pid))
    else:
        argv = [str(systest.program("ToolbarSetup"))] + arguments.split()
        with systest.started(argv, systest.native_env(True, **env_extra)) as process:
            yield process, _ready(find_dialog(process.pid))


class Capture:
    """The pixels of a window as 0xRRGGBB values."""

    def __init__(self, width, height, data):
        self.width = width
        self.height = height
        self.data = data

    def pixel(self, x, y):
        at = (y * self.width + x) * 3
        return self.data[at] << 16 | self.data[at + 1] << 8 | self.data[at + 2]

    def pixels(self, left, top, right, bottom):
        """(x, y, rgb) for every pixel of the rectangle, right and bottom excluded."""
        for y in range(max(top, 0), min(bottom, self.height)):
            for x in range(max(left, 0), min(right, self.width)):
                yield x, y, self.pixel(x, y)

    def count(self, box, predicate):
        return sum(1 for _, _, rgb in self.pixels(*box) if predicate(rgb))


def capture(window):
    """The window's pixels now, read from the X server."""
    geometry = systest.x_geometry(window)
    width, height = int(geometry["Width"]), int(geometry["Height"])
    result = _x(["import", "-silent", "-window", str(window), "-depth", "8", "rgb:-"])
    if result.returncode != 0 or len(result.stdout) != width * height * 3:
        raise RuntimeError(f"capture of window {window} failed: {result.stderr!r}")
    return Capture(width, height, result.stdout)


def origin(window):
    geometry = systest.x_geometry(window)
    return int(geometry["Absolute upper-left X"]), int(geometry["Absolute upper-left Y"])


def click(window, x, y, button=1):
    """Moves the pointer to the window's point (x, y) and clicks."""
    left, top = origin(window)
    _x(["xdotool", "mousemove", "--sync", str(left + x), str(top + y)])
    _x(["xdotool", "click", str(button)])


def double_click(window, x, y):
    """A quick double click at the window's point (x, y)."""
    left, top = origin(window)
    _x(["xdotool", "mousemove", "--sync", str(left + x), str(top + y)])
    _x(["xdotool", "click", "--repeat", "2", "--delay", "60", "1"])


def viewable(window):
    return systest.x_geometry(window).get("Map State") == "IsViewable"


def focus(window):
    _x(["xdotool", "windowfocus", "--sync", str(window)])


def key(window, name):
    """Presses a key with the keyboard focus on the window."""
    focus(window)
    _x(["xdotool", "key", name])


def wait_for(predicate, timeout=systest.WINDOW_TIMEOUT):
    return systest.poll(predicate, timeout, interval=0.1)


def settle():
    """A short pause after input, before a probe that expects no change."""
    time.sleep(0.5)


# --- colours -------------------------------------------------------------------

def channels(rgb):
    return rgb >> 16 & 0xFF, rgb >> 8 & 0xFF, rgb & 0xFF


def is_red(rgb):
    r, g, b = channels(rgb)
    return r >= 180 and g <= 90 and b <= 90


def is_blue(rgb):
    r, g, b = channels(rgb)
    return b >= 160 and r <= 90 and g <= 90


def is_green(rgb):
    r, g, b = channels(rgb)
    return g >= 90 and r <= 90 and b <= 90 and g - max(r, b) >= 50


def is_grey(rgb):
    r, g, b = channels(rgb)
    return max(r, g, b) - min(r, g, b) <= 16 and 100 <= r <= 230
