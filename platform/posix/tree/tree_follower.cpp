// The tree follower's rounds: ends first, then discovery, then stops, then reaping.
#include "platform/posix/tree/tree_follower.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <unordered_map>
#include <unordered_set>

namespace platform::posix {

TreeFollower::TreeFollower(FollowerSystem& system, std::uint32_t launched, std::uint64_t launchedStartTicks,
                           bool watched, int scanMilliseconds)
    : mSystem(system), mOwnId(system.OwnId()), mLaunched(launched), mScanMilliseconds(scanMilliseconds) {
  // The launched program's start is the launch itself; its stop is reported.
  mMembers[launched] = Member{mOwnId, launchedStartTicks, watched};
}

bool TreeFollower::Round() {
  // 1. Which members have ended: the watched ones by their watch, the others
  // by the last scan (then without waiting).
  const bool seenEnded = std::any_of(mMembers.begin(), mMembers.end(), [](const auto& m) { return m.second.SeenEnded; });
  std::vector<std::uint32_t> ended = mSystem.EndedWatched(seenEnded && !mScanFailed ? 0 : mScanMilliseconds);
  for (const auto& [id, member] : mMembers) {
    if (member.SeenEnded) ended.push_back(id);
  }
  // 2. Everything they left behind was re-parented to this process before
  // their ends could be seen: this scan finds it.
  std::vector<ProcInfo> scan;
  mScanFailed = !mSystem.Scan(scan);
  if (mScanFailed) {
    // What they left is unknown, so are their stops: they wait for a scan
    // that can be read. Their watches go (a descriptor each, and a watch
    // of an ended process would end every later wait at once).
    for (const std::uint32_t id : ended) {
      const auto found = mMembers.find(id);
      if (found == mMembers.end()) continue;
      if (found->second.Watched) mSystem.Unwatch(id);
      found->second.Watched = false;
      found->second.SeenEnded = true;
    }
    if (ReapEnded()) return true;
    // No child left: every process of the tree would be one, or below one,
    // so the whole tree has ended and left nothing to find.
    for (const auto& [id, member] : mMembers) {
      if (member.Watched) mSystem.Unwatch(id);
      ReportStop(id, member.Parent);
    }
    mMembers.clear();
    return false;
  }
  Discover(scan);
  // 3. Only now their stops.
  for (const std::uint32_t id : ended) {
    const auto found = mMembers.find(id);
    if (found == mMembers.end()) continue;
    const Member member = found->second;
    mMembers.erase(found);
    if (member.Watched) mSystem.Unwatch(id);
    mFinished[id] = member.StartTicks;
    ReportStop(id, member.Parent);
  }
  // 4. Whoever adopted an orphan reaps it.
  const bool children = ReapEnded();
  return children || !mMembers.empty();
}

void TreeFollower::Discover(const std::vector<ProcInfo>& scan) {
  std::unordered_map<std::uint32_t, std::vector<const ProcInfo*>> childrenOf;
  std::unordered_map<std::uint32_t, std::uint64_t> listed;
  std::unordered_set<std::uint32_t> zombies;
  for (const ProcInfo& info : scan) {
    childrenOf[info.ParentId].push_back(&info);
    listed.emplace(info.Id, info.StartTicks);
    if (info.Zombie) zombies.insert(info.Id);
  }

  for (auto& [id, member] : mMembers) {
    if (member.Watched) continue;
    const auto now = listed.find(id);
    member.SeenEnded = now == listed.end() || now->second != member.StartTicks || zombies.count(id) != 0;
  }

  // Finished processes that are gone for good are forgotten.
  for (auto finished = mFinished.begin(); finished != mFinished.end();) {
    const auto now = listed.find(finished->first);
    const bool still = now != listed.end() && now->second == finished->second;
    finished = still ? std::next(finished) : mFinished.erase(finished);
  }

  // From this process and every member down, parents before their children.
  std::deque<std::uint32_t> parents{mOwnId};
  for (const auto& entry : mMembers) parents.push_back(entry.first);
  while (!parents.empty()) {
    const std::uint32_t parent = parents.front();
    parents.pop_front();
    const auto children = childrenOf.find(parent);
    if (children == childrenOf.end()) continue;
    for (const ProcInfo* child : children->second) {
      if (mMembers.count(child->Id) != 0) continue;  // known; its own children are looked at as a member's
      const auto finished = mFinished.find(child->Id);
      if (finished != mFinished.end() && finished->second == child->StartTicks) continue;
      // An orphan that came to this process is counted under the launched
      // program: its own parent has ended and may never have been seen.
      const std::uint32_t countedUnder = parent == mOwnId ? mLaunched : parent;
      ReportStart(child->Id, countedUnder, mSystem.NameOf(child->Id));
      // One that cannot be watched (gone already, or no descriptor left) is
      // looked at by the scans; a zombie has ended.
      const bool watched = !child->Zombie && mSystem.Watch(child->Id, child->StartTicks);
      mMembers[child->Id] = Member{countedUnder, child->StartTicks, watched, child->Zombie};
      parents.push_back(child->Id);
    }
  }
}

bool TreeFollower::ReapEnded() {
  for (;;) {
    const FollowerSystem::Reaped reaped = mSystem.ReapOne();
    switch (reaped.What) {
      case FollowerSystem::Reaped::Kind::NoChildren:
        return false;
      case FollowerSystem::Reaped::Kind::NoneEnded:
        return true;
      case FollowerSystem::Reaped::Kind::Child:
        if (mMembers.count(reaped.Id) != 0) break;  // its stop comes with its watch, next round
        if (mFinished.erase(reaped.Id) != 0) break;
        // An orphan that came and ended between two scans: never seen.
        ReportStart(reaped.Id, mLaunched, {});
        ReportStop(reaped.Id, mLaunched);
        break;
    }
  }
}

void TreeFollower::ReportStart(std::uint32_t id, std::uint32_t parent, const std::string& name) {
  TreeReport report;
  report.What = TreeReport::Kind::Start;
  report.Id = id;
  report.Parent = parent;
  std::memcpy(report.Name, name.data(), std::min(name.size(), sizeof report.Name - 1));
  mSystem.Report(report);
}

void TreeFollower::ReportStop(std::uint32_t id, std::uint32_t parent) {
  TreeReport report;
  report.What = TreeReport::Kind::Stop;
  report.Id = id;
  report.Parent = parent;
  mSystem.Report(report);
}

}  // namespace platform::posix
