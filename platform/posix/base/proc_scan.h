// One pass over /proc: every process's id, parent, executable name and
// whether it has ended without being reaped. Shared by the process list and
// the event service's polling and resynchronisation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform::posix {

struct ProcInfo {
  std::uint32_t Id = 0;
  std::uint32_t ParentId = 0;
  // The base name of the executable, else of argv[0], else the kernel's short
  // name, in the file system's bytes (UTF-8). Empty when not read or gone.
  std::string Name;
  // Ended but not yet reaped by its parent (state Z), its last thread too.
  bool Zombie = false;
  // Its end has begun (the kernel is tearing it down; a zombie next), in
  // its last thread.
  bool Exiting = false;
  // When the process started, in clock ticks since boot; together with the
  // id it tells one process from a later one that reuses the id.
  std::uint64_t StartTicks = 0;
};

// The fields of /proc/PID/stat that a scan keeps. False when the process is
// gone (or the line cannot be read).
bool ReadProcStat(std::uint32_t id, ProcInfo& info);

// The executable name as ProcInfo::Name gives it; empty when the process is gone.
std::string ReadProcName(std::uint32_t id);

enum class ProcNames { Read, Skip };

// Every process in /proc, in ascending order of id; processes that vanish
// during the pass are left out. With ProcNames::Skip the names stay empty
// (the cheap pass: one read of /proc/PID/stat each). Thread-safe.
std::vector<ProcInfo> ScanProcesses(ProcNames names = ProcNames::Read);

}  // namespace platform::posix
