#!/usr/bin/env python3
"""Checks the architecture's rules on the source tree.

Folders form floors; a file may include headers of its own folder or of a
lower floor, never of a higher one or a sibling on the same floor. common/
includes nothing of ours. The core folders hold no platform #if.

platform/posix/ keeps its service files at the top (each implements the
platform header of its name) and the pieces they stand on in rooms; a room
includes headers of its own room or of a room below it, never of a room above
or of the top. ASCII case folding is written once, in common/.
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
# The rooms of platform/posix, lowest first.
POSIX_ROOMS = ["base", "files", "launch", "events", "tree", "com"]
POSIX = ROOT / "platform" / "posix"
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


def misplaced_posix_files():
    """Sources of platform/posix that are neither a service file at the top
    nor a file directly in a known room."""
    wrong = []
    for path in sorted(p for p in POSIX.rglob("*") if p.is_file()):
        parts = path.relative_to(POSIX).parts
        if len(parts) == 1:
            if path.suffix != ".cpp" or not (ROOT / "platform" / (path.stem + ".h")).is_file():
                wrong.append(str(path.relative_to(ROOT)))
        elif len(parts) != 2 or parts[0] not in POSIX_ROOMS or path.suffix not in SOURCE_SUFFIXES:
            wrong.append(str(path.relative_to(ROOT)))
    return wrong


def posix_room_of(included):
    """The room an include names (None for a file at the top of posix/), or
    False when it names nothing in posix/."""
    prefix = "platform/posix/"
    if not included.startswith(prefix):
        return False
    rest = included[len(prefix):].split("/")
    return rest[0] if len(rest) > 1 else None


def upward_room_includes():
    """(file, included) pairs in which a room reaches the top or a room above it."""
    wrong = []
    for room in POSIX_ROOMS:
        for path in sources(f"platform/posix/{room}"):
            for included in INCLUDE.findall(path.read_text(encoding="utf-8", errors="replace")):
                target = posix_room_of(included)
                if target is False:
                    continue
                if target not in POSIX_ROOMS or POSIX_ROOMS.index(target) > POSIX_ROOMS.index(room):
                    wrong.append((str(path.relative_to(ROOT)), included))
    return wrong


ASCII_FOLDING = re.compile(r"\b(?:std::)?(?:tolower|toupper|towlower|towupper)\s*\(|'a'\s*-\s*u?'A'")
ASCII_CASE_HOME = "common/ascii_case.h"


def ascii_folding_outside_common():
    found = []
    for folder in FLOORS:
        for path in sources(folder):
            relative = str(path.relative_to(ROOT))
            if relative == ASCII_CASE_HOME:
                continue
            for match in ASCII_FOLDING.finditer(path.read_text(encoding="utf-8", errors="replace")):
                found.append((relative, match.group(0)))
    return found


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

    def test_posix_sources_lie_in_rooms_or_are_service_files(self):
        for room in POSIX_ROOMS:
            self.assertTrue(sources(f"platform/posix/{room}"), room)
        self.assertEqual(misplaced_posix_files(), [])

    def test_posix_rooms_include_only_their_own_room_or_rooms_below(self):
        self.assertEqual(upward_room_includes(), [])

    def test_ascii_case_folding_is_written_once(self):
        self.assertEqual(ascii_folding_outside_common(), [])
        self.assertIsNotNone(ASCII_FOLDING.search((ROOT / ASCII_CASE_HOME).read_text(encoding="utf-8")))


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
