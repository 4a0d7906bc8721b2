// Command-line splitting by the Windows rules; under Windows also checked
// against the system's own CommandLineToArgvW.
#include <gtest/gtest.h>

#include "platform/argv.h"
#include "tests/platform/argument_cases.h"

#ifdef _WIN32
#include <windows.h>
// After windows.h:
#include <shellapi.h>
#endif

namespace {

TEST(SplitWindowsArguments, SplitsAsWindowsDoes) {
  for (const ArgumentCase& c : ArgumentCases()) {
    EXPECT_EQ(platform::SplitWindowsArguments(c.Parameters), c.Arguments)
        << std::string(c.Parameters.begin(), c.Parameters.end());
  }
}

#ifdef _WIN32
TEST(SplitWindowsArguments, TableAgreesWithCommandLineToArgvW) {
  for (const ArgumentCase& c : ArgumentCases()) {
    const std::u16string line = u"prog.exe " + c.Parameters;
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(reinterpret_cast<const wchar_t*>(line.c_str()), &count);
    ASSERT_NE(argv, nullptr);
    std::vector<std::u16string> arguments;
    for (int i = 1; i < count; ++i) arguments.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
    LocalFree(argv);
    EXPECT_EQ(arguments, c.Arguments) << std::string(c.Parameters.begin(), c.Parameters.end());
  }
}
#endif

}  // namespace
