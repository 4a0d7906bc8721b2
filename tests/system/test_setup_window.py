"""The real program's dialog window on the run's display: titled "Setup", a
fixed 442 x 397 client area that cannot be resized or maximised, and closing
it ends the process with exit code 0. Linux: an X window seen through the X
tools; Windows: the Win32 window seen from inside Wine, with the program
started with "/DEBUG" on a terminal so that its console can be read."""

import os
import re
import sys
import unittest
from pathlib import Path

sys.path.insert(0, os.environ.get("NVK_SUPPORT", str(Path(__file__).resolve().parent.parent / "support")))
import systest  # noqa: E402

CLIENT = (442, 397)

WS_THICKFRAME = 0x00040000
WS_MAXIMIZEBOX = 0x00010000
WS_MINIMIZEBOX = 0x00020000
WS_SYSMENU = 0x00080000


@unittest.skipIf(systest.WINDOWS, "X window of the Linux program")
class LinuxSetupWindow(unittest.TestCase):
    def test_fixed_size_window_that_closes_with_exit_code_zero(self):
        with systest.started([str(systest.program("ToolbarSetup")), "/DEBUG"], systest.native_env(True)) as process:
            window = systest.wait_x_window("^Setup$", pid=process.pid)
            self.assertIsNotNone(window, "no window titled Setup appeared")

            geometry = systest.x_geometry(window)
            self.assertEqual((int(geometry["Width"]), int(geometry["Height"])), CLIENT)

            hints = systest.x_property(window, "WM_NORMAL_HINTS")
            minimum = re.search(r"minimum size: (\d+) by (\d+)", hints)
            maximum = re.search(r"maximum size: (\d+) by (\d+)", hints)
            self.assertIsNotNone(minimum, hints)
            self.assertIsNotNone(maximum, hints)
            self.assertEqual(tuple(map(int, minimum.groups())), CLIENT)
            self.assertEqual(tuple(map(int, maximum.groups())), CLIENT)

            self.assertTrue(process.running())
            self.assertEqual(systest.x_helper("close", window).returncode, 0)
            result = process.wait()
        self.assertEqual(result.returncode, 0, result)
        # With the console on, nothing is traced before an install run starts.
        self.assertEqual(result.stderr, "")


@unittest.skipUnless(systest.WINDOWS, "Win32 window of the Windows program")
class WindowsSetupWindow(unittest.TestCase):
    def test_console_text_of_a_program_on_a_terminal_is_read_back(self):
        # The way the dialog's console is read below, shown to work on the
        # launcher's own report of a program that does not exist.
        result = systest.run(systest.on_terminal(systest.launch_argv()),
                             systest.launch_env('"Z:\\nowhere\\missing.exe" /DEBUG'))
        self.assertEqual(result.returncode, 254, result)
        self.assertEqual(systest.terminal_text(result.stdout), "launch: CreateProcessW failed with error 2\n")

    def test_fixed_size_window_that_closes_with_exit_code_zero(self):
        line = '"' + systest.windows_path(systest.program("ToolbarSetup")) + '" /DEBUG'
        with systest.started_windows(line, terminal=True) as process:
            facts = systest.wintool("window", "Setup", int(systest.WINDOW_TIMEOUT * 1000), process.windows_pid)
            self.assertEqual(facts.returncode, 0, facts)
            found = re.fullmatch(r"style=0x([0-9a-f]{8}) exstyle=0x([0-9a-f]{8}) client=(\d+)x(\d+)\n", facts.stdout)
            self.assertIsNotNone(found, facts.stdout)
            style = int(found.group(1), 16)
            self.assertEqual((int(found.group(3)), int(found.group(4))), CLIENT)
            self.assertFalse(style & WS_THICKFRAME, hex(style))
            self.assertFalse(style & WS_MAXIMIZEBOX, hex(style))
            self.assertTrue(style & WS_MINIMIZEBOX, hex(style))
            self.assertTrue(style & WS_SYSMENU, hex(style))

            self.assertTrue(process.running())
            self.assertEqual(systest.wintool("close", "Setup", process.windows_pid).returncode, 0)
            result = process.wait()
        self.assertEqual(result.returncode, 0, result)
        # With the console on, nothing is traced before an install run starts.
        self.assertEqual(systest.terminal_text(result.stdout).strip(), "")


if __name__ == "__main__":
    unittest.main(verbosity=2)
