// Starts a Windows program with an exact command line, waits for it and exits
// with its exit code. Wine re-quotes the arguments on its own command line, so
// the line to pass comes from the environment instead:
//   NVK_LAUNCH_CMDLINE  the child's whole command line, program path included (required)
//   NVK_LAUNCH_PROGRAM  the program file to run, when it is not the line's first word
//   NVK_LAUNCH_DIR      the child's working folder
//   NVK_LAUNCH_PID_FILE a file to receive the child's process id, in decimal
// Exit code 254 with a message on standard error when the child cannot be started.
#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr int kLaunchFailed = 254;

std::optional<std::wstring> Environment(const wchar_t* name) {
  const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return std::nullopt;
  std::wstring value(size, L'\0');
  const DWORD length = GetEnvironmentVariableW(name, value.data(), size);
  if (length == 0 || length >= size) return std::nullopt;
  value.resize(length);
  return value;
}

const wchar_t* OrNull(const std::optional<std::wstring>& text) { return text ? text->c_str() : nullptr; }

// Written whole before the file is closed; a reader waits for a non-empty file.
void WriteProcessId(const std::wstring& file, DWORD id) {
  HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "launch: cannot write the process id file, error %lu\n", GetLastError());
    return;
  }
  const std::string text = std::to_string(id);
  DWORD written = 0;
  WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(handle);
}

}  // namespace

int main() {
  const std::optional<std::wstring> line = Environment(L"NVK_LAUNCH_CMDLINE");
  if (!line) {
    std::fprintf(stderr, "launch: NVK_LAUNCH_CMDLINE is not set\n");
    return kLaunchFailed;
  }
  const std::optional<std::wstring> program = Environment(L"NVK_LAUNCH_PROGRAM");
  const std::optional<std::wstring> folder = Environment(L"NVK_LAUNCH_DIR");

  // CreateProcessW may write into the command line, so it gets its own buffer.
  std::vector<wchar_t> buffer(line->begin(), line->end());
  buffer.push_back(L'\0');

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(OrNull(program), buffer.data(), nullptr, nullptr, TRUE, 0, nullptr, OrNull(folder),
                      &startup, &process)) {
    std::fprintf(stderr, "launch: CreateProcessW failed with error %lu\n", GetLastError());
    return kLaunchFailed;
  }
  CloseHandle(process.hThread);
  if (const std::optional<std::wstring> pidFile = Environment(L"NVK_LAUNCH_PID_FILE")) {
    WriteProcessId(*pidFile, process.dwProcessId);
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exitCode = 0;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hProcess);
  return static_cast<int>(exitCode);
}
