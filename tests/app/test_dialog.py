"""The offer dialog as drawn and as it answers the mouse and the keyboard, on
the run's Xvfb: the Linux program's FLTK window, or the Windows program's
Win32 window under Wine. Pixels are read back from the X server."""

import os
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import dialog_probe as probe  # noqa: E402
from dialog_probe import systest  # noqa: E402

INSTALL_MIDDLE = (386, 373)  # the middle of the "Install" button (349, 361, 75 x 25)
TERMS = "https://www.google.com/policies/terms/"
PRIVACY = "https://www.google.com/policies/privacy/"

# Places of the layout, in client coordinates (left, top, right, bottom).
HEADLINE = (25, 20, 330, 40)
WORD_MARK = (330, 15, 420, 45)
CHECK_BOX = (22, 242, 36, 262)
TERMS_LABEL = (25, 295, 442, 335)
RULE_ROWS = range(344, 357)


def link_segments(shot):
    """The underlined blue runs of the terms line in reading order, as
    (left, right, y) with y a row of the run's text just above its underline."""
    return link_segments_in(shot, TERMS_LABEL)


def link_segments_in(shot, box, min_length=15):
    """The blue runs of at least min_length pixels in the box (left, top,
    right, bottom), as link_segments gives them."""
    found = []
    for y in range(box[1], box[3]):
        x = box[0]
        while x < box[2]:
            if not probe.is_blue(shot.pixel(x, y)):
                x += 1
                continue
            start = x
            while x < box[2] and probe.is_blue(shot.pixel(x, y)):
                x += 1
            if x - start >= min_length and not any(abs(y - fy) <= 2 and start < fr and fl < x
                                                   for fl, fr, fy in found):
                found.append((start, x, y))
    return sorted(((left, right - 1, y - 4) for left, right, y in found), key=lambda s: (s[2], s[0]))


def grey_rule_row(shot):
    """A row near y = 350 that is grey across most of 14..425, or None."""
    for y in RULE_ROWS:
        if shot.count((14, y, 426, y + 1), probe.is_grey) >= 380:
            return y
    return None


def tick_pixels(shot):
    return shot.count(CHECK_BOX, probe.is_green)


