// A stand-in for the partner's installer, for the demo and the tests. It
// appends a record of how it was started (arguments, working folder, own
// path, ids; on Linux also its open descriptors and signal state) to the file
// named by NVK_STANDIN_LOG, or else to its own path followed by ".log". Then,
// as its environment says:
//   NVK_STANDIN_WAIT_FILE=path    first wait until that file exists;
//   NVK_STANDIN_CHILDREN=n        after NVK_STANDIN_CHILD_DELAY_MS (300) start n
//                                 copies of NVK_STANDIN_CHILD_PROGRAM (itself),
//                                 which sleep NVK_STANDIN_CHILD_SLEEP_MS, and
//                                 do not wait for them;
//   NVK_STANDIN_CHILD_SLEEPS_MS=a,b,...   child i sleeps the i-th number instead;
//   NVK_STANDIN_GRANDCHILDREN=a,b,...     child i at once starts that many children
//                                 of its own, which sleep
//                                 NVK_STANDIN_GRANDCHILD_SLEEP_MS, then sleeps;
//   NVK_STANDIN_SLEEP_MS=ms       then sleep that long before exiting (0);
//   NVK_STANDIN_CHILD_WAIT_FILE=path  the children first wait for that file;
//   NVK_STANDIN_EXIT_CODE=code    the exit code (0).
// Record format, one field per line, each record ending with "end":
// "run PID", "parent PID" (as the system reports it; on Linux an orphan's is
// 1), "starter PID" (the stand-in that started this one, or empty),
// "exe PATH", "cwd PATH", "arg TEXT" per argument (as the C runtime split
// them for main; on Windows read in the ANSI code page), on Windows "cmdline TEXT",
// and on Linux "fd N" per open descriptor, "sigblk HEX" and "sigign HEX".
// Texts are UTF-8 with control characters and "%" written as %XX.
#ifdef _WIN32
#include <windows.h>
// After windows.h:
#include <tlhelp32.h>
#else
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <time.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#ifndef _WIN32
extern char** environ;
#endif

namespace {

std::string Escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || c == '%') {
      char code[4];
      std::snprintf(code, sizeof code, "%%%02X", byte);
      out += code;
    } else {
      out += c;
    }
  }
  return out;
}

void AddField(std::string& record, const char* name, const std::string& value) {
  record += name;
  record += ' ';
  record += Escaped(value);
  record += '\n';
}

long EnvironmentNumber(const char* name, long fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::strtol(value, nullptr, 10) : fallback;
}

std::string EnvironmentText(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// The comma-separated items of a text; none for an empty text.
std::vector<std::string> Items(const std::string& text) {
  std::vector<std::string> items;
  if (text.empty()) return items;
  std::size_t start = 0;
  for (std::size_t comma = text.find(','); comma != std::string::npos; comma = text.find(',', start)) {
    items.push_back(text.substr(start, comma - start));
    start = comma + 1;
  }
  items.push_back(text.substr(start));
  return items;
}

#ifdef _WIN32

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), length, nullptr, nullptr);
  return out;
}

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), size, out.data(), length);
  return out;
}

std::wstring FromAnsi(const std::string& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), size, out.data(), length);
  return out;
}

std::wstring OwnPath() {
  std::wstring buffer(32768, L'\0');
  buffer.resize(GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size())));
  return buffer;
}

DWORD ParentId() {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  DWORD parent = 0;
  for (BOOL ok = Process32FirstW(snapshot, &entry); ok; ok = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == GetCurrentProcessId()) parent = entry.th32ParentProcessID;
  }
  CloseHandle(snapshot);
  return parent;
}

// The arguments as its C runtime split the command line for main, read in
// the ANSI code page.
std::string Record(int argc, char** argv) {
  std::string record;
  AddField(record, "run", std::to_string(GetCurrentProcessId()));
  AddField(record, "parent", std::to_string(ParentId()));
  AddField(record, "starter", EnvironmentText("NVK_STANDIN_STARTER"));
  AddField(record, "exe", Utf8(OwnPath()));
  std::wstring folder(32768, L'\0');
  folder.resize(GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data()));
  AddField(record, "cwd", Utf8(folder));
  AddField(record, "cmdline", Utf8(GetCommandLineW()));
  for (int i = 1; i < argc; ++i) AddField(record, "arg", Utf8(FromAnsi(argv[i])));
  record += "end\n";
  return record;
}

void Append(const std::string& path, const std::string& record) {
  const HANDLE file = CreateFileW(Wide(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
  CloseHandle(file);
}

std::string DefaultLogPath() { return Utf8(OwnPath()) + ".log"; }

std::string OwnId() { return std::to_string(GetCurrentProcessId()); }

void SleepMs(long milliseconds) { ::Sleep(static_cast<DWORD>(milliseconds)); }

bool Exists(const std::string& path) { return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

void StartChild(const std::string& program) {
  std::wstring path = Wide(program);
  std::wstring commandLine = L"\"" + path + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  }
}

void SetEnvironment(const char* name, const std::string& value) {
  SetEnvironmentVariableW(Wide(name).c_str(), value.empty() ? nullptr : Wide(value).c_str());
}

#else

std::string ReadFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  std::string content;
  char buffer[4096];
  ssize_t n = 0;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) content.append(buffer, static_cast<std::size_t>(n));
  close(fd);
  return content;
}

