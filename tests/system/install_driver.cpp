// Runs one install run of the worker with a request given on the command
// line, so that system tests and benchmarks can drive the install methods the
// dialog never asks for:
//   nvk_install_driver METHOD PROGRAM [/NAME:text] [/SEARCH] [/TIMEOUT:seconds] [/IGNOREEND] [/NOWAIT]
// METHOD is the install method number; PROGRAM (a full path) is launched with
// "/r:NVKM". /NAME sets SpecificExeName, /SEARCH sets SearchSpecificExe,
// /TIMEOUT sets TimeoutSeconds with UseTimeout 1, /IGNOREEND sets
// IgnoreProcessEnd and /NOWAIT clears WaitForExit. The debug console is open
// from the start, so the worker's trace lines are written (standard error on
// Linux, the console under Windows). Exit code: 0 when the launch succeeded,
// 1 when it failed, 2 for a wrong command line.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "diag/debug_console.h"
#include "engine/execute_program.h"
#include "platform/text.h"
#include "tests/support/headless_app.h"

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: nvk_install_driver METHOD PROGRAM [/NAME:text] [/SEARCH] [/TIMEOUT:seconds] "
                         "[/IGNOREEND] [/NOWAIT]\n");
    return 2;
  }
  const auto installMethod = static_cast<std::int32_t>(std::strtol(argv[1], nullptr, 10));

  bool launched = false;
  ExeParameter request;
  request.FileName = platform::AnsiToWide(argv[2]);
  request.Parameters = u"/r:NVKM";
  request.StageSource = u"0";
  request.WaitForExit = true;
  request.ShowCommand = 1;
  request.ResultFlag = &launched;
  InstallMethodParam method;
  for (int i = 3; i < argc; ++i) {
    const std::string_view option = argv[i];
    if (StartsWith(option, "/NAME:")) {
      method.SpecificExeName = platform::AnsiToWide(option.substr(6));
    } else if (option == "/SEARCH") {
      method.SearchSpecificExe = true;
    } else if (StartsWith(option, "/TIMEOUT:")) {
      method.UseTimeout = 1;
      method.TimeoutSeconds = static_cast<std::int32_t>(std::strtol(argv[i] + 9, nullptr, 10));
    } else if (option == "/IGNOREEND") {
      method.IgnoreProcessEnd = true;
    } else if (option == "/NOWAIT") {
      request.WaitForExit = false;
    } else {
      std::fprintf(stderr, "nvk_install_driver: unknown option %s\n", argv[i]);
      return 2;
    }
  }

  DebugConsoleInstance(true);
  RunScenario([&](ScenarioForm& form) {
    auto* worker = new ExecuteProgram(true, request, &method, installMethod);  // frees itself
    worker->OnTerminate = [&form](TObject*) { form.Close(); };
    worker->Start();
  });
  return launched ? 0 : 1;
}
