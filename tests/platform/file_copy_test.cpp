// The Linux file copy's three ways, tried in this order: copy_file_range,
// sendfile, and reads into a buffer written out. A way refused before it
// moved a byte passes the copy to the next; each way goes on after an
// interrupted call and ends at the first end-of-file answer (0), whatever
// errno still holds, even where the file has grown since. A way that fails
// part-way leaves no target behind.
#include <errno.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/files.h"
#include "platform/posix/base/kernel_calls.h"
#include "tests/platform/standin.h"

namespace {

using platform::posix::KernelCalls;

// One answer of the way under test: -1 with Error, else the bytes moved
// (none: the end of the file, with errno left as it was).
struct Answer {
  std::string Bytes;
  int Error = 0;
};

std::deque<Answer> gAnswers;

// The next answer; its bytes land in the target (out) or in the read buffer
// (into). Past the last answer the disk fails.
ssize_t Answered(int out, void* into, std::size_t room) {
  if (gAnswers.empty()) {
    errno = EIO;
    return -1;
  }
  const Answer answer = gAnswers.front();
  gAnswers.pop_front();
  if (answer.Error != 0) {
    errno = answer.Error;
    return -1;
  }
  if (answer.Bytes.size() > room) {
    errno = EIO;
    return -1;
  }
  if (into != nullptr) {
    std::memcpy(into, answer.Bytes.data(), answer.Bytes.size());
  } else if (write(out, answer.Bytes.data(), answer.Bytes.size()) != static_cast<ssize_t>(answer.Bytes.size())) {
    return -1;
  }
  return static_cast<ssize_t>(answer.Bytes.size());
}

ssize_t AnsweredCopyFileRange(int, loff_t*, int out, loff_t*, size_t room, unsigned) { return Answered(out, nullptr, room); }
ssize_t AnsweredSendFile(int out, int, off_t*, size_t room) { return Answered(out, nullptr, room); }
ssize_t AnsweredRead(int, void* into, size_t room) { return Answered(-1, into, room); }
ssize_t RefusedCopyFileRange(int, loff_t*, int, loff_t*, size_t, unsigned) {
  errno = EXDEV;  // two file systems on a kernel that cannot copy between them
  return -1;
}
ssize_t RefusedSendFile(int, int, off_t*, size_t) {
  errno = EINVAL;
  return -1;
}

std::string Contents(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

TEST(FileCopyTest, EachWayEndsAtTheFirstEndOfFileEvenWithErrnoStillHoldingAnInterruption) {
  KernelCalls byRange = platform::posix::SystemKernelCalls();
  byRange.CopyFileRange = AnsweredCopyFileRange;
  KernelCalls bySendfile = byRange;
  bySendfile.CopyFileRange = RefusedCopyFileRange;
  bySendfile.SendFile = AnsweredSendFile;
  KernelCalls byReads = bySendfile;
  byReads.SendFile = RefusedSendFile;
  byReads.Read = AnsweredRead;
  const struct {
    const char* Way;
    const KernelCalls* Calls;
  } ways[] = {{"copy_file_range", &byRange}, {"sendfile", &bySendfile}, {"read and write", &byReads}};

  for (const auto& way : ways) {
    SCOPED_TRACE(way.Way);
    standin::TempFolder folder;
    std::ofstream(folder.Path() / "source") << "the source's bytes come from the answers";
    // The end comes after an interrupted call, so errno still holds EINTR;
    // "late" is what a file that grew meanwhile would give a further call.
    gAnswers = {{"abc"}, {"", EINTR}, {"def"}, {""}, {"late"}};
    KernelCalls calls = *way.Calls;
    const platform::posix::ScopedKernelCallsForTesting fake(calls);
    EXPECT_TRUE(platform::SystemFiles().CopyFileReplacing(standin::Wide(folder.Path() / "source"),
                                                          standin::Wide(folder.Path() / "target")));
    EXPECT_EQ(Contents(folder.Path() / "target"), "abcdef");
  }
}

TEST(FileCopyTest, AWayThatFailsPartWayLeavesNoTargetAndTheSourceAsItWas) {
  KernelCalls byRange = platform::posix::SystemKernelCalls();
  byRange.CopyFileRange = AnsweredCopyFileRange;
  KernelCalls bySendfile = byRange;
  bySendfile.CopyFileRange = RefusedCopyFileRange;
  bySendfile.SendFile = AnsweredSendFile;
  KernelCalls byReads = bySendfile;
  byReads.SendFile = RefusedSendFile;
  byReads.Read = AnsweredRead;
  const struct {
    const char* Way;
    const KernelCalls* Calls;
  } ways[] = {{"copy_file_range", &byRange}, {"sendfile", &bySendfile}, {"read and write", &byReads}};

  for (const auto& way : ways) {
    for (const bool targetExisted : {false, true}) {
      SCOPED_TRACE(std::string(way.Way) + (targetExisted ? ", over an existing target" : ", a new target"));
      standin::TempFolder folder;
      std::ofstream(folder.Path() / "source") << "the source";
      if (targetExisted) std::ofstream(folder.Path() / "target") << "an older copy";
      // The disk fills up after the first bytes.
      gAnswers = {{"abc"}, {"", ENOSPC}};
      KernelCalls calls = *way.Calls;
      const platform::posix::ScopedKernelCallsForTesting fake(calls);
      EXPECT_FALSE(platform::SystemFiles().CopyFileReplacing(standin::Wide(folder.Path() / "source"),
                                                             standin::Wide(folder.Path() / "target")));
      EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(folder.Path() / "target")));
      EXPECT_EQ(Contents(folder.Path() / "source"), "the source");
    }
  }
}

}  // namespace
