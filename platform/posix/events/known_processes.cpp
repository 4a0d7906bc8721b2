// Start and stop events from the difference between what the event service
// knew and what the kernel or a /proc scan reports.
#include "platform/posix/events/known_processes.h"

#include <algorithm>

namespace platform::posix {
namespace {

// Start times from the kernel's event stamps and from /proc are rounded
// differently: within one tick they are the same process.
bool SameStart(std::uint64_t a, std::uint64_t b) { return a <= b + 1 && b <= a + 1; }

// A zombie has ended; so has a process whose end has begun, whose end report
// may already have been read.
bool Running(const ProcInfo& info) { return !info.Zombie && !info.Exiting; }

}  // namespace

void ReportedTrees::Add(std::uint32_t root) {
  std::lock_guard<std::mutex> lock(mMutex);
  mRoots.insert(root);
}

void ReportedTrees::Remove(std::uint32_t root) {
  std::lock_guard<std::mutex> lock(mMutex);
  mRoots.erase(root);
}

std::set<std::uint32_t> ReportedTrees::Roots() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mRoots;
}

void KnownProcesses::Reset(const std::vector<ProcInfo>& scan) {
  mKnown.clear();
  for (const ProcInfo& info : scan) {
    if (Running(info)) mKnown[info.Id] = Known{info.ParentId, info.StartTicks, info.Name, kUnresolved};
  }
  const std::set<std::uint32_t> roots = Roots();
  for (auto& entry : mKnown) ResolveReportedBy(entry.first, roots);
}

std::uint32_t KnownProcesses::ResolveReportedBy(std::uint32_t id, const std::set<std::uint32_t>& roots) {
  const auto found = mKnown.find(id);
  if (found == mKnown.end()) return 0;
  Known& known = found->second;
  if (known.ReportedBy != kUnresolved) return known.ReportedBy;
  known.ReportedBy = 0;  // a parent chain that comes back here ends here
  const std::uint32_t parent = known.Parent;
  // Nothing is inserted meanwhile, so the reference stays valid.
  known.ReportedBy = roots.count(parent) != 0 ? parent : ResolveReportedBy(parent, roots);
  return known.ReportedBy;
}

void KnownProcesses::Started(std::uint32_t id, std::uint32_t parent, std::uint64_t startTicks,
                             std::vector<ProcessEvent>& events) {
  const auto found = mKnown.find(id);
  if (found != mKnown.end()) {
    if (startTicks <= found->second.StartTicks + 1) return;  // already known, or an older process's report
    AppendStop(id, found->second, Roots(), events);
    mKnown.erase(found);
  }
  mKnown[id] = Known{parent, startTicks, {}, kUnresolved};
  const std::set<std::uint32_t> roots = Roots();
  if (roots.empty() || ResolveReportedBy(id, roots) == 0) {
    events.push_back(ProcessEvent{ProcessEventKind::Start, id, parent, {}});
  }
}

void KnownProcesses::Ended(std::uint32_t id, std::uint64_t ticks, std::vector<ProcessEvent>& events) {
  const auto found = mKnown.find(id);
  if (found == mKnown.end() || ticks + 1 < found->second.StartTicks) return;
  AppendStop(id, found->second, Roots(), events);
  mKnown.erase(found);
}

void KnownProcesses::Resync(const std::vector<ProcInfo>& scan, std::vector<ProcessEvent>& events) {
  const std::set<std::uint32_t> roots = Roots();
  std::unordered_map<std::uint32_t, const ProcInfo*> running;
  for (const ProcInfo& info : scan) {
    if (Running(info)) running.emplace(info.Id, &info);
  }
  for (auto known = mKnown.begin(); known != mKnown.end();) {
    const auto now = running.find(known->first);
    if (now != running.end() && SameStart(now->second->StartTicks, known->second.StartTicks)) {
      ++known;
      continue;
    }
    AppendStop(known->first, known->second, roots, events);
    known = mKnown.erase(known);
  }
  // New processes in the order they started, so that a parent's start comes
  // before its children's.
  std::vector<const ProcInfo*> added;
  for (const ProcInfo& info : scan) {
    if (Running(info) && !mKnown.contains(info.Id)) added.push_back(&info);
  }
  std::sort(added.begin(), added.end(), [](const ProcInfo* a, const ProcInfo* b) {
    return a->StartTicks != b->StartTicks ? a->StartTicks < b->StartTicks : a->Id < b->Id;
  });
  // All of them known first, so that a child found before its parent is
  // still placed below the parent's root.
  for (const ProcInfo* info : added) mKnown[info->Id] = Known{info->ParentId, info->StartTicks, info->Name, kUnresolved};
  for (const ProcInfo* info : added) {
    Known& known = mKnown[info->Id];
    if (ResolveReportedBy(info->Id, roots) != 0) continue;
    if (known.Name.empty()) known.Name = ReadProcName(info->Id);
    events.push_back(ProcessEvent{ProcessEventKind::Start, info->Id, info->ParentId, known.Name});
  }
}

void KnownProcesses::AppendStop(std::uint32_t id, const Known& known, const std::set<std::uint32_t>& roots,
                                std::vector<ProcessEvent>& events) {
  if (LeftOut(known, roots)) return;
  events.push_back(ProcessEvent{ProcessEventKind::Stop, id, known.Parent, known.Name});
}

}  // namespace platform::posix
