"""The installer file name and the debug switch, read from the process's real
command line: the probe starts up like the program (headless framework) and
reports what the main form read. Windows runs get exact command lines through
the launcher; Linux runs get real argument vectors."""

import os
import sys
import unittest
from pathlib import Path

sys.path.insert(0, os.environ.get("NVK_SUPPORT", str(Path(__file__).resolve().parent.parent / "support")))
import systest  # noqa: E402

DEFAULT = "Norvik_TB_Installer.exe"
LINE_LENGTH = 32000

# (case, arguments as typed after the program path, installer file, console on)
ROWS = [
    ("no arguments", None, DEFAULT, False),
    ("plain file", "/FILE:setup.exe", "SETUP.EXE", False),
    ("any case, blanks trimmed, debug after", "/file:  my setup.exe   /debug", "MY SETUP.EXE", True),
    ("debug first", "/DEBUG /FILE:tb.exe", "TB.EXE", True),
    ("second switch dropped", "/FILE:a/FILE:b", "A", False),
    ("empty value", "/FILE:", "", False),
    ("only blanks", "/FILE:    ", "", False),
    ("mixed case value", "/file:Tool.EXE", "TOOL.EXE", False),
    ("lower-case debug", "/debug", DEFAULT, True),
    ("capitalised debug", "/Debug", DEFAULT, True),
    ("longer switch", "/DEBUGX", DEFAULT, True),
    ("debug as part of a word", "/debugger", DEFAULT, True),
    ("quoted value keeps its quotes", '/FILE:"my tool.exe"', '"MY TOOL.EXE"', False),
    ("value cut at a forward slash", "/FILE:sub/dir/tool.exe", "SUB", False),
    ("backslash folders kept", "/FILE:..\\sub\\tool.exe", "..\\SUB\\TOOL.EXE", False),
    ("inside Windows-1252", "/FILE:\u00e9t\u00e9.exe", "\u00c9T\u00c9.EXE", False),
    # Windows hands the program its line in code page 1252, which has no ж.
    ("outside Windows-1252", "/FILE:\u0436.exe", "?.EXE" if systest.WINDOWS else "\u0416.EXE", False),
]


class CommandLine(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = systest.scratch_dir("command_line")
        cls.probe = systest.program("nvk_cmdline_probe")
        cls.runs = 0

    def report_path(self):
        type(self).runs += 1
        path = self.folder / f"report-{self.runs}.txt"
        if path.exists():
            path.unlink()
        return path

    def read_report(self, result, path):
        self.assertEqual(result.returncode, 0, result)
        self.assertTrue(path.exists(), f"the probe wrote no report: {result}")
        fields = dict(line.split("=", 1) for line in path.read_bytes().decode("utf-8").splitlines())
        return fields["file"], fields["console"] == "on"

    # --- how a line is typed on each platform ---------------------------------

    def run_windows_line(self, command_line, program_file=None):
        """Starts the probe with exactly this command line."""
        path = self.report_path()
        result = systest.run_windows(command_line, program_file=program_file,
                                     NVK_PROBE_OUTPUT=systest.windows_path(path))
        return self.read_report(result, path)

    def run_linux_argv(self, argv):
        """Starts the probe with this argument vector; the program path is argv[0]."""
        path = self.report_path()
        env = systest.native_env(False, NVK_PROBE_OUTPUT=str(path))
        result = systest.run([a.encode("utf-8") for a in argv], env)
        return self.read_report(result, path)

    def program_text(self, probe=None):
        """The program path as it stands at the head of the line the program sees."""
        probe = probe or self.probe
        if systest.WINDOWS:
            return '"' + systest.windows_path(probe) + '"'
        return str(probe).replace("/", "\\")

    def run_arguments(self, arguments):
        if systest.WINDOWS:
            line = self.program_text()
            if arguments is not None:
                line += " " + arguments
            return self.run_windows_line(line)
        return self.run_linux_argv([str(self.probe)] + ([arguments] if arguments is not None else []))

    # --- cases -------------------------------------------------------------------

    def test_table_of_arguments(self):
        for case, arguments, file, console in ROWS:
            with self.subTest(case=case, arguments=arguments):
                self.assertEqual(self.run_arguments(arguments), (file, console))

    def test_line_of_32000_characters(self):
        head = self.program_text() + " /FILE:"
        filler = ("LongName" * LINE_LENGTH)[: LINE_LENGTH - len(head)]
        self.assertEqual(len(head) + len(filler), LINE_LENGTH)
        self.assertEqual(self.run_arguments("/FILE:" + filler), (filler.upper(), False))

    def test_switch_inside_the_program_path(self):
        # The tests look at the whole line, program path included.
        folder = self.folder / "debug"
        folder.mkdir(exist_ok=True)
        if systest.WINDOWS:
            copy = folder / self.probe.name
            copy.write_bytes(self.probe.read_bytes())
            typed_forward = systest.windows_path(copy).replace("\\", "/")
            self.assertEqual(self.run_windows_line(typed_forward + " /FILE:a.exe"), ("A.EXE", True))
            # Written with backslashes, the folder name is no switch.
            self.assertEqual(self.run_windows_line('"' + systest.windows_path(copy) + '" /FILE:a.exe'),
                             ("A.EXE", False))
            # A "/FILE:" in the program path as typed counts too; the real program file
            # is given apart, so the line's first word need not name it.
            self.assertEqual(self.run_windows_line("C:/x/file:odd/probe.exe", program_file=systest.windows_path(self.probe)),
                             ("ODD", False))
        else:
            # Linux writes the program path with "\" as Windows would, so a folder
            # named debug does not switch the console on.
            link = folder / self.probe.name
            if not link.exists():
                link.symlink_to(self.probe)
            self.assertEqual(self.run_linux_argv([str(link), "/FILE:a.exe"]), ("A.EXE", False))

    @unittest.skipIf(systest.WINDOWS, "Windows has one command-line string of its own")
    def test_linux_joins_arguments_with_single_blanks(self):
        self.assertEqual(self.run_linux_argv([str(self.probe), "/file:", "my", "setup.exe", "/debug"]),
                         ("MY SETUP.EXE", True))
        self.assertEqual(self.run_linux_argv([str(self.probe), "/FILE:a", "b/c"]), ("A B", False))


if __name__ == "__main__":
    unittest.main(verbosity=2)
