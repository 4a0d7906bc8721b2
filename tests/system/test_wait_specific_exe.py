"""Install method 2 end to end, through the worker on the real process
services (the install driver runs it): the stand-in installer is only a
starter that launches a helper named LongHelperSetupProgram.exe and ends at
once. Searching for "SetupProgram" (beyond the kernel's 15-character short
name, so only the full executable name matches) waits until the helper has
ended; without the search the wait ends with the starter; with a 2-second
time-out and a helper that runs on, the wait ends with "Break by time out".
The helper is held on a release file, so the test decides when it ends;
only in the case of the program's own name is it a helper that ends by itself
after 1 s, while the driver runs as a copy whose name holds the searched-for
name too.
Linux runs natively; the Windows build runs under the run's Wine."""

import os
import shutil
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, os.environ.get("NVK_SUPPORT", str(Path(__file__).resolve().parent.parent / "support")))
import install_run  # noqa: E402
import systest  # noqa: E402
from install_run import DriverRun  # noqa: E402

HELPER = install_run.HELPER
ENTER = "====Enter INSTALLMETHOD::WaitSpecificExe===="
LEAVE = "====Leave INSTALLMETHOD::WaitSpecificExe===="
# How long a running wait is watched before the helper is released: several
# of the worker's 200 ms passes, with nothing depending on its exact length.
WATCH_SECONDS = 1.5
# The driver's copy whose name holds the searched-for name, as the program's
# own name ToolbarSetup.exe holds "Setup" (a name of its own: no other test's
# program may match), and its helper, which runs for HELPER_MS.
SELF = "SelfWaitSetup"
SELF_HELPER = SELF + "Helper.exe"
HELPER_MS = 1000
# A time-out far beyond the helper's life: a wait for the driver's own end
# would end only by it.
SELF_TIMEOUT = 15


class WaitSpecificExe(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = systest.scratch_dir("wait_specific_exe")
        cls.cases = 0

    def folder(self, helper=HELPER):
        type(self).cases += 1
        folder = self.root / f"case-{self.cases}"
        install_run.stage_starter(folder, helper)
        return folder

    def started_pair(self, run):
        """(starter record, helper record) once both have started."""
        records = run.wait_records(2)
        self.assertEqual(len(records), 2, "the starter or its helper did not start")
        starter, helper = records
        self.assertTrue(helper["exe"].endswith(run.helper), helper)
        self.assertEqual(helper["starter"], starter["run"])
        return starter, helper

    def assert_ended(self, pid):
        """Linux: the process has ended (gone, or a zombie not yet reaped)."""
        if not systest.WINDOWS:
            state = install_run.process_state(pid)
            self.assertTrue(state is None or state[0] == "Z", f"process {pid} still runs: {state}")

    def assert_running(self, pid):
        if not systest.WINDOWS:
            state = install_run.process_state(pid)
            self.assertTrue(state is not None and state[0] != "Z", f"process {pid} is not running: {state}")

    def assert_found_helper(self, trace, last, helper=HELPER):
        self.assertEqual(len(trace), 8, trace)
        self.assertEqual(trace[:2], ["Install Method = 2", ENTER])
        self.assertRegex(trace[2], r"^Handle : -?[1-9][0-9]*$")
        self.assertRegex(trace[3], r"^Error Code : -?[0-9]+$")
        self.assertEqual(trace[4], "Exe Found : " + helper)
        self.assertEqual(trace[5], trace[2], "the handle stored is the handle opened")
        self.assertEqual(trace[6:], [last, LEAVE])

    def test_searching_waits_until_the_helper_has_ended(self):
        folder = self.folder()
        with DriverRun(folder, 2, ["/NAME:SetupProgram", "/SEARCH"]) as run:
            starter, helper = self.started_pair(run)
            if not systest.WINDOWS:
                # The kernel's short name stops before the searched-for part.
                self.assertEqual(Path(f"/proc/{helper['run']}/comm").read_text().strip(), "LongHelperSetup")
                # The starter ends at once and is reaped by the driver.
                self.assertTrue(systest.poll(lambda: install_run.process_state(int(starter["run"])) is None),
                                "the starter was not reaped")
            time.sleep(WATCH_SECONDS)
            self.assertTrue(run.process.running(), "the wait ended while the helper still ran")
            self.assert_running(int(helper["run"]))
            result, trace = run.release_and_finish()
        self.assertEqual(result.returncode, 0, result)
        self.assert_found_helper(trace, "Break by handle closed")
        self.assert_ended(int(helper["run"]))

    def test_without_searching_the_end_of_the_starter_ends_the_wait(self):
        folder = self.folder()
        with DriverRun(folder, 2, ["/NAME:SetupProgram"]) as run:
            _, helper = self.started_pair(run)
            run.wait_driver_end()
            # Nothing released the helper yet: it still waits.
            self.assertFalse(run.release_file.exists())
            self.assert_running(int(helper["run"]))
            result, trace = run.release_and_finish()
        self.assertEqual(result.returncode, 0, result)
        self.assertEqual(trace, ["Install Method = 2", ENTER, "Break by handle closed", LEAVE])

    def test_a_time_out_ends_the_wait_for_a_helper_that_runs_on(self):
        folder = self.folder()
        with DriverRun(folder, 2, ["/NAME:SetupProgram", "/SEARCH", "/TIMEOUT:2"]) as run:
            started = time.monotonic()
            _, helper = self.started_pair(run)
            run.wait_driver_end()
            elapsed = time.monotonic() - started
            self.assertFalse(run.release_file.exists())
            self.assert_running(int(helper["run"]))
            result, trace = run.release_and_finish()
        self.assertEqual(result.returncode, 0, result)
        self.assert_found_helper(trace, "Break by time out")
        # More than two whole calendar seconds must have passed.
        self.assertGreater(elapsed, 2.0)

    def test_the_search_passes_over_the_programs_own_process(self):
        """The running program's own name holds the searched-for name: the
        search finds the helper, not the program itself, and the wait ends
        with the helper's end, not by the time-out."""
        folder = self.folder(SELF_HELPER)
        driver = folder / (SELF + ".exe" if systest.WINDOWS else SELF)
        shutil.copy2(systest.program("nvk_install_driver"), driver)
        options = [f"/NAME:{SELF}", "/SEARCH", f"/TIMEOUT:{SELF_TIMEOUT}"]
        with DriverRun(folder, 2, options, helper=SELF_HELPER, helper_ms=HELPER_MS, driver=driver) as run:
            _, helper = self.started_pair(run)
            run.wait_driver_end()
            result, trace = run.release_and_finish()
        self.assertEqual(result.returncode, 0, result)
        self.assert_found_helper(trace, "Break by handle closed", SELF_HELPER)
        self.assert_ended(int(helper["run"]))


if __name__ == "__main__":
    unittest.main(verbosity=2)
