#!/usr/bin/env python3
"""Benchmark of the install run's wait: prints, for one build, the median time
from the installer's end to the setup program's exit, the time from pressing
"Install" until the dialog is hidden, and the program's CPU time while it
waits for a 10-second installer, as a share of that time (install method 0,
through the dialog). For install method 2 (through the install driver, on a
starter that launches a helper and ends): the median time from the helper's
end to the end of the wait, and the driver's CPU time while it searches for
a name that appears only after 10 seconds, as a share of that time. For the
waits whose passes cannot wait on the process (through the install driver):
the driver's CPU time over 10 seconds of each, as a share of that time:
method 0 and method 2 with the process's end ignored, and method 2 whose
found process could not be opened (no handle to wait on).

  tools/bench/install_wait.py BUILD_DIR [--runs N] [--installer-seconds S] [--methods 0,2,pauses]

BUILD_DIR is a linux or windows build folder with the stand-in installer
built, and bin/ToolbarSetup[.exe] for method 0 and bin/nvk_install_driver[.exe]
for method 2. Linux runs on a private Xvfb; the Windows build
runs under Wine on a private Xvfb and Wine prefix in BUILD_DIR/bench-run.

How it measures: the stand-in installer is held on a release file; the clock
starts when the file is written (the stand-in looks for it every 20 ms, so up
to 20 ms of each figure is the stand-in's) and stops when the program's exit
is seen by its parent (Linux: the program itself; Windows: the launcher,
which exits with the program). CPU is utime + stime from /proc/PID/stat of the
program (Linux) or of the wine process running ToolbarSetup.exe and of the
wineserver (Windows), sampled from the installer's start until shortly before
its end. Method 2 is measured the same way: the helper is held on a release
file (looked for every 20 ms), released once the search has found it; the
search's CPU is sampled from the starter's start until shortly before it
launches the helper. The waits without a process to wait on run with a
time-out a few seconds beyond the sample: the driver's CPU is sampled for
installer-seconds from the helper's start (the search has found it by then
where there is one), and the wait must then end by the time-out.
"""

import argparse
import os
import statistics
import subprocess
import sys
import time
from pathlib import Path


def setup_environment(build):
    here = Path(__file__).resolve().parents[2]
    windows = any((build / "bin" / name).exists() for name in ("ToolbarSetup.exe", "nvk_install_driver.exe"))
    os.environ["NVK_RUN_DIR"] = str(build / "bench-run")
    os.environ["NVK_BIN_DIR"] = str(build / "bin")
    os.environ["NVK_SUPPORT"] = str(here / "tests" / "support")
    os.environ["NVK_WINDOWS"] = "1" if windows else "0"
    sys.path.insert(0, os.environ["NVK_SUPPORT"])
    return here, windows


CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    """utime + stime of the process, in seconds; None when it is gone."""
    try:
        stat = Path(f"/proc/{pid}/stat").read_text()
    except (FileNotFoundError, ProcessLookupError):
        return None
    fields = stat[stat.rindex(")") + 2:].split()
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS


def processes_with(name, marker):
    """Pids of the processes whose program is name and whose environment
    holds the marker. (Wine's processes are not children of their starter.)"""
    found = []
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            argv0 = (entry / "cmdline").read_bytes().split(b"\0")[0]
            if argv0.endswith(name.encode()) and marker.encode() in (entry / "environ").read_bytes():
                found.append(int(entry.name))
        except OSError:
            pass
    return found


def wineserver_pid(prefix):
    """The wineserver of the given prefix."""
    for entry in Path("/proc").iterdir():
        if entry.name.isdigit():
            try:
                if ((entry / "comm").read_text().startswith("wineserver")
                        and f"WINEPREFIX={prefix}\0".encode() in (entry / "environ").read_bytes()):
                    return int(entry.name)
            except OSError:
                pass
    return None


