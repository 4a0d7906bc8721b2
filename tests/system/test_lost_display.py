"""The Linux program when its X server goes away under it: killed under a
dialog that waits for "Install", the program ends at once with exit code 0;
killed while an install runs, the program goes on waiting without X and ends
with exit code 0 once the installer has ended. In both it uses next to no
processor time meanwhile (never a busy loop). Each case has an X server of
its own, which the test kills."""

import os
import signal
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, os.environ.get("NVK_SUPPORT", str(Path(__file__).resolve().parent.parent / "support")))
import install_run  # noqa: E402
import systest  # noqa: E402
from install_run import INSTALL_BUTTON, SetupRun  # noqa: E402

# What the program may take once the server is gone: its exit within 5 s,
# and under a tenth of the processor while it runs on. A program that exits
# at once spends a few milliseconds on its exit alone, so the share is taken
# of at least one second: a busy loop would fill nearly all of it.
EXIT_BOUND = 5.0
CPU_SHARE = 0.10
SHARE_FLOOR = 1.0
# The installer outlives the server by this much.
INSTALLER_AFTER_KILL = 2.0


def cpu_seconds(pid):
    """Processor time the process's threads have used so far (from each
    thread's schedstat, in nanoseconds)."""
    total = 0
    for task in Path(f"/proc/{pid}/task").iterdir():
        try:
            total += int((task / "schedstat").read_text().split()[0])
        except (FileNotFoundError, ProcessLookupError):
            pass
    return total / 1e9


def wait_with_usage(process, bound):
    """Waits for the program's end at most `bound` seconds: (exit code, its
    whole processor time in seconds), or (None, None) if it still runs."""
    deadline = time.monotonic() + bound
    while True:
        pid, status, usage = os.wait4(process.pid, os.WNOHANG)
        if pid == process.pid:
            process.popen.returncode = os.waitstatus_to_exitcode(status)
            return process.popen.returncode, usage.ru_utime + usage.ru_stime
        if time.monotonic() >= deadline:
            return None, None
        time.sleep(0.02)


class LostDisplay(install_run.InstallRunCase):
    scratch_name = "lost_display"

    def setUp(self):
        self.server_dir = systest.RUN_DIR / "xprivate" / ("lost-" + self.id().rsplit(".", 1)[-1])
        self.server = install_run.private_display(self.server_dir.name)
        self.server_display = self.server.__enter__()

    def tearDown(self):
        self.server.__exit__(None, None, None)

    def kill_server(self):
        pid = int((self.server_dir / "xvfb.pid").read_text())
        os.kill(pid, signal.SIGKILL)

    def assert_quiet(self, before_kill, cpu_total, killed_at, ended_at):
        used = cpu_total - before_kill
        ran = ended_at - killed_at
        self.assertLess(used, CPU_SHARE * max(ran, SHARE_FLOOR),
                        f"{used:.3f} s of processor time in the {ran:.3f} s after the kill")

    def test_server_killed_under_a_waiting_dialog(self):
        with SetupRun(self.folder(), ["/DEBUG"], self.server_display) as run:
            self.assertIsNotNone(run.wait_window(), "no Setup dialog appeared")
            time.sleep(0.5)  # the dialog idles, waiting for "Install"
            before = cpu_seconds(run.process.pid)
            killed_at = time.monotonic()
            self.kill_server()
            code, cpu = wait_with_usage(run.process, EXIT_BOUND)
            ended_at = time.monotonic()
            self.assertEqual(code, 0, f"no exit with code 0 within {EXIT_BOUND} s of the kill")
        self.assert_quiet(before, cpu, killed_at, ended_at)
        self.assertEqual(run.records(), [])

    def test_server_killed_while_the_installer_runs(self):
        with SetupRun(self.folder(), ["/DEBUG"], self.server_display, hold=True) as run:
            self.assertIsNotNone(run.wait_window(), "no Setup dialog appeared")
            run.press(INSTALL_BUTTON)
            self.assertEqual(len(run.wait_records()), 1, "the installer was not launched")
            before = cpu_seconds(run.process.pid)
            killed_at = time.monotonic()
            self.kill_server()
            time.sleep(INSTALLER_AFTER_KILL)
            self.assertTrue(run.process.running(), "the program ended before its installer")
            run.release()
            code, cpu = wait_with_usage(run.process, EXIT_BOUND)
            ended_at = time.monotonic()
            self.assertEqual(code, 0, f"no exit with code 0 within {EXIT_BOUND} s of the installer's end")
            trace = run.process._read(run.process._err).splitlines()
        self.assert_quiet(before, cpu, killed_at, ended_at)
        self.assertEqual(install_run.worker_lines(trace), ["Install Method = 0", "Break by handle closed"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
