// The main form reads its installer file name and the debug switch from the command line.
#include <gtest/gtest.h>

#include <string>

#include "app/main_form.h"
#include "diag/debug_console.h"
#include "diag/debug_console_testing.h"
#include "tests/support/fake_command_line.h"
#include "platform/text.h"
#include "tests/support/fake_console.h"

namespace {

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

struct Row {
  const char* name;
  std::u16string arguments;  // as typed, after the program path
  std::u16string file;       // expected mInstallerFile
  bool console;              // expected debug console state
};

struct Outcome {
  std::u16string file;
  bool console;
  bool closeOnShow;
};

// Constructs the form as CreateForm would, with the given command line in the
// ANSI code page, and reports what it read.
Outcome Construct(const std::string& ansiLine) {
  FakeConsole console;
  diag_testing::ScopedConsoleServices scope(console);
  FakeCommandLine line(ansiLine);
  TMainForm form(nullptr);
  TDebugConsole* instance = diag_testing::CurrentInstance();
  return {form.mInstallerFile, instance != nullptr && instance->Enabled(), form.mCloseOnShow};
}

const std::string kProgram = kWindows ? "\"C:\\Setup Files\\ToolbarSetup.exe\"" : "\\opt\\setup\\ToolbarSetup";

TEST(MainFormCommandLine, TableOfArguments) {
  const std::u16string longName(32000 - 20, u'x');
  const std::u16string longUpper(32000 - 20, u'X');
  const Row rows[] = {
      {"none", u"", u"Norvik_TB_Installer.exe", false},
      {"plain file", u"/FILE:setup.exe", u"SETUP.EXE", false},
      {"mixed case", u"/file:Tool.EXE", u"TOOL.EXE", false},
      {"blanks and debug", u"/file:  my setup.exe   /debug", u"MY SETUP.EXE", true},
      {"debug first", u"/DEBUG /FILE:tb.exe", u"TB.EXE", true},
      {"second switch dropped", u"/FILE:a/FILE:b", u"A", false},
      {"empty value", u"/FILE:", u"", false},
      {"only blanks", u"/FILE:   \t ", u"", false},
      {"debug any case", u"/Debug", u"Norvik_TB_Installer.exe", true},
      {"debugx", u"/DEBUGX", u"Norvik_TB_Installer.exe", true},
      {"debugger", u"/debugger", u"Norvik_TB_Installer.exe", true},
      {"quoted value keeps quotes", u"/FILE:\"my tool.exe\"", u"\"MY TOOL.EXE\"", false},
      {"cut at forward slash", u"/FILE:sub/dir/tool.exe", u"SUB", false},
      {"backslash folders kept", u"/FILE:..\\sub\\tool.exe", u"..\\SUB\\TOOL.EXE", false},
      {"32000 characters", u"/FILE:" + longName, longUpper, false},
      {"inside code page", u"/FILE:\u00e9t\u00e9.exe", u"\u00c9T\u00c9.EXE", false},
      // Outside Windows-1252 the character is lost on Windows before the
      // program sees it; on Linux (UTF-8) it survives and is upper-cased.
      {"outside code page", u"/FILE:\u0436.exe", kWindows ? u"?.EXE" : u"\u0416.EXE", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::string line = kProgram;
    if (!row.arguments.empty()) line += " " + platform::WideToAnsi(row.arguments);
    const Outcome outcome = Construct(line);
    EXPECT_EQ(platform::WideToUtf8(outcome.file), platform::WideToUtf8(row.file));
    EXPECT_EQ(outcome.console, row.console);
    EXPECT_FALSE(outcome.closeOnShow);
  }
}

TEST(MainFormCommandLine, SwitchInsideTheProgramPathCounts) {
  // The tests run on the whole line, program path included.
  EXPECT_TRUE(Construct("C:/tools/debug/ToolbarSetup.exe").console);
  EXPECT_EQ(Construct("C:/x/file:odd/ToolbarSetup.exe").file, u"ODD");
  // As Linux rebuilds the line, folders are written with "\", so a build/debug
  // folder does not switch the console on.
  EXPECT_FALSE(Construct("\\home\\me\\build\\debug\\ToolbarSetup").console);
}

TEST(MainFormCommandLine, UndecodableBytesDoNotBreakConstruction) {
  const Outcome outcome = Construct(kProgram + " /FILE:a\xff\xfe.exe");
  if (!kWindows) {
    // The bytes survive so that the name can still match a file on disk.
    EXPECT_EQ(platform::WideToAnsi(outcome.file), "A\xff\xfe.EXE");
  } else {
    EXPECT_EQ(outcome.file.size(), 7u);
  }
}

}  // namespace
