"""The Linux program's first connection to the X server: a display that
refuses the first attempts (its name becomes valid half a second after the
start) still gets the dialog; one that never becomes valid gets the message
on standard error only, and the program ends with exit code 0 without
blocking. The late display is the test's own X server under a second display
number, whose socket appears as a link to the server's socket."""

import os
import sys
import threading
import time
import unittest
from pathlib import Path

sys.path.insert(0, os.environ.get("NVK_SUPPORT", str(Path(__file__).resolve().parent.parent / "support")))
import install_run  # noqa: E402
import systest  # noqa: E402
from install_run import SetupRun  # noqa: E402

SOCKETS = Path("/tmp/.X11-unix")
LATE_BY = 0.5


def unused_display_number():
    """A display number with no server, socket or lock file."""
    for number in range(300, 1000):
        if not (SOCKETS / f"X{number}").exists() and not Path(f"/tmp/.X{number}-lock").exists():
            return number
    raise RuntimeError("no unused display number")


class DisplayRetry(install_run.InstallRunCase):
    scratch_name = "display_retry"

    def test_display_that_comes_late_gets_the_dialog(self):
        number = unused_display_number()
        link = SOCKETS / f"X{number}"
        target = SOCKETS / f"X{self.display.lstrip(':')}"
        timer = threading.Timer(LATE_BY, lambda: link.symlink_to(target))
        try:
            with SetupRun(self.folder(), [], f":{number}") as run:
                timer.start()
                # The dialog shows on the test's server, reached through the late name.
                self.assertIsNotNone(install_run.wait_viewable_window(self.display, install_run.SETUP_TITLE),
                                     "no Setup dialog appeared")
                window = install_run.wait_viewable_window(self.display, install_run.SETUP_TITLE)
                self.assertEqual(install_run.close_x_window(self.display, window).returncode, 0)
                result = run.process.wait()
        finally:
            timer.cancel()
            timer.join()
            link.unlink(missing_ok=True)
        self.assertEqual(result.returncode, 0, result)
        self.assertEqual(result.stderr, "")

    def test_display_that_never_comes_gets_a_message_on_standard_error(self):
        number = unused_display_number()
        started = time.monotonic()
        with SetupRun(self.folder(), [], f":{number}") as run:
            result = run.process.wait(timeout=60)
        self.assertEqual(result.returncode, 0, result)
        self.assertTrue(result.stderr.startswith(f"Can't open display: :{number}"), result)
        self.assertLess(time.monotonic() - started, 60)


if __name__ == "__main__":
    unittest.main(verbosity=2)
