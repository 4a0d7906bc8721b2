// Starts up as the program does, on the headless framework, and reports what
// the main form read from the process's real command line: the installer file
// name (UTF-8) and whether the debug console is open. The report goes to the
// file named by NVK_PROBE_OUTPUT as two lines, "file=..." and "console=on|off".
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "app/main_form.h"
#include "diag/debug_console.h"
#include "diag/debug_console_testing.h"
#include "platform/text.h"

int main() {
  const char* output = std::getenv("NVK_PROBE_OUTPUT");
  if (output == nullptr || *output == '\0') {
    std::fprintf(stderr, "cmdline_probe: NVK_PROBE_OUTPUT is not set\n");
    return 2;
  }
  Application->Initialize();
  Application->MainFormOnTaskBar = true;
  Application->CreateForm(MainForm);

  const TDebugConsole* console = diag_testing::CurrentInstance();
  const bool open = console != nullptr && console->Enabled();
  std::ofstream report(output, std::ios::binary | std::ios::trunc);
  report << "file=" << platform::WideToUtf8(MainForm->mInstallerFile) << "\n"
         << "console=" << (open ? "on" : "off") << "\n";
  report.close();
  return report ? 0 : 3;
}
