"""The make-up of the Windows program file, read without running it: a GUI
program for the build's processor that imports only DLLs every Windows has,
none of the display-scale functions that Vista and 7 lack, and none of the
DLLs that only later actions need (loaded when first used), whose manifest
asks for administrator rights, the version 6 common controls, declares
Windows Vista and 7 and per-monitor dpi awareness, and whose version resource
names the company and the product in UTF-16.

Usage: test_exe_makeup.py EXE OBJDUMP PROCESSOR   (PROCESSOR: i686 or x86_64)"""

import re
import struct
import subprocess
import sys
import unittest
import xml.etree.ElementTree as ElementTree
from pathlib import Path

EXE, OBJDUMP, PROCESSOR = (sys.argv[1:4] + [None, None, None])[:3]

# DLLs that are part of every Windows from Vista on.
SYSTEM_DLLS = {
    "advapi32.dll", "comctl32.dll", "comdlg32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll", "ole32.dll",
    "oleaut32.dll", "rpcrt4.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "uxtheme.dll", "version.dll",
    "ws2_32.dll", "ntdll.dll", "bcrypt.dll", "crypt32.dll", "winmm.dll", "imm32.dll", "secur32.dll",
}
FILE_FORMAT = {"i686": "pei-i386", "x86_64": "pei-x86-64"}
SHIPPED_SIZE_LIMIT = 800 * 1000  # bytes: 0.8 MB

# Functions of the display's scale that Windows Vista and 7 do not have: the
# program looks them up at run time, never imports them.
LATER_DPI_FUNCTIONS = {
    "GetDpiForWindow", "GetDpiForSystem", "GetDpiForMonitor", "AdjustWindowRectExForDpi",
    "GetSystemMetricsForDpi", "SystemParametersInfoForDpi", "EnableNonClientDpiScaling",
    "SetProcessDpiAwareness", "SetProcessDpiAwarenessContext", "SetThreadDpiAwarenessContext",
    "GetProcessDpiAwareness", "GetThreadDpiAwarenessContext", "GetWindowDpiAwarenessContext",
    "GetAwarenessFromDpiAwarenessContext", "GetDpiFromDpiAwarenessContext", "LogicalToPhysicalPointForPerMonitorDPI",
    "PhysicalToLogicalPointForPerMonitorDPI",
}

# DLLs whose functions only actions after the dialog's first paint call.
LATER_DLLS = {"shell32.dll", "oleaut32.dll"}

RT_VERSION = 16
RT_MANIFEST = 24
MANIFEST_ID = 1  # the manifest Windows reads when it starts the program
VISTA = "{e2011457-1546-43c5-a5fe-008deee3d3f0}"
WINDOWS_7 = "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"


