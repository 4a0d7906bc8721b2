"""The entry point's exception guard on the build's own framework: a failure
while the main form is built is shown to the user and the process still ends
with exit code 0. Linux without a display writes the message to standard
error; Windows shows a message box, which the test reads and dismisses."""

import os
import sys
import unittest
from pathlib import Path

sys.path.insert(0, os.environ.get("NVK_SUPPORT", str(Path(__file__).resolve().parent.parent / "support")))
import systest  # noqa: E402

PROBE = "nvk_entry_guard_probe"
MESSAGE = "The form could not be built: \u00e9\u0436"  # as the probe throws it

# (kind of exception the form throws, message shown)
CASES = [
    ("exception", MESSAGE),
    ("standard", ""),  # anything but the framework's Exception shows an empty message
]


@unittest.skipIf(systest.WINDOWS, "Linux framework")
class LinuxGuard(unittest.TestCase):
    def test_message_goes_to_standard_error_without_a_display(self):
        for kind, message in CASES:
            with self.subTest(kind=kind):
                result = systest.run([str(systest.program(PROBE))],
                                     systest.native_env(False, NVK_PROBE_THROW=kind))
                self.assertEqual((result.returncode, result.stdout, result.stderr), (0, "", message + "\n"))

    def test_message_window_on_the_display_ends_the_run_when_dismissed(self):
        with systest.started([str(systest.program(PROBE))],
                             systest.native_env(True, NVK_PROBE_THROW="exception")) as process:
            # The window's title is the program's name, as the framework's application title.
            window = systest.wait_x_window("^" + PROBE + "$", pid=process.pid)
            self.assertIsNotNone(window, "no message window appeared")
            self.assertTrue(process.running(), "the process must wait for the message to be dismissed")
            self.assertEqual(systest.x_helper("close", window).returncode, 0)
            result = process.wait()
        self.assertEqual((result.returncode, result.stderr), (0, ""))

    def test_program_without_a_display_reports_it_and_ends_with_zero(self):
        result = systest.run([str(systest.program("ToolbarSetup"))], systest.native_env(False))
        self.assertEqual(result.returncode, 0, result)
        self.assertTrue(result.stderr.startswith("Can't open display"), result)


@unittest.skipUnless(systest.WINDOWS, "Windows framework")
class WindowsGuard(unittest.TestCase):
    def test_message_box_shows_the_message_and_the_run_ends_when_dismissed(self):
        probe = systest.program(PROBE)
        for kind, message in CASES:
            with self.subTest(kind=kind):
                line = '"' + systest.windows_path(probe) + '"'
                with systest.started_windows(line, NVK_PROBE_THROW=kind) as process:
                    # The box's title is the program's name, as the framework's application title.
                    box = systest.wintool("message-box", PROBE, int(systest.WINDOW_TIMEOUT * 1000),
                                          process.windows_pid)
                    self.assertEqual(box.returncode, 0, box)
                    self.assertEqual(box.stdout, "text:" + message + "\n")
                    result = process.wait()
                self.assertEqual(result.returncode, 0, result)


if __name__ == "__main__":
    unittest.main(verbosity=2)
