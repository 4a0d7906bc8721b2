#!/usr/bin/env python3
"""Benchmark of the install run's wait: prints, for one build, the median time
from the installer's end to the setup program's exit, the time from pressing
"Install" until the dialog is hidden, and the program's CPU time while it
waits for a 10-second installer, as a share of that time.

  tools/bench/install_wait.py BUILD_DIR [--runs N] [--installer-seconds S]

BUILD_DIR is a linux or windows build folder (bin/ToolbarSetup[.exe] and the
stand-in installer built). Linux runs on a private Xvfb; the Windows build
runs under Wine on a private Xvfb and Wine prefix in BUILD_DIR/bench-run.

How it measures: the stand-in installer is held on a release file; the clock
starts when the file is written (the stand-in looks for it every 20 ms, so up
to 20 ms of each figure is the stand-in's) and stops when the program's exit
is seen by its parent (Linux: the program itself; Windows: the launcher,
which exits with the program). CPU is utime + stime from /proc/PID/stat of the
program (Linux) or of the wine process running ToolbarSetup.exe and of the
wineserver (Windows), sampled from the installer's start until shortly before
its end.
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
    windows = (build / "bin" / "ToolbarSetup.exe").exists()
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


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", type=Path)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--installer-seconds", type=float, default=10.0)
    options = parser.parse_args()
    build = options.build.resolve()
    here, windows = setup_environment(build)
    import install_run
    import systest

    run_dir = systest.RUN_DIR
    run_dir.mkdir(parents=True, exist_ok=True)
    support = systest.SUPPORT_DIR
    subprocess.run([str(support / "xvfb"), "start", str(run_dir)], check=True, capture_output=True)
    try:
        if windows:
            print("starting a Wine prefix ...", file=sys.stderr)
            subprocess.run([str(support / "wineprefix"), "start", str(run_dir)], check=True, capture_output=True)
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
            started = time.monotonic()
            if windows:
                pids = processes_with("ToolbarSetup.exe", "NVK_STANDIN_LOG=" + systest.windows_path(run.log))
                server = wineserver_pid(systest.wine_env()["WINEPREFIX"])
            else:
                pids, server = [run.process.pid], None
            before = {p: cpu_seconds(p) for p in pids}
            server_before = cpu_seconds(server) if server else None
            time.sleep(max(options.installer_seconds - 1.0, 0.5))
            elapsed = time.monotonic() - started
            used = sum(cpu_seconds(p) - before[p] for p in pids)
            server_used = cpu_seconds(server) - server_before if server else None
            result, _ = run.finish()
    finally:
        if windows:
            subprocess.run([str(support / "wineprefix"), "stop", str(run_dir)], capture_output=True)
        subprocess.run([str(support / "xvfb"), "stop", str(run_dir)], capture_output=True)

    name = "Windows build under Wine" if windows else "Linux build"
    print(f"{name}: {options.runs} runs")
    print(f"  installer's end to program's exit: median {statistics.median(exits):.3f} s "
          f"(min {min(exits):.3f}, max {max(exits):.3f})")
    print(f"  Install pressed to dialog hidden:  median {statistics.median(hides):.3f} s "
          f"(min {min(hides):.3f}, max {max(hides):.3f})")
    label = "wine process of ToolbarSetup.exe" if windows else "program"
    print(f"  CPU of the {label} while waiting {elapsed:.1f} s: {used:.3f} s = {100 * used / elapsed:.2f} %"
          f" (processes {pids})")
    if server_used is not None:
        print(f"  CPU of the wineserver meanwhile: {server_used:.3f} s = {100 * server_used / elapsed:.2f} %")
    return 0


if __name__ == "__main__":
    sys.exit(main())
