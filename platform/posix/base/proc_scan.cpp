// The /proc scan: ids, parents, names, zombie state and start times of the
// running processes.
#include "platform/posix/base/proc_scan.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>

#include "common/path_words.h"
#include "platform/posix/base/read_file.h"
#include "platform/posix/base/unique_fd.h"

namespace platform::posix {
namespace {

// The name after the last "/" or "\\" (a program started through Wine has a
// Windows path as its first argument).
std::string BaseName(std::string_view path) { return common::FileNamePart(path, common::kLinuxPathDelimiters); }

// The decimal number at the start of text; false when there is none.
template <class Number>
bool ParseNumber(std::string_view text, Number& number) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  return error == std::errc() && end != text.data();
}

// The kernel's flag of a process whose end has begun (PF_EXITING).
constexpr std::uint32_t kExiting = 0x4;

// The space-separated fields after the command name of a stat line: the
// state is field 0, the parent 1, the flags 6, the number of threads 17, the
// start time 19.
std::vector<std::string_view> FieldsAfterName(std::string_view line) {
  std::vector<std::string_view> fields;
  const std::size_t close = line.rfind(')');
  if (close == std::string_view::npos) return fields;
  std::size_t start = close + 2;
  while (start < line.size() && fields.size() < 20) {
    std::size_t end = line.find(' ', start);
    if (end == std::string_view::npos) end = line.size();
    fields.push_back(line.substr(start, end - start));
    start = end + 1;
  }
  return fields;
}

}  // namespace

bool ReadProcStat(std::uint32_t id, ProcInfo& info) {
  const std::string line = ReadWholeFile("/proc/" + std::to_string(id) + "/stat");
  const std::vector<std::string_view> fields = FieldsAfterName(line);
  if (fields.size() < 20 || fields[0].empty()) return false;
  info.Id = id;
  // State and flags are the first thread's: a process whose first thread
  // has ended shows it as a zombie while its other threads run on. Only
  // the last thread's end is the process's.
  std::uint32_t threads = 0;
  std::uint32_t flags = 0;
  if (!ParseNumber(fields[17], threads) || !ParseNumber(fields[6], flags)) return false;
  const bool lastThread = threads <= 1;
  info.Zombie = lastThread && (fields[0][0] == 'Z' || fields[0][0] == 'X');
  info.Exiting = lastThread && (flags & kExiting) != 0;
  return ParseNumber(fields[1], info.ParentId) && ParseNumber(fields[19], info.StartTicks);
}

std::string ReadProcName(std::uint32_t id) {
  const std::string folder = "/proc/" + std::to_string(id);
  char target[4096];
  const ssize_t length = readlink((folder + "/exe").c_str(), target, sizeof target);
  if (length > 0) {
    std::string path(target, static_cast<std::size_t>(length));
    const std::string deleted = " (deleted)";
    if (path.size() > deleted.size() && path.ends_with(deleted)) path.resize(path.size() - deleted.size());
    return BaseName(path);
  }
  const std::string commandLine = ReadWholeFile(folder + "/cmdline");
  const std::string first = BaseName(commandLine.substr(0, commandLine.find('\0')));
  if (!first.empty()) return first;
  std::string shortName = ReadWholeFile(folder + "/comm");
  if (!shortName.empty() && shortName.back() == '\n') shortName.pop_back();
  return shortName;
}

std::vector<ProcInfo> ScanProcesses(ProcNames names) {
  std::vector<ProcInfo> processes;
  const UniqueDir dir(opendir("/proc"));
  if (!dir.IsValid()) return processes;
  while (const dirent* entry = readdir(dir.Get())) {
    const std::string_view name = entry->d_name;
    std::uint32_t id = 0;
    if (name.empty() || !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
        !ParseNumber(name, id)) {
      continue;
    }
    ProcInfo info;
    if (!ReadProcStat(id, info)) continue;
    if (names == ProcNames::Read) info.Name = ReadProcName(id);
    processes.push_back(std::move(info));
  }
  std::sort(processes.begin(), processes.end(), [](const ProcInfo& a, const ProcInfo& b) { return a.Id < b.Id; });
  return processes;
}

}  // namespace platform::posix
