#!/usr/bin/env python3
"""Checks the architecture's rules on the source tree.

Folders form floors; a file may include headers of its own folder or of a
lower floor, never of a higher one or a sibling on the same floor. common/
includes nothing of ours. The core folders hold no platform #if.
"""
import pathlib
import re
import sys
import unittest

ROOT = pathlib.Path(__file__).resolve().parents[2]

# Lowest first; folders on one floor share a number.
FLOORS = {
    "common": 0,
    "platform": 1,
    "diag": 2,
    "controls": 2,
    "framework": 3,
    "wmi": 4,
    "process": 5,
    "engine": 6,
    "app": 7,
}
CORE = ["common", "app", "engine", "process", "wmi", "diag", "controls"]
SOURCE_SUFFIXES = {".h", ".cpp"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)
PLATFORM_IF = re.compile(r"^\s*#\s*(if|ifdef|ifndef|elif)\b.*\b(_WIN32|_WIN64|__linux__|__unix__|__MINGW32__|__MINGW64__|_MSC_VER|__APPLE__)\b",
                         re.MULTILINE)


def sources(folder):
    base = ROOT / folder
    if not base.is_dir():
        return []
    return sorted(p for p in base.rglob("*") if p.suffix in SOURCE_SUFFIXES)


def upward_includes():
    """(file, included) pairs that break the floor order."""
    wrong = []
    for folder, floor in FLOORS.items():
        for path in sources(folder):
            for included in INCLUDE.findall(path.read_text(encoding="utf-8", errors="replace")):
                top = included.split("/", 1)[0]
                if top == folder or top not in FLOORS:
                    continue
                if FLOORS[top] >= floor:
                    wrong.append((str(path.relative_to(ROOT)), included))
    return wrong


def platform_conditionals():
    found = []
    for folder in CORE:
        for path in sources(folder):
            for match in PLATFORM_IF.finditer(path.read_text(encoding="utf-8", errors="replace")):
                found.append((str(path.relative_to(ROOT)), match.group(0).strip()))
    return found


class Layers(unittest.TestCase):
    def test_every_folder_is_known(self):
        self.assertTrue((ROOT / "common").is_dir())
        for folder in FLOORS:
            if folder in ("process", "wmi"):
                continue  # folders still to come may be absent
            self.assertTrue(sources(folder), folder)

    def test_includes_point_down_only(self):
        self.assertEqual(upward_includes(), [])

    def test_common_stands_on_nothing_of_ours(self):
        ours = []
        for path in sources("common"):
            for included in INCLUDE.findall(path.read_text(encoding="utf-8")):
                if included.split("/", 1)[0] != "common":
                    ours.append((str(path.relative_to(ROOT)), included))
        self.assertEqual(ours, [])

    def test_core_folders_hold_no_platform_conditionals(self):
        self.assertEqual(platform_conditionals(), [])


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