def measure_method0(options, windows, install_run, systest):
    """Method 0 through the dialog: (exit times, hide times, CPU report lines)."""
    run_dir = systest.RUN_DIR
    display = systest.display()
    exits, hides = [], []
    for index in range(options.runs):
        folder = run_dir / f"exit-{index}"
        subprocess.run(["rm", "-rf", str(folder)], check=True)
        install_run.stage_programs(folder)
        with install_run.SetupRun(folder, [], display, hold=True) as run:
            if run.wait_window() is None:
                raise SystemExit("the dialog did not appear")
            pressed = time.monotonic()
            run.press(install_run.INSTALL_BUTTON)
            if not run.wait_records():
                raise SystemExit("the installer was not launched")
            systest.poll(lambda: not run.dialog_shown(), interval=0.01)
            hides.append(time.monotonic() - pressed)
            time.sleep(0.5)
            released = time.monotonic()
            run.release()
            run.process.popen.wait(timeout=systest.PROCESS_TIMEOUT)
            exits.append(time.monotonic() - released)
            result, _ = run.finish()
            if result.returncode != 0:
                raise SystemExit(f"exit code {result.returncode}")

    # CPU while waiting for a long installer.
    folder = run_dir / "cpu"
    subprocess.run(["rm", "-rf", str(folder)], check=True)
    install_run.stage_programs(folder)
    milliseconds = int(options.installer_seconds * 1000)
    with install_run.SetupRun(folder, [], display, NVK_STANDIN_SLEEP_MS=milliseconds) as run:
        run.wait_window()
        run.press(install_run.INSTALL_BUTTON)
        if not run.wait_records():
            raise SystemExit("the installer was not launched")
        cpu = CpuSample(windows, "ToolbarSetup.exe", run.log, run.process.pid, systest)
        time.sleep(max(options.installer_seconds - 1.0, 0.5))
        report = cpu.report("wine process of ToolbarSetup.exe" if windows else "program", "waiting")
        run.finish()
    return exits, hides, report


def measure_method2(options, windows, install_run, systest):
    """Method 2 through the install driver: (wait-end times, CPU report lines)."""
    run_dir = systest.RUN_DIR
    search = ["/NAME:SetupProgram", "/SEARCH"]
    ends = []
    for index in range(options.runs):
        folder = run_dir / f"m2-end-{index}"
        subprocess.run(["rm", "-rf", str(folder)], check=True)
        install_run.stage_starter(folder)
        with install_run.DriverRun(folder, 2, search) as run:
            if len(run.wait_records(2)) < 2:
                raise SystemExit("the helper did not start")
            time.sleep(1.0)  # several search passes: the helper has been found
            released = time.monotonic()
            run.release()
            run.process.popen.wait(timeout=systest.PROCESS_TIMEOUT)
            ends.append(time.monotonic() - released)
            result, trace = run.finish()
            if result.returncode != 0 or "Break by handle closed" not in trace:
                raise SystemExit(f"method 2 run failed: {result} {trace}")
        reap(windows, install_run)

    # CPU while searching for a helper that the starter launches after a while.
    folder = run_dir / "m2-cpu"
    subprocess.run(["rm", "-rf", str(folder)], check=True)
    install_run.stage_starter(folder)
    milliseconds = int(options.installer_seconds * 1000)
    with install_run.DriverRun(folder, 2, search, delay_ms=milliseconds) as run:
        if not run.wait_records(1):
            raise SystemExit("the starter was not launched")
        cpu = CpuSample(windows, "nvk_install_driver.exe", run.log, run.process.pid, systest)
        time.sleep(max(options.installer_seconds - 1.0, 0.5))
        report = cpu.report("wine process of the driver" if windows else "driver", "searching")
        if len(run.records()) != 1:
            raise SystemExit("the helper appeared too early")
        # The helper appears, is found, and is then let go.
        if len(run.wait_records(2)) < 2:
            raise SystemExit("the helper did not start")
        time.sleep(1.0)
        run.release()
        result, trace = run.finish()
        if "Exe Found : " + install_run.HELPER not in trace:
            raise SystemExit(f"the helper was not found: {trace}")
    reap(windows, install_run)
    return ends, report


# The waits whose passes have no process to wait on: (label, install method,
# driver options). The starter's helper is held until the end; with /NOOPEN
# the search finds it but cannot open it, as one that ended before it was
# opened.
PAUSING_WAITS = (
    ("method 0, the process's end ignored", 0, ["/IGNOREEND"]),
    ("method 2, the process's end ignored", 2, ["/IGNOREEND"]),
    ("method 2, the found process not opened", 2, ["/NAME:SetupProgram", "/SEARCH", "/NOOPEN"]),
)


