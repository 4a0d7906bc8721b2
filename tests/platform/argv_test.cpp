// Command-line splitting by the Windows C runtime's rules. The real launch of
// each build is held to the same table in process_test.cpp.
#include <gtest/gtest.h>

#include "platform/argv.h"
#include "tests/platform/argument_cases.h"

namespace {

TEST(SplitWindowsArguments, SplitsAsTheCRuntimeDoes) {
  for (const ArgumentCase& c : ArgumentCases()) {
    EXPECT_EQ(platform::SplitWindowsArguments(c.Parameters), c.Arguments)
        << std::string(c.Parameters.begin(), c.Parameters.end());
  }
}

}  // namespace
