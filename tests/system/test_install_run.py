"""The whole install run of the real program, pressed through its window:
"Install" launches the stand-in installer from the program's own folder with
"/r:NVKM" in that folder, the dialog stays hidden while the installer runs,
and the program ends with exit code 0 once the installer has ended, whatever
the installer's exit code or the children it leaves running. Linux runs on a
private X server, and what the program's session holds when it ends is
looked at: no process of the program's own, and no installer it launched
left unreaped. The Windows build runs under Wine on the run's display."""

import os
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, os.environ.get("NVK_SUPPORT", str(Path(__file__).resolve().parent.parent / "support")))
import install_run  # noqa: E402
import systest  # noqa: E402
from install_run import INSTALL_BUTTON, INSTALLER, SetupRun  # noqa: E402

# How long the held installer is watched: long enough for several passes of
# the worker's 200 ms wait, with nothing depending on its exact length.
WATCH_SECONDS = 1.5


class InstallRun(install_run.InstallRunCase):
    scratch_name = "install_run"

    def press_install(self, run):
        self.assertIsNotNone(run.wait_window(), "no Setup dialog appeared")
        run.press(INSTALL_BUTTON)

    def assert_launched_as_installer(self, record, folder):
        self.assertEqual(record["args"], ["/r:NVKM"])
        self.assertEqual(record["exe"], install_run.expected_path(folder / INSTALLER))
        self.assertEqual(record["cwd"], install_run.expected_path(folder))
        if systest.WINDOWS:
            self.assertEqual(record["cmdline"], '"' + systest.windows_path(folder / INSTALLER) + '" /r:NVKM')

    def test_install_hides_the_dialog_while_the_installer_runs_and_exits_after_it(self):
        folder = self.folder()
        with SetupRun(folder, [], self.display, hold=True) as run:
            self.press_install(run)
            records = run.wait_records()
            self.assertEqual(len(records), 1, "the installer was not launched")
            self.assert_launched_as_installer(records[0], folder)

            self.assertTrue(systest.poll(lambda: not run.dialog_shown()), "the dialog stayed visible")
            if not systest.WINDOWS:
                program, installer = run.process.pid, int(records[0]["run"])
                # The installer runs as the program's child and inherits no descriptor
                # beyond standard input, output and error.
                self.assertEqual(records[0]["fds"], [0, 1, 2])
                self.assertEqual(install_run.process_state(installer)[1], program)
                first = install_run.pidfd_count(program)
            time.sleep(WATCH_SECONDS)
            self.assertFalse(run.dialog_shown(), "the dialog came back while the installer ran")
            self.assertTrue(run.process.running(), "the program ended before its installer")
            if not systest.WINDOWS:
                # One launch handle, and at most one opened handle of the current pass:
                # the handles opened pass after pass are closed again.
                self.assertLessEqual(first, 2)
                self.assertLessEqual(install_run.pidfd_count(program), 2)

            run.release()
            result, trace = run.finish()
        self.assertEqual(result.returncode, 0, result)
        self.assertEqual(trace, [], "without /DEBUG nothing is traced")
        self.assertEqual(len(run.records()), 1)
        self.assert_nothing_left(run, records)

    def test_debug_trace_of_a_run(self):
        # The stand-in starts one short-lived child and then runs on for a
        # while, so that the tracker hears of both starts and the child's stop
        # well before the run ends.
        folder = self.folder()
        with SetupRun(folder, ["/DEBUG"], self.display, NVK_STANDIN_CHILDREN="1", NVK_STANDIN_CHILD_DELAY_MS="0",
                      NVK_STANDIN_CHILD_SLEEP_MS="0", NVK_STANDIN_SLEEP_MS="1500") as run:
            self.press_install(run)
            program = run.process.pid
            result, trace = run.finish()
        self.assertEqual(result.returncode, 0, result)
        self.assertEqual(install_run.worker_lines(trace), ["Install Method = 0", "Break by handle closed"])
        records = run.records()
        self.assertEqual(len(records), 2)
        self.assert_launched_as_installer(records[0], folder)
        self.assert_nothing_left(run, records[:1])
        if not systest.WINDOWS:
            # Method 0 records no tree, so the handlers read only the parents of
            # new processes and the ids of stopped ones.
            installer, child = records[0]["run"], records[1]["run"]
            self.assertIn(f"System Create PPID = {program}", trace, "the installer's start")
            self.assertIn(f"System Create PPID = {installer}", trace, "its child's start")
            self.assertIn(f"System Delete PID = {child}", trace, "its child's stop")
            self.assertNotIn("Create PID = " + child, trace, "nothing joins a tree")

    def test_the_end_of_the_installer_alone_ends_the_run(self):
        # (case, stand-in settings). The children sleep far beyond the bound of
        # the program's wait, so a program that waited for them would fail here.
        rows = [
            ("installer fails with exit code 3", {"NVK_STANDIN_EXIT_CODE": "3"}),
            ("installer runs for a while", {"NVK_STANDIN_SLEEP_MS": "1500"}),
            ("installer leaves two children running", {"NVK_STANDIN_CHILDREN": "2", "NVK_STANDIN_CHILD_DELAY_MS": "0",
                                                       "NVK_STANDIN_CHILD_SLEEP_MS": "600000"}),
        ]
        for case, settings in rows:
            with self.subTest(case=case):
                folder = self.folder()
                with SetupRun(folder, ["/DEBUG"], self.display, **settings) as run:
                    self.press_install(run)
                    result, trace = run.finish()
                self.assertEqual(result.returncode, 0, result)
                self.assertEqual(install_run.worker_lines(trace), ["Install Method = 0", "Break by handle closed"])
                records = run.records()
                self.assert_launched_as_installer(records[0], folder)
                self.assert_nothing_left(run, records[:1])


if __name__ == "__main__":
    unittest.main(verbosity=2)
