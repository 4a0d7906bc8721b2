"""Helpers of the install-run tests and the install-wait benchmark: a private X
server, X windows seen and pressed on a given display, the setup program and
the stand-in installer copied into a folder of their own, the stand-in's log
records, and what a run leaves behind on Linux (found through /proc, by the
run's session: the tests stand above the program as a user's shell does,
never as a subreaper of their own).

The install driver runs one request of the worker for the install methods
the dialog does not use, on the stand-in staged as a starter that launches a
helper.

Built on systest; the Windows build's programs run under the run's Wine and
display, the Linux build's on a display the caller chooses.
"""

import os
import shutil
import subprocess
import unittest
from contextlib import contextmanager
from pathlib import Path

import systest

SETUP_TITLE = "^Setup$"
INSTALLER = "Norvik_TB_Installer.exe"
TOOL = "tool.exe"
# Client-area places of the dialog's controls: (left, top, width, height).
INSTALL_BUTTON = (349, 361, 75, 25)
CHECK_BOX = (22, 242, 14, 20)


# --- X -------------------------------------------------------------------------

@contextmanager
def private_display(name):
    """An X server of its own for a with-block (":N"), so that the pointer and
    the stacking order belong to one test alone."""
    folder = systest.RUN_DIR / "xprivate" / name
    folder.mkdir(parents=True, exist_ok=True)
    xvfb = str(systest.SUPPORT_DIR / "xvfb")
    subprocess.run([xvfb, "start", str(folder)], check=True, capture_output=True, timeout=systest.PROCESS_TIMEOUT)
    try:
        yield (folder / "display").read_text().strip()
    finally:
        subprocess.run([xvfb, "stop", str(folder)], capture_output=True, timeout=systest.PROCESS_TIMEOUT)


def _x(display, argv):
    env = os.environ.copy()
    env["DISPLAY"] = display
    return subprocess.run(argv, capture_output=True, text=True, env=env, timeout=systest.PROCESS_TIMEOUT)


def viewable_windows(display, name_regex):
    """Ids of the viewable X windows whose name matches the regex."""
    found = _x(display, ["xdotool", "search", "--onlyvisible", "--name", name_regex]).stdout.split()
    return [int(w) for w in found if is_viewable(display, int(w))]


def wait_viewable_window(display, name_regex, timeout=systest.WINDOW_TIMEOUT):
    """The first viewable X window matching the regex, or None after the bound."""
    return systest.poll(lambda: next(iter(viewable_windows(display, name_regex)), None), timeout)


def is_viewable(display, window):
    """Whether the X window exists and is mapped with all its ancestors."""
    info = _x(display, ["xwininfo", "-id", str(window)]).stdout
    return "Map State: IsViewable" in info


