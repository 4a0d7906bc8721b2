// Test helpers around the stand-in installer: where it is, how to steer it
// through the environment, and its records.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/path_words.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/text.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <stdlib.h>
#include <unistd.h>
#endif

namespace standin {

inline std::u16string OwnFolder() {
  return common::FolderPart(platform::SystemFiles().OwnExecutablePath(), common::kLinuxPathDelimiters);
}

// The stand-in beside the test program, under the installer's name or as tool.exe.
inline std::u16string InstallerPath() { return OwnFolder() + u"Norvik_TB_Installer.exe"; }
inline std::u16string ToolPath() { return OwnFolder() + u"tool.exe"; }

inline void SetEnvironment(const char* name, const std::string& value) {
#ifdef _WIN32
  const std::u16string wideName = platform::Utf8ToWide(name);
  const std::u16string wideValue = platform::Utf8ToWide(value);
  SetEnvironmentVariableW(reinterpret_cast<const wchar_t*>(wideName.c_str()),
                          value.empty() ? nullptr : reinterpret_cast<const wchar_t*>(wideValue.c_str()));
#else
  if (value.empty()) {
    unsetenv(name);
  } else {
    setenv(name, value.c_str(), 1);
  }
#endif
}

// The environment variable set for the lifetime of this object.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const std::string& value) : mName(name) { SetEnvironment(name, value); }
  ~ScopedEnvironment() { SetEnvironment(mName, ""); }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  const char* mName;
};

inline std::u16string Wide(const std::filesystem::path& path) { return path.u16string(); }
inline std::string Utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// A fresh folder under the temporary folder, removed with its contents at the end.
class TempFolder {
 public:
  TempFolder() {
    static int counter = 0;
    const auto unique = std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
                        std::to_string(++counter);
    mPath = std::filesystem::temp_directory_path() / ("nvk-platform-" + unique);
    std::filesystem::create_directories(mPath);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(mPath, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& Path() const { return mPath; }

 private:
  std::filesystem::path mPath;
};

// One start of the stand-in, as it recorded it.
struct StandInRun {
  std::uint32_t Pid = 0;
  std::uint32_t Parent = 0;
  std::string Starter;  // the id of the stand-in that started this one
  std::string Exe;
  std::string Cwd;
  std::vector<std::string> Args;
  std::vector<int> Fds;
  std::string SigBlk;
  std::string SigIgn;
};

inline std::string Unescaped(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// Every complete record in the log, in the order written.
inline std::vector<StandInRun> ReadRuns(const std::filesystem::path& log) {
  std::vector<StandInRun> runs;
  std::ifstream in(log, std::ios::binary);
  std::string line;
  StandInRun run;
  while (std::getline(in, line)) {
    const std::size_t space = line.find(' ');
    const std::string key = line.substr(0, space);
    const std::string value = space == std::string::npos ? "" : Unescaped(line.substr(space + 1));
    if (key == "run") {
      run = StandInRun();
      run.Pid = static_cast<std::uint32_t>(std::stoul(value));
    }
    if (key == "parent") run.Parent = static_cast<std::uint32_t>(std::stoul(value));
    if (key == "starter") run.Starter = value;
    if (key == "exe") run.Exe = value;
    if (key == "cwd") run.Cwd = value;
    if (key == "arg") run.Args.push_back(value);
    if (key == "fd") run.Fds.push_back(std::stoi(value));
    if (key == "sigblk") run.SigBlk = value;
    if (key == "sigign") run.SigIgn = value;
    if (key == "end") runs.push_back(run);
  }
  return runs;
}

// Waits in the worker's 200 ms steps until the process has ended; false when
// it has not ended within a generous minute.
inline bool WaitUntilEnded(platform::ProcessServices& processes, platform::Handle process) {
  for (int pass = 0; pass < 300; ++pass) {
    if (processes.Wait(process, 200) == platform::kWaitObject0) return true;
  }
  return false;
}

// Creates the file that a stand-in started with NVK_STANDIN_WAIT_FILE waits for.
inline void Release(const std::filesystem::path& waitFile) { std::ofstream(waitFile) << "go"; }

}  // namespace standin
