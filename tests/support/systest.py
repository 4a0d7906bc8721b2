"""Helpers of the system tests: run the built programs natively or under the
test run's Wine, capture a Windows program's console, poll with generous
bounds, and find and drive windows (X on Linux, the Windows-side tools under
Wine).

The environment comes from ctest (see nvk_add_system_test): NVK_RUN_DIR,
NVK_BIN_DIR, NVK_SUPPORT and NVK_WINDOWS.  Every process started here runs in
its own session and is killed, with everything it started, when its test is
done with it or its time is up.
"""

import os
import re
import shlex
import shutil
import signal
import subprocess
import tempfile
import time
from contextlib import contextmanager
from pathlib import Path

RUN_DIR = Path(os.environ.get("NVK_RUN_DIR", "."))
BIN_DIR = Path(os.environ.get("NVK_BIN_DIR", "."))
SUPPORT_DIR = Path(os.environ.get("NVK_SUPPORT", Path(__file__).resolve().parent))
WINDOWS = os.environ.get("NVK_WINDOWS", "0") in ("1", "ON", "TRUE", "true")

# Bounds: far above what any step takes, so that only a fault reaches them.
PROCESS_TIMEOUT = 120.0
WINDOW_TIMEOUT = 60.0


def program(name):
    """The path of a built program, with ".exe" in the Windows build."""
    return BIN_DIR / (name + ".exe" if WINDOWS else name)


def scratch_dir(name):
    """A fresh, empty folder for one test under the run folder."""
    folder = RUN_DIR / "system" / name
    if folder.exists():
        shutil.rmtree(folder)
    folder.mkdir(parents=True)
    return folder


def display():
    """The run's X display (":N"), written by the xvfb fixture."""
    return (RUN_DIR / "display").read_text().strip()


def windows_path(path):
    """A Linux path as the Windows build sees it through drive Z:."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def poll(predicate, timeout=WINDOW_TIMEOUT, interval=0.05):
    """Calls predicate until it returns something true and returns that;
    returns the last (false) result once the bound has passed."""
    deadline = time.monotonic() + timeout
    while True:
        result = predicate()
        if result or time.monotonic() >= deadline:
            return result
        time.sleep(interval)


# --- processes -------------------------------------------------------------

class Result:
    def __init__(self, returncode, stdout, stderr):
        self.returncode = returncode
        self.stdout = stdout
        self.stderr = stderr

    def __repr__(self):
        return f"Result(returncode={self.returncode}, stdout={self.stdout!r}, stderr={self.stderr!r})"


class Process:
    """A started program in its own session; its output is collected in files
    so that nothing blocks on a full pipe."""

    def __init__(self, argv, env, cwd=None):
        self._out = _temp_file("stdout")
        self._err = _temp_file("stderr")
        self.popen = subprocess.Popen(argv, env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                                      stdout=self._out, stderr=self._err, start_new_session=True)

    @property
    def pid(self):
        return self.popen.pid

    def running(self):
        return self.popen.poll() is None

    def wait(self, timeout=PROCESS_TIMEOUT):
        """Waits for the end and returns the Result; kills the whole session and
        raises TimeoutError when the bound passes."""
        try:
            code = self.popen.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise TimeoutError(f"{self.popen.args!r} still ran after {timeout} s; killed. "
                               f"Output so far: {self._read(self._out)!r} {self._read(self._err)!r}")
        self._kill_session()  # whatever it left behind
        return Result(code, self._read(self._out), self._read(self._err))

    def close(self):
        """Kills the program if it still runs and drops the collected output."""
        if self.running():
            self.kill()
        self._out.close()
        self._err.close()

    def kill(self):
        self._kill_session()
        try:
            self.popen.wait(timeout=30)
        except subprocess.TimeoutExpired:
            pass

    def _kill_session(self):
        try:
            os.killpg(self.popen.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass

    @staticmethod
    def _read(handle):
        handle.flush()
        handle.seek(0)
        return handle.read().decode("utf-8", errors="replace")


def _temp_file(kind):
    return tempfile.TemporaryFile(prefix=f"nvk-{kind}-")


@contextmanager
def started(argv, env=None, cwd=None):
    """Starts a program for the duration of a with-block; kills it (and all it
    started) on the way out if it still runs."""
    process = Process(argv, env if env is not None else os.environ.copy(), cwd)
    try:
        yield process
    finally:
        process.close()


def run(argv, env=None, cwd=None, timeout=PROCESS_TIMEOUT):
    """Runs a program to its end and returns its Result."""
    with started(argv, env, cwd) as process:
        return process.wait(timeout)


def native_env(with_display, **extra):
    """The environment for a Linux program: the run's display or none."""
    env = os.environ.copy()
    env.pop("DISPLAY", None)
    if with_display:
        env["DISPLAY"] = display()
    env.update(extra)
    return env


# --- Wine --------------------------------------------------------------------

_wine_env_cache = None