class DialogTest(probe.RecordingTest):
    def test_drawn_dialog(self):
        with probe.dialog(self.env) as (process, window):
            self.assertIsNotNone(window, "no dialog window")
            shot = probe.capture(window)
            self.assertEqual((shot.width, shot.height), probe.CLIENT)
            cases = [
                ("red run of the headline", shot.count((25, 20, 70, 40), probe.is_red) >= 15),
                ("no red in the rest of the headline", shot.count((75, 20, 330, 40), probe.is_red) == 0),
                ("green word-mark", shot.count(WORD_MARK, probe.is_green) >= 40),
                ("green tick in the ticked box", tick_pixels(shot) >= 5),
                ("grey rule near y = 350", grey_rule_row(shot) is not None),
                # Labels have no background: the picture's white shows around the headline's letters.
                ("picture around the headline", shot.count(HEADLINE, lambda rgb: rgb == 0xFFFFFF)
                 >= (HEADLINE[2] - HEADLINE[0]) * (HEADLINE[3] - HEADLINE[1]) // 2),
                # The panel's raised bevel: its right and bottom edges are darker than its face.
                ("bevel's right edge", max(probe.channels(shot.pixel(441, 200))) < 0xE0),
                ("bevel's bottom edge", max(probe.channels(shot.pixel(200, 396))) < 0xE0),
                ("panel face inside the bevel", shot.pixel(440, 396 - 1) != shot.pixel(441, 396)),
            ]
            for name, holds in cases:
                with self.subTest(name):
                    self.assertTrue(holds)
            segments = link_segments(shot)
            self.assertGreaterEqual(len(segments), 2, segments)
            self.assertTrue(process.running())

    def test_check_box_toggles_on_click_and_nothing_else_changes(self):
        with probe.dialog(self.env) as (process, window):
            self.assertIsNotNone(window, "no dialog window")
            before = probe.capture(window)
            self.assertGreater(tick_pixels(before), 0)
            probe.click(window, 29, 252)
            cleared = probe.wait_for(lambda: (lambda s: s if tick_pixels(s) == 0 else None)(probe.capture(window)))
            self.assertIsNotNone(cleared, "the tick stayed after a click")
            # Only the box changed.
            outside = [(x, y) for x, y, rgb in before.pixels(0, 0, *probe.CLIENT)
                       if not (CHECK_BOX[0] <= x < CHECK_BOX[2] and CHECK_BOX[1] <= y < CHECK_BOX[3])
                       and cleared.pixel(x, y) != rgb]
            self.assertEqual(outside[:10], [])
            probe.click(window, 29, 252)
            self.assertTrue(probe.wait_for(lambda: tick_pixels(probe.capture(window)) > 0), "a second click did not tick")
            self.assertTrue(process.running())
            self.assertFalse(self.installer_log.exists(), "the check box started the installer")

    def test_links_open_their_targets_and_leave_the_dialog_as_it_was(self):
        with probe.dialog(self.env) as (process, window):
            self.assertIsNotNone(window, "no dialog window")
            before = probe.capture(window)
            segments = link_segments(before)
            self.assertGreaterEqual(len(segments), 2, segments)
            for (left, right, y), target, expected in [(segments[0], "Terms and Conditions", [TERMS]),
                                                       (segments[-1], "Privacy Policy", [TERMS, PRIVACY])]:
                with self.subTest(target):
                    probe.click(window, (left + right) // 2, y)
                    opened = probe.wait_for(lambda n=len(expected): len(self.opened()) >= n and self.opened())
                    self.assertEqual(opened, expected)
            # Text outside the links opens nothing.
            probe.click(window, 40, 300)
            probe.settle()
            self.assertEqual(self.opened(), [TERMS, PRIVACY])
            after = probe.capture(window)
            self.assertTrue(after.data == before.data, "the dialog's pixels changed")
            self.assertTrue(process.running())

    def test_keyboard_space_ticks_the_box_tab_reaches_install(self):
        with probe.dialog(self.env) as (process, window):
            self.assertIsNotNone(window, "no dialog window")
            self.assertGreater(tick_pixels(probe.capture(window)), 0)
            # The focus starts on the check box: Space toggles it, Return does not.
            probe.key(window, "space")
            self.assertTrue(probe.wait_for(lambda: tick_pixels(probe.capture(window)) == 0), "Space did not toggle")
            probe.key(window, "Return")
            probe.settle()
            self.assertEqual(tick_pixels(probe.capture(window)), 0)
            self.assertTrue(process.running(), "Return ended the dialog")
            # Tab moves to "Install"; Space presses it: the run starts and the program ends.
            probe.key(window, "Tab")
            probe.settle()
            probe.key(window, "space")
            result = process.wait()
        self.assertEqual(result.returncode, 0, result)
        self.assertIn("arg /r:NVKM", self.installer_log.read_text().splitlines())

    def test_keyboard_escape_does_nothing_enter_presses_install(self):
        with probe.dialog(self.env) as (process, window):
            self.assertIsNotNone(window, "no dialog window")
            before = probe.capture(window)
            # Escape: the dialog has no cancel action, on the check box or on "Install".
            probe.key(window, "Escape")
            probe.settle()
            self.assertTrue(process.running(), "Escape ended the program")
            self.assertTrue(probe.viewable(window), "Escape hid the dialog")
            probe.key(window, "Tab")
            probe.settle()
            probe.key(window, "Escape")
            probe.settle()
            self.assertTrue(process.running(), "Escape on Install ended the program")
            self.assertTrue(probe.viewable(window), "Escape on Install hid the dialog")
            self.assertEqual(probe.capture(window).count(CHECK_BOX, probe.is_green), tick_pixels(before))
            self.assertEqual(self.launches(), 0)
            # Enter on the focused "Install" presses it.
            probe.key(window, "Return")
            result = process.wait()
        self.assertEqual(result.returncode, 0, result)
        self.assertEqual(self.launches(), 1)

    def test_double_click_on_install_launches_once(self):
        with probe.dialog(self.env) as (process, window):
            self.assertIsNotNone(window, "no dialog window")
            probe.double_click(window, *INSTALL_MIDDLE)
            result = process.wait()
        self.assertEqual(result.returncode, 0, result)
        self.assertEqual(self.launches(), 1)

    @unittest.skipUnless(systest.WINDOWS, "Win32 queues a second click for the hidden button; FLTK drops it")
    def test_click_delivered_twice_launches_once(self):
        with probe.dialog(self.env) as (process, window):
            self.assertIsNotNone(window, "no dialog window")
            delivered = systest.wintool("click-twice", "Setup", "Install", process.windows_pid)
            self.assertEqual(delivered.returncode, 0, delivered)
            result = process.wait()
        self.assertEqual(result.returncode, 0, result)
        self.assertEqual(self.launches(), 1)


if __name__ == "__main__":
    unittest.main(verbosity=2)
