// The two records of an execution request and the install method numbers.
#pragma once

#include <cstdint>
#include <string>

// What to run and how to launch it.
struct ExeParameter {
  std::u16string FileName;        // full path of the program; "COPYFILE" makes a copy request
  std::u16string Parameters;      // its arguments; for a copy request, the copy instructions
  std::u16string StageSource;     // "0": no staging; "1": the program's folder; else a folder
  bool RemoveStaged = false;      // remove the staged folder when the run is over
  bool WaitForExit = false;       // wait according to the install method; false: launch only
  std::u16string BootOptionFile;  // settings file in the staged folder, empty for none
  std::int32_t ShowCommand = 0;   // show state of the launch (1: a normal window)
  bool* ResultFlag = nullptr;     // receives the launch or copy result on the creator's thread
};

// How to wait for it. Read by the worker at every use; the creator keeps it
// alive and unchanged while the worker runs.
struct InstallMethodParam {
  std::u16string SpecificExeName;  // method 2: the executable name to look for
  std::u16string SpareText;
  bool SearchSpecificExe = false;  // method 2: wait for that process instead
  std::int32_t SpareNumber = 0;
  std::int32_t TimeoutSeconds = 0;  // measured from the start of the run
  std::int32_t UseTimeout = 0;      // the time-out applies only when this is 1
  bool IgnoreProcessEnd = false;    // waits end only by termination, time-out or a failed open
};

// The install method numbers; any other value launches nothing.
namespace INSTALLMETHOD {
inline constexpr std::int32_t WaitLaunchedExe = 0;
inline constexpr std::int32_t WaitProcessTree = 1;
inline constexpr std::int32_t WaitSpecificExe = 2;
}  // namespace INSTALLMETHOD
