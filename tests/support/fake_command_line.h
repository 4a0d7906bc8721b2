// A fixed command line in place of the process's own, for the life of the object.
#pragma once

#include <string>

#include "platform/command_line.h"

class FakeCommandLine final : public platform::CommandLineServices {
 public:
  explicit FakeCommandLine(std::string line) : mLine(std::move(line)) {}
  std::string GetCommandLineA() override { return mLine; }

 private:
  std::string mLine;
  platform::ScopedCommandLineForTesting mScope{*this};
};
