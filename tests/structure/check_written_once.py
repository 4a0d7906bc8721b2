#!/usr/bin/env python3
"""Checks that the small helpers every layer needs are written once.

Each helper below has one home; a private copy elsewhere is too short for a
duplicate finder to notice, so this test looks for the copies by their shape.
Only the product's sources count (not tests, tools or benchmarks).
"""
import pathlib
import re
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]
PRODUCT = ["common", "platform", "diag", "controls", "framework", "wmi", "process", "engine", "app"]


def product_sources():
    for folder in PRODUCT:
        for path in sorted((ROOT / folder).rglob("*")):
            if path.suffix in (".h", ".cpp"):
                yield str(path.relative_to(ROOT)), path.read_text(encoding="utf-8", errors="replace")


def files_matching(pattern):
    regex = re.compile(pattern, re.MULTILINE)
    return sorted(name for name, text in product_sources() if regex.search(text))


class WrittenOnce(unittest.TestCase):
    def test_integer_to_text(self):
        # The one conversion, and no other function turning std::to_string's
        # digits into UTF-16 text.
        self.assertEqual(files_matching(r"std::u16string\s+IntToStr\s*\([^)]*\)\s*\{"), ["common/decimal.h"])
        self.assertEqual(files_matching(r"std::to_string\([^)]*\)\)?\s*\)?\s*(line\s*\+=|;\s*\n\s*return std::u16string)"
                                        r"|for \(char \w+ : std::to_string"), [])

    def test_platform_path_delimiters(self):
        self.assertEqual(files_matching(r"\bPlatformPathDelimiters\b"), [])
        self.assertEqual(files_matching(r"PathDelimiters&\s+PathDelimitersOfPlatform\(\)\s*\{"),
                         ["platform/posix/files.cpp", "platform/win32/files.cpp"])

    def test_launch_record_from_a_request(self):
        # Only the one maker fills a launch record's fields from a request.
        self.assertEqual(files_matching(r"\.Directory\s*=\s*(common::FolderPart|ExtractFilePath)"),
                         ["process/launch_record.cpp"])

    def test_sleeping(self):
        # Every pause goes through the clock; the real clock is the only sleeper.
        self.assertEqual(files_matching(r"\bnanosleep\s*\(|sleep_for\s*\(|\busleep\s*\(|::Sleep\s*\(|\bSleepEx\s*\("),
                         ["platform/clock.cpp"])
        self.assertEqual(files_matching(r"\bSleepMs\b"), [])

    def test_utf16_to_wide_cast(self):
        self.assertEqual(files_matching(r"wchar_t\s*\*\s*Wide\w*\s*\([^)]*\)\s*\{"), ["platform/win32/wide.h"])


if __name__ == "__main__":
    unittest.main()
