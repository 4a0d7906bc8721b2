// A test fixture that puts the faked console, process, clock and COM services in place, with the installer's request.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "common/request.h"
#include "diag/debug_console.h"
#include "diag/debug_console_testing.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_com.h"
#include "tests/support/fake_console.h"
#include "tests/support/fake_processes.h"

using Lines = std::vector<std::string>;

// How often a line occurs.
inline long Count(const Lines& lines, const std::string& line) { return std::count(lines.begin(), lines.end(), line); }

// The fakes live as long as the test, constructed before and destroyed after
// the derived fixture's members. The trace unit starts without an instance:
// DebugConsoleInstance(true) opens it on the fake console.
class ServiceFakesTest : public ::testing::Test {
 protected:
#ifdef _WIN32
  static inline const std::u16string kFolder = u"C:\\Setup\\";
#else
  static inline const std::u16string kFolder = u"/opt/setup/";
#endif

  // The installer in kFolder, shown normally and waited for, without staging.
  static ExeParameter InstallerRequest() {
    ExeParameter request;
    request.FileName = kFolder + u"Norvik_TB_Installer.exe";
    request.Parameters = u"/r:NVKM";
    request.StageSource = u"0";
    request.WaitForExit = true;
    request.ShowCommand = 1;
    return request;
  }

  // The trace lines written to the fake console from its from-th write on,
  // without their line feeds.
  Lines Trace(std::size_t from = 0) {
    const std::vector<std::string> writes = mConsole.Writes();
    Lines lines;
    for (std::size_t i = from; i < writes.size(); ++i) lines.push_back(writes[i].substr(0, writes[i].size() - 1));
    return lines;
  }

  FakeConsole mConsole;
  diag_testing::ScopedConsoleServices mConsoleScope{mConsole};
  FakeProcesses mProcesses;
  FakeClock mClock;
  FakeCom mCom;
};

// Fresh console, process and clock fakes for one case of a table, in place
// over the fixture's for the case's lifetime, with the trace open on the
// case's console.
struct CaseFakes {
  CaseFakes() { DebugConsoleInstance(true); }

  FakeConsole Console;
  diag_testing::ScopedConsoleServices ConsoleScope{Console};
  FakeProcesses Processes;
  FakeClock Clock;
};