def wine_env(**extra):
    """The environment of the run's Wine prefix and display (tests/support/wine-env)."""
    global _wine_env_cache
    if _wine_env_cache is None:
        dump = subprocess.run(["bash", "-c", '. "$1" && env -0', "wine-env", str(SUPPORT_DIR / "wine-env")],
                              check=True, capture_output=True, env=os.environ.copy()).stdout
        _wine_env_cache = dict(item.split("=", 1) for item in dump.decode().split("\0") if "=" in item)
    env = dict(_wine_env_cache)
    env.update(extra)
    return env


def launch_argv():
    """The command that starts the exact-command-line launcher under Wine."""
    return ["wine", str(program("nvk_launch"))]


def launch_env(command_line, program_file=None, folder=None, **extra):
    """The environment that makes the launcher start command_line exactly."""
    env = wine_env(NVK_LAUNCH_CMDLINE=command_line, **extra)
    if program_file is not None:
        env["NVK_LAUNCH_PROGRAM"] = program_file
    if folder is not None:
        env["NVK_LAUNCH_DIR"] = folder
    return env


def run_windows(command_line, timeout=PROCESS_TIMEOUT, **extra):
    """Runs a Windows program with exactly this command line under Wine."""
    return run(launch_argv(), launch_env(command_line, **extra), timeout=timeout)


@contextmanager
def started_windows(command_line, terminal=False, **launch):
    """Starts a Windows program with exactly this command line through the
    launcher (on a pseudo-terminal if asked) for the duration of a with-block.
    The yielded Process also carries windows_pid, the program's Windows
    process id, for telling its windows from any others."""
    pid_file = Path(tempfile.mkstemp(prefix="launch-", suffix=".pid", dir=RUN_DIR)[1])
    env = launch_env(command_line, NVK_LAUNCH_PID_FILE=windows_path(pid_file), **launch)
    argv = on_terminal(launch_argv()) if terminal else launch_argv()
    try:
        with started(argv, env) as process:
            text = poll(lambda: pid_file.read_text().strip() or not process.running(), PROCESS_TIMEOUT)
            if not isinstance(text, str):
                raise RuntimeError(f"the launcher started nothing: {process.wait()}")
            process.windows_pid = int(text)
            yield process
    finally:
        pid_file.unlink(missing_ok=True)


def on_terminal(argv):
    """The argv that runs argv on a pseudo-terminal, so that Wine passes a
    console's output on; read the output with terminal_text."""
    return ["script", "-qec", shlex.join(argv), "/dev/null"]


_CURSOR_FORWARD = re.compile(r"\x1b\[(\d*)C")
_ESCAPE = re.compile(r"\x1b(\[[0-9;?]*[ -/]*[@-~]|\][^\x07]*\x07|[@-Z\\-_])")


def terminal_text(raw):
    """What a terminal would show as text: escape sequences removed (a cursor
    step to the right counts as blanks), carriage returns dropped."""
    text = _CURSOR_FORWARD.sub(lambda m: " " * int(m.group(1) or "1"), raw)
    return _ESCAPE.sub("", text).replace("\r", "")


def wintool(*args, timeout=PROCESS_TIMEOUT):
    """Runs the Windows-side window tool under Wine and returns its Result."""
    return run(["wine", str(program("nvk_wintool")), *[str(a) for a in args]], wine_env(), timeout=timeout)


# --- X -----------------------------------------------------------------------

def x_env():
    return native_env(True)


def x_windows(name_regex, pid=None):
    """Ids of the X windows whose name matches the regex (and that belong to pid)."""
    argv = ["xdotool", "search", "--name", name_regex]
    if pid is not None:
        # Both must match: xdotool otherwise takes a window that meets either.
        argv[2:2] = ["--all", "--pid", str(pid)]
    result = subprocess.run(argv, capture_output=True, text=True, env=x_env(), timeout=PROCESS_TIMEOUT)
    return [int(line) for line in result.stdout.split()]


def wait_x_window(name_regex, pid=None, timeout=WINDOW_TIMEOUT):
    """The id of the first X window matching name_regex (and pid) once it is
    viewable, or None when none came in time."""
    def viewable():
        for window in x_windows(name_regex, pid):
            if x_geometry(window).get("Map State") == "IsViewable":
                return window
        return None
    return poll(viewable, timeout)


def x_geometry(window):
    """xwininfo's fields for the window, e.g. {"Width": "442", "Map State": "IsViewable"}."""
    result = subprocess.run(["xwininfo", "-id", str(window)], capture_output=True, text=True, env=x_env(),
                            timeout=PROCESS_TIMEOUT)
    fields = {}
    for line in result.stdout.splitlines():
        key, sep, value = line.strip().partition(": ")
        if sep:
            fields[key] = value.strip()
    return fields


def x_property(window, name):
    """xprop's text for one property of the window."""
    return subprocess.run(["xprop", "-id", str(window), name], capture_output=True, text=True, env=x_env(),
                          timeout=PROCESS_TIMEOUT).stdout


def x_helper(*args, timeout=PROCESS_TIMEOUT):
    """Runs the X helper (close WINDOW_ID, hold-shift-r SECONDS) on the run's display."""
    return run([str(program("nvk_x_helper")), *[str(a) for a in args]], x_env(), timeout=timeout)