def measure_pauses(options, windows, install_run, systest):
    """The pausing waits through the install driver: CPU report lines."""
    run_dir = systest.RUN_DIR
    timeout = int(options.installer_seconds) + 3
    report = []
    for index, (label, method, driver_options) in enumerate(PAUSING_WAITS):
        folder = run_dir / f"pause-{index}"
        subprocess.run(["rm", "-rf", str(folder)], check=True)
        install_run.stage_starter(folder)
        with install_run.DriverRun(folder, method, driver_options + [f"/TIMEOUT:{timeout}"]) as run:
            if len(run.wait_records(2)) < 2:
                raise SystemExit("the helper did not start")
            cpu = CpuSample(windows, "nvk_install_driver.exe", run.log, run.process.pid, systest)
            time.sleep(options.installer_seconds)
            lines = cpu.report("wine process of the driver" if windows else "driver", "waiting")
            if not run.process.running():
                raise SystemExit(f"{label}: the wait ended within the sample")
            run.wait_driver_end()
            result, trace = run.release_and_finish()
            if "Break by time out" not in trace:
                raise SystemExit(f"{label}: the wait did not end by its time-out: {result} {trace}")
        reap(windows, install_run)
        report.append(f"  {label}:")
        report.extend("  " + line for line in lines)
    return report


class CpuSample:
    """CPU time of the program under test (and of the wineserver) from now on."""

    def __init__(self, windows, program_name, log, pid, systest):
        self.started = time.monotonic()
        if windows:
            self.pids = processes_with(program_name, "NVK_STANDIN_LOG=" + systest.windows_path(log))
            self.server = wineserver_pid(systest.wine_env()["WINEPREFIX"])
        else:
            self.pids, self.server = [pid], None
        self.before = {p: cpu_seconds(p) for p in self.pids}
        self.server_before = cpu_seconds(self.server) if self.server else None

    def report(self, label, what):
        elapsed = time.monotonic() - self.started
        used = sum(cpu_seconds(p) - self.before[p] for p in self.pids)
        lines = [f"  CPU of the {label} while {what} {elapsed:.1f} s: {used:.3f} s = {100 * used / elapsed:.2f} %"
                 f" (processes {self.pids})"]
        if self.server:
            server_used = cpu_seconds(self.server) - self.server_before
            lines.append(f"  CPU of the wineserver meanwhile: {server_used:.3f} s = {100 * server_used / elapsed:.2f} %")
        return lines


def reap(windows, install_run):
    """Linux: reaps the helpers that came to this subreaper."""
    if not windows:
        install_run.reap_orphans()


def median_line(label, values):
    return (f"  {label} median {statistics.median(values):.3f} s "
            f"(min {min(values):.3f}, max {max(values):.3f})")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", type=Path)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--installer-seconds", type=float, default=10.0)
    parser.add_argument("--methods", default="0,2,pauses",
                        help="what to measure, comma-separated: install methods 0 and 2, and the waits that pause")
    options = parser.parse_args()
    methods = {m.strip() for m in options.methods.split(",")}
    build = options.build.resolve()
    here, windows = setup_environment(build)
    import install_run
    import systest

    if not windows:
        # The helpers of method 2 outlive their starter: they come here to be reaped.
        install_run.become_subreaper()
    run_dir = systest.RUN_DIR
    run_dir.mkdir(parents=True, exist_ok=True)
    support = systest.SUPPORT_DIR
    subprocess.run([str(support / "xvfb"), "start", str(run_dir)], check=True, capture_output=True)
    try:
        if windows:
            print("starting a Wine prefix ...", file=sys.stderr)
            subprocess.run([str(support / "wineprefix"), "start", str(run_dir)], check=True, capture_output=True)
        if "0" in methods:
            exits, hides, report0 = measure_method0(options, windows, install_run, systest)
        if "2" in methods:
            ends, report2 = measure_method2(options, windows, install_run, systest)
        if "pauses" in methods:
            report_pauses = measure_pauses(options, windows, install_run, systest)
    finally:
        if windows:
            subprocess.run([str(support / "wineprefix"), "stop", str(run_dir)], capture_output=True)
        subprocess.run([str(support / "xvfb"), "stop", str(run_dir)], capture_output=True)

    name = "Windows build under Wine" if windows else "Linux build"
    print(f"{name}: {options.runs} runs")
    if "0" in methods:
        print("Install method 0 (the dialog's run):")
        print(median_line("installer's end to program's exit:", exits))
        print(median_line("Install pressed to dialog hidden: ", hides))
        print("\n".join(report0))
    if "2" in methods:
        print("Install method 2 (search for \"SetupProgram\", then wait for it):")
        print(median_line("helper's end to the wait's end:", ends))
        print("\n".join(report2))
    if "pauses" in methods:
        print(f"Waits without a process to wait on (install driver, {options.installer_seconds:g} s each):")
        print("\n".join(report_pauses))
    return 0


if __name__ == "__main__":
    sys.exit(main())