def resources(image):
    """{(type id, name id, language): bytes} of a PE image's resource section."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE image")
    sections, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", image, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    root_rva, _ = struct.unpack_from("<II", image, directories + 2 * 8)  # entry 2: resources
    if root_rva == 0:
        return {}

    table = optional + optional_size
    spans = []
    for i in range(sections):
        virtual_size, virtual_address, raw_size, raw_pointer = struct.unpack_from("<IIII", image, table + 40 * i + 8)
        spans.append((virtual_address, max(virtual_size, raw_size), raw_pointer))

    def offset(rva):
        for start, size, raw in spans:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError(f"RVA {rva:#x} is in no section")

    root = offset(root_rva)
    found = {}

    def walk(directory, path):
        named, ids = struct.unpack_from("<HH", image, directory + 12)
        for entry in range(named + ids):
            name, target = struct.unpack_from("<II", image, directory + 16 + 8 * entry)
            key = path + (name if not name & 0x80000000 else f"name@{name & 0x7FFFFFFF:#x}",)
            if target & 0x80000000:
                walk(root + (target & 0x7FFFFFFF), key)
            else:
                data_rva, size = struct.unpack_from("<II", image, root + target)
                found[key] = bytes(image[offset(data_rva):offset(data_rva) + size])

    walk(root, ())
    return found


def version_strings(block):
    """{key: (text, type)} of the string tables of a VS_VERSIONINFO block."""
    strings = {}

    def node(at, end_of_parent):
        length, value_length, kind = struct.unpack_from("<HHH", block, at)
        end = min(at + length, end_of_parent)
        key_end = at + 6
        while block[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = block[at + 6:key_end].decode("utf-16-le")
        value_at = (key_end + 2 + 3) & ~3
        value_bytes = value_length * 2 if kind == 1 else value_length
        value = block[value_at:value_at + value_bytes]
        if kind == 1 and value_length:
            strings[key] = (value.decode("utf-16-le").rstrip("\0"), kind)
        child = (value_at + value_bytes + 3) & ~3
        while child + 6 <= end:
            child_length = struct.unpack_from("<H", block, child)[0]
            if child_length == 0:
                break
            node(child, end)
            child = (child + child_length + 3) & ~3
        return key

    if node(0, len(block)) != "VS_VERSION_INFO":
        raise ValueError("not a version resource")
    return strings


def local(tag):
    return tag.rsplit("}", 1)[-1]


class ExeMakeup(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.image = Path(EXE).read_bytes()
        cls.headers = subprocess.run([OBJDUMP, "-p", EXE], check=True, capture_output=True, text=True).stdout
        cls.resources = resources(cls.image)

    def test_gui_program_for_the_builds_processor(self):
        self.assertIn(f"file format {FILE_FORMAT[PROCESSOR]}", self.headers)
        self.assertRegex(self.headers, r"\nSubsystem\s+00000002\s+\(Windows GUI\)")

    def test_imports_only_system_dlls(self):
        imported = [line.split(":", 1)[1].strip() for line in self.headers.splitlines()
                    if line.strip().startswith("DLL Name:")]
        self.assertIn("kernel32.dll", [name.lower() for name in imported])
        for name in imported:
            with self.subTest(dll=name):
                self.assertIn(name.lower(), SYSTEM_DLLS)

    def imported_functions(self):
        """{dll (lower case): [function names]} from objdump's import tables."""
        functions = {}
        dll = None
        for line in self.headers.splitlines():
            stripped = line.strip()
            if stripped.startswith("DLL Name:"):
                dll = stripped.split(":", 1)[1].strip().lower()
                functions[dll] = []
            elif not stripped:
                dll = None
            elif dll is not None:
                entry = re.match(r"^[0-9a-fA-F]+\s+\d+\s+(\S+)$", stripped)
                if entry:
                    functions[dll].append(entry.group(1))
        return functions

    def test_no_display_scale_function_is_imported(self):
        functions = self.imported_functions()
        self.assertNotIn("shcore.dll", functions)
        # The tables are read: the window functions the program does import are there.
        self.assertIn("CreateWindowExW", functions.get("user32.dll", []))
        self.assertIn("AdjustWindowRectEx", functions.get("user32.dll", []))
        for dll, names in functions.items():
            with self.subTest(dll=dll):
                self.assertEqual(sorted(set(names) & LATER_DPI_FUNCTIONS), [])

    def test_dlls_of_later_actions_are_not_imported(self):
        # shell32 (opening a link, the installer's launch) and oleaut32 (the
        # worker's variants and strings) are loaded when first used, so the
        # dialog's start does not wait for them.
        functions = self.imported_functions()
        for dll in LATER_DLLS:
            with self.subTest(dll=dll):
                self.assertNotIn(dll, functions)
        # What the dialog's start needs is still imported.
        for dll in ("user32.dll", "gdi32.dll", "comctl32.dll", "ole32.dll"):
            with self.subTest(dll=dll):
                self.assertIn(dll, functions)
        self.assertIn("CoInitialize", functions["ole32.dll"])

    @unittest.skipUnless(PROCESSOR == "i686", "the shipped exe is the i686 one")
    def test_shipped_exe_is_stripped_and_small(self):
        sections = subprocess.run([OBJDUMP, "-h", EXE], check=True, capture_output=True, text=True).stdout
        names = re.findall(r"(?m)^\s*\d+\s+(\S+)", sections)
        self.assertIn(".text", names)
        self.assertEqual([name for name in names if name.startswith(".debug")], [])
        self.assertLessEqual(Path(EXE).stat().st_size, SHIPPED_SIZE_LIMIT)
        # The debug information stays beside it in the build tree.
        self.assertTrue(Path(EXE + ".debug").is_file())

    def test_manifest(self):
        manifests = {key: data for key, data in self.resources.items() if key[0] == RT_MANIFEST}
        self.assertEqual([key[1] for key in manifests], [MANIFEST_ID], "exactly one manifest, the program's")
        manifest = ElementTree.fromstring(next(iter(manifests.values())))
        elements = list(manifest.iter())

        levels = [e.get("level") for e in elements if local(e.tag) == "requestedExecutionLevel"]
        self.assertEqual(levels, ["requireAdministrator"])

        controls = [e.attrib for e in elements if local(e.tag) == "assemblyIdentity"
                    and e.get("name") == "Microsoft.Windows.Common-Controls"]
        self.assertEqual(len(controls), 1, "one dependency on the common controls")
        self.assertEqual(controls[0].get("version"), "6.0.0.0")
        self.assertEqual(controls[0].get("publicKeyToken"), "6595b64144ccf1df")

        systems = {e.get("Id").lower() for e in elements if local(e.tag) == "supportedOS"}
        self.assertEqual(systems, {VISTA, WINDOWS_7})

        # Dpi awareness: system for Vista and 7, per monitor for 8.1 (dpiAware
        # "true/pm"), per monitor version 2 and then version 1 for Windows 10.
        aware = [(e.tag, (e.text or "").strip()) for e in elements if local(e.tag) == "dpiAware"]
        self.assertEqual(aware, [("{http://schemas.microsoft.com/SMI/2005/WindowsSettings}dpiAware", "true/pm")])
        awareness = [(e.tag, (e.text or "").strip()) for e in elements if local(e.tag) == "dpiAwareness"]
        self.assertEqual(awareness, [("{http://schemas.microsoft.com/SMI/2016/WindowsSettings}dpiAwareness",
                                      "PerMonitorV2, PerMonitor")])

    def test_version_resource_names_company_and_product_in_utf16(self):
        blocks = [data for key, data in self.resources.items() if key[0] == RT_VERSION]
        self.assertEqual(len(blocks), 1)
        strings = version_strings(blocks[0])
        self.assertEqual(strings.get("CompanyName"), ("Norvik", 1))
        self.assertEqual(strings.get("FileDescription"), ("Setup", 1))
        self.assertIn("Norvik\0".encode("utf-16-le"), blocks[0])


if __name__ == "__main__":
    if None in (EXE, OBJDUMP, PROCESSOR):
        sys.exit(__doc__)
    unittest.main(argv=sys.argv[:1], verbosity=2)