def press(display, window, place):
    """Raises the window and clicks the middle of place (left, top, width,
    height in the window) with the pointer, as a user would."""
    left, top, width, height = place
    _x(display, ["xdotool", "windowraise", str(window)])
    result = _x(display, ["xdotool", "mousemove", "--window", str(window), str(left + width // 2),
                          str(top + height // 2), "click", "1"])
    if result.returncode != 0:
        raise RuntimeError(f"xdotool could not click: {result.stderr}")


def pixels(display, window, place):
    """The raw RGB bytes of place (left, top, width, height) in the window."""
    left, top, width, height = place
    env = os.environ.copy()
    env["DISPLAY"] = display
    return subprocess.run(["import", "-window", str(window), "-crop", f"{width}x{height}+{left}+{top}", "+repage",
                           "rgb:-"], capture_output=True, env=env, check=True,
                          timeout=systest.PROCESS_TIMEOUT).stdout


# --- the programs in a folder of their own -------------------------------------------

def stage_programs(folder, installers=(INSTALLER,)):
    """Copies the setup program and, under each given name, the stand-in
    installer into folder; returns the setup program's path there."""
    folder.mkdir(parents=True, exist_ok=True)
    setup = systest.program("ToolbarSetup")
    copy = folder / setup.name
    shutil.copy2(setup, copy)
    for name in installers:
        shutil.copy2(systest.BIN_DIR / INSTALLER, folder / name)
    return copy


def standin_records(log):
    """The stand-in's records in its log, oldest first: dicts of the one-value
    fields (run, parent, exe, cwd, cmdline, ...) plus "args" and "fds" lists."""
    if not Path(log).exists():
        return []
    records, current = [], None
    for line in Path(log).read_bytes().decode("utf-8").splitlines():
        if current is None:
            current = {"args": [], "fds": []}
        if line == "end":
            records.append(current)
            current = None
            continue
        name, _, value = line.partition(" ")
        value = _unescape(value)
        if name == "arg":
            current["args"].append(value)
        elif name == "fd":
            current["fds"].append(int(value))
        else:
            current[name] = value
    return records


def _unescape(text):
    out, i = [], 0
    while i < len(text):
        if text[i] == "%" and i + 3 <= len(text):
            out.append(chr(int(text[i + 1:i + 3], 16)))
            i += 3
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


# --- Linux processes ------------------------------------------------------------------

def _stat(pid):
    """(command name, the fields after it) from /proc/PID/stat, or None when
    the process is gone."""
    try:
        stat = Path(f"/proc/{pid}/stat").read_text()
    except (FileNotFoundError, ProcessLookupError):
        return None
    return stat[stat.index("(") + 1:stat.rindex(")")], stat[stat.rindex(")") + 2:].split()


def process_state(pid):
    """(state letter, parent pid) from /proc/PID/stat, or None when the
    process is gone."""
    stat = _stat(pid)
    return None if stat is None else (stat[1][0], int(stat[1][1]))


def session_members(session):
    """{pid: (state letter, command name)} of the processes of a session
    (a started program's session is its pid), from /proc."""
    found = {}
    for entry in Path("/proc").iterdir():
        if entry.name.isdigit():
            stat = _stat(entry.name)
            if stat is not None and int(stat[1][3]) == session:
                found[int(entry.name)] = (stat[1][0], stat[0])
    return found


def children_of(pid):
    """Pids of the processes whose parent is pid, from /proc."""
    found = []
    for entry in Path("/proc").iterdir():
        if entry.name.isdigit():
            state = process_state(entry.name)
            if state is not None and state[1] == pid:
                found.append(int(entry.name))
    return found


def pidfd_count(pid):
    """How many process descriptors (pidfds) the process holds open."""
    count = 0
    try:
        entries = list(Path(f"/proc/{pid}/fd").iterdir())
    except FileNotFoundError:
        return 0
    for entry in entries:
        try:
            if os.readlink(entry) == "anon_inode:[pidfd]":
                count += 1
        except OSError:
            pass
    return count


def close_x_window(display, window):
    """Asks the X window to close as a window manager would (nvk_x_helper)."""
    env = os.environ.copy()
    env["DISPLAY"] = display
    return systest.run([str(systest.program("nvk_x_helper")), "close", str(window)], env)


# --- one run of the setup program ----------------------------------------------------

class SetupRun:
    """The setup program started from a staged folder with the given
    arguments: natively on `display` (Linux), or under the run's Wine through
    the exact-command-line launcher on a terminal (Windows). The stand-in
    logs to folder/standin.log and, with hold=True, waits for release()."""

    def __init__(self, folder, arguments, display=None, hold=False, **standin_env):
        self.folder = Path(folder)
        self.log = self.folder / "standin.log"
        self.release_file = self.folder / "release"
        self.display = display if display is not None else systest.display()
        self.arguments = list(arguments)
        self.hold = hold
        self.standin_env = standin_env
        self.process = None
        self.window = None
        self.left_behind = {}
        self._context = None

    def _environment_values(self):
        values = {"NVK_STANDIN_LOG": self.log, **self.standin_env}
        if self.hold:
            values["NVK_STANDIN_WAIT_FILE"] = self.release_file
        as_text = systest.windows_path if systest.WINDOWS else str
        return {k: as_text(v) if isinstance(v, Path) else str(v) for k, v in values.items()}

    def __enter__(self):
        setup = self.folder / systest.program("ToolbarSetup").name
        values = self._environment_values()
        if systest.WINDOWS:
            line = " ".join(['"' + systest.windows_path(setup) + '"'] + self.arguments)
            self._context = systest.started_windows(line, terminal=True, **values)
        else:
            env = systest.native_env(False, DISPLAY=self.display, **values)
            self._context = systest.started([str(setup)] + self.arguments, env)
        self.process = self._context.__enter__()
        return self

    def __exit__(self, *exc):
        return self._context.__exit__(*exc)

    def wait_window(self):
        """The X window of the dialog once it is viewable (None if it never came)."""
        if systest.WINDOWS:
            # Only this program's window counts; then its X window on the display.
            facts = systest.wintool("window", "Setup", int(systest.WINDOW_TIMEOUT * 1000), self.process.windows_pid)
            if facts.returncode != 0:
                return None
        self.window = wait_viewable_window(self.display, SETUP_TITLE)
        return self.window

    def press(self, place):
        press(self.display, self.window, place)

    def dialog_shown(self):
        """Whether a Setup dialog is viewable on the display (and, under Wine,
        whether Windows reports this program's dialog visible)."""
        shown = bool(viewable_windows(self.display, SETUP_TITLE))
        if systest.WINDOWS:
            windows_view = systest.wintool("window", "Setup", 0, self.process.windows_pid).returncode == 0
            return shown or windows_view
        return shown

    def close_dialog(self):
        if systest.WINDOWS:
            return systest.wintool("close", "Setup", self.process.windows_pid).returncode == 0
        return close_x_window(self.display, self.window).returncode == 0

    def release(self):
        self.release_file.write_text("go\n")

    def records(self):
        return standin_records(self.log)

    def wait_records(self, count=1):
        """The stand-in's records once there are count of them (fewer after the bound)."""
        return systest.poll(lambda: len(self.records()) >= count and self.records(), systest.PROCESS_TIMEOUT) or []

    def finish(self):
        """Waits for the program's end: (Result, trace lines). The trace is
        standard error on Linux and the console's text under Wine, where lines
        of Wine's own ("wine: ...") are left out. On Linux, what was left of
        the program's session when it ended goes into left_behind before the
        session is ended."""
        if not systest.WINDOWS:
            if not systest.poll(lambda: not self.process.running(), systest.PROCESS_TIMEOUT):
                raise TimeoutError("the setup program did not end")
            self.left_behind = session_members(self.process.pid)
            self.left_behind.pop(self.process.pid, None)  # the program itself, until it is waited for
        result = self.process.wait()
        text = systest.terminal_text(result.stdout) if systest.WINDOWS else result.stderr
        lines = [line for line in text.splitlines() if line and not line.startswith("wine:")]
        return result, lines


# Lines of the event sink's deliveries and of the process tracker's handlers:
# while the worker lives its tracker hears of every process start and stop in
# the system, so with "/DEBUG" these stand between the worker's own lines.
EVENT_LINE_PREFIXES = (
    "=====Enter Indicate Event=====", "=====Leave Indicate Event=====", "lObjectCount = ",
    "====Enter ProcCreateIndicate====", "====Leave ProcCreateIndicate====",
    "====Enter ProcDeleteIndicate====", "====Leave ProcDeleteIndicate====",
    "System Create PPID = ", "System Create PID = ", "System Delete PID = ",
    "Create PID = ", "Delete PID = ", "Tmp Delete PID = ",
)


def worker_lines(trace):
    """The trace without the sink's and the handlers' lines, in order."""
    return [line for line in trace if not line.startswith(EVENT_LINE_PREFIXES)]


def expected_path(path):
    """A path as the stand-in reports it on this build."""
    return systest.windows_path(path) if systest.WINDOWS else str(Path(path).resolve())


class InstallRunCase(unittest.TestCase):
    """Cases that each run the program from a folder of their own: on a private
    X server (Linux), or on the run's display under Wine. Subclasses name
    their scratch folder."""

    scratch_name = "install"

    @classmethod
    def setUpClass(cls):
        cls.root = systest.scratch_dir(cls.scratch_name)
        cls.cases = 0
        cls.display_context = None
        if systest.WINDOWS:
            cls.display = systest.display()
        else:
            cls.display_context = private_display(cls.scratch_name)
            cls.display = cls.display_context.__enter__()

    @classmethod
    def tearDownClass(cls):
        if cls.display_context is not None:
            cls.display_context.__exit__(None, None, None)

    def assert_nothing_left(self, run, installers):
        """Linux: when the program ended, none of the installers it launched
        (records) was left in its session: one it did not reap is still
        there as a zombie, unless the system's init has reaped it first (this
        machine's init reaps nothing)."""
        if systest.WINDOWS:
            return
        for record in installers:
            self.assertNotIn(int(record["run"]), run.left_behind, f"installer {record['run']} was left behind")

    def folder(self, installers=(INSTALLER,)):
        type(self).cases += 1
        folder = self.root / f"case-{self.cases}"
        stage_programs(folder, installers)
        return folder


# --- one run of the install driver -------------------------------------------------

HELPER = "LongHelperSetupProgram.exe"


def stage_starter(folder, helper=HELPER):
    """Copies the stand-in installer into folder as the installer and as the
    helper that it starts (named helper)."""
    folder.mkdir(parents=True, exist_ok=True)
    for name in (INSTALLER, helper):
        shutil.copy2(systest.BIN_DIR / INSTALLER, folder / name)


class DriverRun:
    """The install driver running install method `method` with the given
    options on the starter staged in folder (stage_starter, with the same
    helper name): the starter launches the helper after delay_ms and ends at
    once; the helper waits for folder/release, or with helper_ms runs that
    long and ends by itself. driver: the driver's program to run, when not
    the built one (a copy under another name). Linux natively without a
    display; Windows under the run's Wine through the launcher on a terminal.
    Leaving the with-block releases the helper."""

    def __init__(self, folder, method, options, delay_ms=0, helper=HELPER, helper_ms=None, driver=None):
        self.folder = Path(folder)
        self.log = self.folder / "standin.log"
        self.release_file = self.folder / "release"
        self.method = method
        self.options = list(options)
        self.delay_ms = delay_ms
        self.helper = helper
        self.helper_ms = helper_ms
        self.driver = driver
        self._context = None
        self.process = None

    def __enter__(self):
        starter = self.folder / INSTALLER
        as_path = systest.windows_path if systest.WINDOWS else str
        values = {
            "NVK_STANDIN_LOG": as_path(self.log),
            "NVK_STANDIN_CHILDREN": "1",
            "NVK_STANDIN_CHILD_DELAY_MS": str(self.delay_ms),
            "NVK_STANDIN_CHILD_PROGRAM": as_path(self.folder / self.helper),
        }
        if self.helper_ms is None:
            values["NVK_STANDIN_CHILD_WAIT_FILE"] = as_path(self.release_file)
        else:
            values["NVK_STANDIN_CHILD_SLEEP_MS"] = str(self.helper_ms)
        driver = self.driver if self.driver is not None else systest.program("nvk_install_driver")
        if systest.WINDOWS:
            line = " ".join(['"' + systest.windows_path(driver) + '"', str(self.method),
                             '"' + as_path(starter) + '"'] + self.options)
            self._context = systest.started_windows(line, terminal=True, **values)
        else:
            self._context = systest.started([str(driver), str(self.method), str(starter)] + self.options,
                                            systest.native_env(False, **values))
        self.process = self._context.__enter__()
        return self

    def __exit__(self, *exc):
        self.release()
        return self._context.__exit__(*exc)

    def records(self):
        return standin_records(self.log)

    def wait_records(self, count):
        """The stand-in's records once there are count of them (fewer after the bound)."""
        return systest.poll(lambda: len(self.records()) >= count and self.records(), systest.PROCESS_TIMEOUT) or []

    def wait_driver_end(self):
        """Waits until the driver has ended, leaving alone what it left running."""
        if not systest.poll(lambda: not self.process.running(), systest.PROCESS_TIMEOUT):
            raise TimeoutError("the install driver did not end")

    def release(self):
        self.release_file.write_text("go\n")

    def finish(self):
        """(Result, trace lines) once the driver has ended; under Wine, lines
        of Wine's own ("wine: ...") are left out."""
        result = self.process.wait()
        text = systest.terminal_text(result.stdout) if systest.WINDOWS else result.stderr
        return result, [line for line in text.splitlines() if line and not line.startswith("wine:")]

    def release_and_finish(self):
        """Releases the held helper, then (Result, the worker's own lines)."""
        self.release()
        result, trace = self.finish()
        return result, worker_lines(trace)
