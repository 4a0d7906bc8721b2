"""Edge cases of the install run of the real program: a missing installer, a
copy request, the check box, closing before "Install", an installer named in
another letter case, an empty installer file name, an installer name far
beyond the system's path limit, and a close request while the installer runs. Every run ends with
exit code 0 and never reports a failed launch as a finished wait. Linux runs
on a private X server; the Windows build runs under Wine on the run's display,
where the system's own boxes and windows are dismissed from the Windows side."""

import os
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, os.environ.get("NVK_SUPPORT", str(Path(__file__).resolve().parent.parent / "support")))
import install_run  # noqa: E402
import systest  # noqa: E402
from install_run import CHECK_BOX, INSTALL_BUTTON, INSTALLER, TOOL, SetupRun  # noqa: E402

WINDOW_MS = int(systest.WINDOW_TIMEOUT * 1000)


class InstallEdges(install_run.InstallRunCase):
    scratch_name = "install_edges"

    def show(self, run):
        self.assertIsNotNone(run.wait_window(), "no Setup dialog appeared")

    def test_missing_installer_fails_the_launch_and_the_dialog_closes(self):
        with SetupRun(self.folder(installers=()), ["/DEBUG"], self.display) as run:
            self.show(run)
            run.press(INSTALL_BUTTON)
            if systest.WINDOWS:
                # The launch does not suppress the system's own message.
                box = systest.wintool("message-box", "Error", WINDOW_MS, run.process.windows_pid)
                self.assertEqual(box.returncode, 0, box)
                self.assertEqual(box.stdout.strip(), "text:File not found.")
            result, trace = run.finish()
        self.assertEqual(result.returncode, 0, result)
        # No wait ran: a failed launch is not followed by a finished wait.
        self.assertEqual(install_run.worker_lines(trace), ["Install Method = 0"])

    def test_copy_request_launches_nothing(self):
        folder = self.folder()
        with SetupRun(folder, ["/FILE:COPYFILE", "/DEBUG"], self.display) as run:
            self.show(run)
            run.press(INSTALL_BUTTON)
            result, trace = run.finish()
        self.assertEqual(result.returncode, 0, result)
        self.assertEqual(install_run.worker_lines(trace), [])
        self.assertEqual(run.records(), [])

    def test_unticked_check_box_changes_nothing(self):
        folder = self.folder()
        with SetupRun(folder, ["/DEBUG"], self.display) as run:
            self.show(run)
            before = install_run.pixels(self.display, run.window, CHECK_BOX)
            run.press(CHECK_BOX)
            # The box is drawn anew without its tick.
            changed = systest.poll(lambda: install_run.pixels(self.display, run.window, CHECK_BOX) != before)
            self.assertTrue(changed, "the check box did not change when pressed")
            run.press(INSTALL_BUTTON)
            result, trace = run.finish()
        self.assertEqual(result.returncode, 0, result)
        self.assertEqual(install_run.worker_lines(trace), ["Install Method = 0", "Break by handle closed"])
        records = run.records()
        self.assertEqual(len(records), 1)
        self.assertEqual(records[0]["args"], ["/r:NVKM"])
        self.assertEqual(records[0]["exe"], install_run.expected_path(folder / INSTALLER))

    def test_closing_before_install_launches_nothing(self):
        with SetupRun(self.folder(), ["/DEBUG"], self.display) as run:
            self.show(run)
            self.assertTrue(run.close_dialog())
            result, trace = run.finish()
        self.assertEqual(result.returncode, 0, result)
        self.assertEqual(trace, [], "no worker, so no tracker either")
        self.assertEqual(run.records(), [])

    def test_installer_named_in_another_letter_case_is_found(self):
        # The value reaches the program upper-cased (TOOL.EXE); the file is tool.exe.
        folder = self.folder(installers=(TOOL,))
        with SetupRun(folder, ["/file:tool.exe", "/DEBUG"], self.display) as run:
            self.show(run)
            run.press(INSTALL_BUTTON)
            result, trace = run.finish()
        self.assertEqual(result.returncode, 0, result)
        self.assertEqual(install_run.worker_lines(trace), ["Install Method = 0", "Break by handle closed"])
        records = run.records()
        self.assertEqual(len(records), 1)
        self.assertEqual(records[0]["args"], ["/r:NVKM"])
        self.assertEqual(records[0]["cwd"], install_run.expected_path(folder))
        if not systest.WINDOWS:
            self.assertEqual(records[0]["exe"], str((folder / TOOL).resolve()))

    def test_empty_file_name_hands_the_folder_to_the_launch(self):
        folder = self.folder()
        with SetupRun(folder, ["/FILE:", "/DEBUG"], self.display) as run:
            self.show(run)
            run.press(INSTALL_BUTTON)
            if systest.WINDOWS:
                # The folder opens in a window of its own, which the run waits for.
                opened = systest.wintool("window", folder.name, WINDOW_MS)
                self.assertEqual(opened.returncode, 0, opened)
                self.assertTrue(run.process.running(), "the program did not wait for the opened folder")
                self.assertEqual(systest.wintool("close", folder.name).returncode, 0)
            result, trace = run.finish()
        self.assertEqual(result.returncode, 0, result)
        if systest.WINDOWS:
            self.assertEqual(install_run.worker_lines(trace), ["Install Method = 0", "Break by handle closed"])
        else:
            # A folder is no program: the launch fails and the program ends.
            self.assertEqual(install_run.worker_lines(trace), ["Install Method = 0"])
        self.assertEqual(run.records(), [])

    def test_overlong_file_name_fails_the_launch_cleanly(self):
        # Far beyond the system's path limit: the launch fails as for a missing
        # file, without the system's own message, and the program ends.
        with SetupRun(self.folder(), ["/FILE:" + "A" * 5000, "/DEBUG"], self.display) as run:
            self.show(run)
            run.press(INSTALL_BUTTON)
            result, trace = run.finish()
        self.assertEqual(result.returncode, 0, result)
        self.assertEqual(install_run.worker_lines(trace), ["Install Method = 0"])
        self.assertEqual(run.records(), [])

    def test_close_request_while_the_installer_runs_is_ignored(self):
        folder = self.folder()
        # The installer runs until the test releases it (at least 5 s here), so
        # that a slow hide under load cannot let it end before the request.
        with SetupRun(folder, ["/DEBUG"], self.display, hold=True) as run:
            self.show(run)
            window = run.window
            run.press(INSTALL_BUTTON)
            self.assertEqual(len(run.wait_records()), 1, "the installer was not launched")
            started = time.monotonic()
            self.assertTrue(systest.poll(lambda: not run.dialog_shown()), "the dialog stayed visible")
            if systest.WINDOWS:
                # A polite close request to the hidden dialog, as another program's WM_CLOSE.
                asked = systest.wintool("close-hidden", "Setup", run.process.windows_pid)
                self.assertEqual(asked.returncode, 0, asked)
            else:
                # The hidden dialog's X window, if it is still there, is asked to close.
                install_run.close_x_window(self.display, window)
            time.sleep(max(1.0, 5.0 - (time.monotonic() - started)))
            self.assertTrue(run.process.running(), "the close request ended the program while its installer ran")
            run.release()
            result, trace = run.finish()
        self.assertEqual(result.returncode, 0, result)
        # The wait ran to the installer's end.
        self.assertEqual(install_run.worker_lines(trace), ["Install Method = 0", "Break by handle closed"])
        self.assertEqual(len(run.records()), 1)


if __name__ == "__main__":
    unittest.main(verbosity=2)