// The hex mask of a "Name:\tHEX" line of /proc/self/status.
std::string StatusMask(const std::string& status, const std::string& name) {
  const std::size_t at = status.find("\n" + name + ":\t");
  if (at == std::string::npos) return "?";
  const std::size_t start = at + name.size() + 3;
  return status.substr(start, status.find('\n', start) - start);
}

std::string OwnPath() {
  std::string buffer(4096, '\0');
  const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
  buffer.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
  return buffer;
}

std::string Record(int argc, char** argv) {
  std::string record;
  AddField(record, "run", std::to_string(getpid()));
  AddField(record, "parent", std::to_string(getppid()));
  AddField(record, "starter", EnvironmentText("NVK_STANDIN_STARTER"));
  AddField(record, "exe", OwnPath());
  std::string folder(4096, '\0');
  AddField(record, "cwd", getcwd(folder.data(), folder.size()) != nullptr ? folder.c_str() : "?");
  for (int i = 1; i < argc; ++i) AddField(record, "arg", argv[i]);
  // The descriptors that came with the process (the listing's own excepted).
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != ".." && name != std::to_string(dirfd(dir))) AddField(record, "fd", name);
    }
    closedir(dir);
  }
  const std::string status = ReadFile("/proc/self/status");
  AddField(record, "sigblk", StatusMask(status, "SigBlk"));
  AddField(record, "sigign", StatusMask(status, "SigIgn"));
  record += "end\n";
  return record;
}

void Append(const std::string& path, const std::string& record) {
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  // One write, so that records of processes running side by side stay whole.
  const ssize_t written = write(fd, record.data(), record.size());
  static_cast<void>(written);
  close(fd);
}

std::string DefaultLogPath() { return OwnPath() + ".log"; }

std::string OwnId() { return std::to_string(getpid()); }

void SleepMs(long milliseconds) {
  timespec delay{static_cast<time_t>(milliseconds / 1000), (milliseconds % 1000) * 1000000L};
  while (nanosleep(&delay, &delay) != 0 && errno == EINTR) {
  }
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

void StartChild(const std::string& program) {
  std::string path = program;
  char* argv[] = {path.data(), nullptr};
  pid_t pid = 0;
  posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ);
}

void SetEnvironment(const char* name, const std::string& value) {
  if (value.empty()) {
    unsetenv(name);
  } else {
    setenv(name, value.c_str(), 1);
  }
}

#endif

}  // namespace

int main(int argc, char** argv) {
  const std::string record = Record(argc, argv);
  const std::string log = EnvironmentText("NVK_STANDIN_LOG");
  Append(log.empty() ? DefaultLogPath() : log, record);

  const std::string waitFile = EnvironmentText("NVK_STANDIN_WAIT_FILE");
  if (!waitFile.empty()) {
    while (!Exists(waitFile)) SleepMs(20);
  }
  const int exitCode = static_cast<int>(EnvironmentNumber("NVK_STANDIN_EXIT_CODE", 0));
  const long children = EnvironmentNumber("NVK_STANDIN_CHILDREN", 0);
  if (children > 0) {
    SleepMs(EnvironmentNumber("NVK_STANDIN_CHILD_DELAY_MS", 300));
    std::string program = EnvironmentText("NVK_STANDIN_CHILD_PROGRAM");
#ifdef _WIN32
    if (program.empty()) program = Utf8(OwnPath());
#else
    if (program.empty()) program = OwnPath();
#endif
    const long ownSleep = EnvironmentNumber("NVK_STANDIN_SLEEP_MS", 0);
    const std::vector<std::string> sleeps = Items(EnvironmentText("NVK_STANDIN_CHILD_SLEEPS_MS"));
    const std::vector<std::string> grandchildren = Items(EnvironmentText("NVK_STANDIN_GRANDCHILDREN"));
    const std::string childSleep = EnvironmentText("NVK_STANDIN_CHILD_SLEEP_MS");
    const std::string grandchildSleep = EnvironmentText("NVK_STANDIN_GRANDCHILD_SLEEP_MS");
    // Each child sleeps as told and starts the grandchildren it is given at
    // once; grandchildren start none.
    SetEnvironment("NVK_STANDIN_EXIT_CODE", "");
    SetEnvironment("NVK_STANDIN_WAIT_FILE", EnvironmentText("NVK_STANDIN_CHILD_WAIT_FILE"));
    SetEnvironment("NVK_STANDIN_CHILD_SLEEPS_MS", "");
    SetEnvironment("NVK_STANDIN_GRANDCHILDREN", "");
    SetEnvironment("NVK_STANDIN_CHILD_DELAY_MS", "0");
    SetEnvironment("NVK_STANDIN_CHILD_SLEEP_MS", grandchildSleep);
    SetEnvironment("NVK_STANDIN_STARTER", OwnId());
    for (long i = 0; i < children; ++i) {
      const auto at = static_cast<std::size_t>(i);
      SetEnvironment("NVK_STANDIN_SLEEP_MS", at < sleeps.size() ? sleeps[at] : childSleep);
      SetEnvironment("NVK_STANDIN_CHILDREN", at < grandchildren.size() ? grandchildren[at] : "");
      StartChild(program);
    }
    SleepMs(ownSleep);
    return exitCode;
  }
  SleepMs(EnvironmentNumber("NVK_STANDIN_SLEEP_MS", 0));
  return exitCode;
}
