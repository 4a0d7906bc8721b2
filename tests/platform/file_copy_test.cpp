// The Linux file copy's three ways, tried in this order: copy_file_range,
// sendfile, and reads into a buffer written out. A way refused before it
// moved a byte passes the copy to the next; each way goes on after an
// interrupted call and ends at the first end-of-file answer (0), whatever
// errno still holds, even where the file has grown since. A way that fails
// part-way leaves no target behind. Neither end is ever opened unless it is
// a regular file.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstring>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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

// The three ways a file is copied, each made the one taken and answered from
// gAnswers: the kernel's range copy, sendfile, and reads with writes.
struct CopyWay {
  const char* Way;
  KernelCalls Calls;
};

std::vector<CopyWay> AnsweredWays() {
  KernelCalls byRange = platform::posix::SystemKernelCalls();
  byRange.CopyFileRange = AnsweredCopyFileRange;
  KernelCalls bySendfile = byRange;
  bySendfile.CopyFileRange = RefusedCopyFileRange;
  bySendfile.SendFile = AnsweredSendFile;
  KernelCalls byReads = bySendfile;
  byReads.SendFile = RefusedSendFile;
  byReads.Read = AnsweredRead;
  return {{"copy_file_range", byRange}, {"sendfile", bySendfile}, {"read and write", byReads}};
}

TEST(FileCopyTest, EachWayEndsAtTheFirstEndOfFileEvenWithErrnoStillHoldingAnInterruption) {
  for (const CopyWay& way : AnsweredWays()) {
    SCOPED_TRACE(way.Way);
    standin::TempFolder folder;
    std::ofstream(folder.Path() / "source") << "the source's bytes come from the answers";
    // The end comes after an interrupted call, so errno still holds EINTR;
    // "late" is what a file that grew meanwhile would give a further call.
    gAnswers = {{"abc"}, {"", EINTR}, {"def"}, {""}, {"late"}};
    KernelCalls calls = way.Calls;
    const platform::posix::ScopedKernelCallsForTesting fake(calls);
    EXPECT_TRUE(platform::SystemFiles().CopyFileReplacing(standin::Wide(folder.Path() / "source"),
                                                          standin::Wide(folder.Path() / "target")));
    EXPECT_EQ(Contents(folder.Path() / "target"), "abcdef");
  }
}

TEST(FileCopyTest, AWayThatFailsPartWayLeavesNoTargetAndTheSourceAsItWas) {
  for (const CopyWay& way : AnsweredWays()) {
    for (const bool targetExisted : {false, true}) {
      SCOPED_TRACE(std::string(way.Way) + (targetExisted ? ", over an existing target" : ", a new target"));
      standin::TempFolder folder;
      std::ofstream(folder.Path() / "source") << "the source";
      if (targetExisted) std::ofstream(folder.Path() / "target") << "an older copy";
      // The disk fills up after the first bytes.
      gAnswers = {{"abc"}, {"", ENOSPC}};
      KernelCalls calls = way.Calls;
      const platform::posix::ScopedKernelCallsForTesting fake(calls);
      EXPECT_FALSE(platform::SystemFiles().CopyFileReplacing(standin::Wide(folder.Path() / "source"),
                                                             standin::Wide(folder.Path() / "target")));
      EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(folder.Path() / "target")));
      EXPECT_EQ(Contents(folder.Path() / "source"), "the source");
    }
  }
}

TEST(FileCopyTest, NeitherEndIsOpenedUnlessItIsARegularFile) {
  standin::TempFolder folder;
  const std::filesystem::path dir = folder.Path();
  std::ofstream(dir / "file") << "a file";
  ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
  std::filesystem::create_symlink(dir / "pipe", dir / "link-to-pipe");
  std::vector<std::string> odd = {"pipe"};
  // A device of its own (the null device's numbers): opening it is what must not happen.
  if (mknod((dir / "device").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0) odd.push_back("device");
  const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  for (const std::string& name : odd) ASSERT_GE(inotify_add_watch(watch, (dir / name).c_str(), IN_OPEN), 0);
  // A reader of the pipe: a writer's open would succeed and wake it.
  const int reader = open((dir / "pipe").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  char events[4096];
  while (read(watch, events, sizeof events) > 0) {
  }  // the reader's own open

  platform::FileServices& files = platform::SystemFiles();
  for (const std::string& name : odd) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(files.CopyFileReplacing(standin::Wide(dir / name), standin::Wide(dir / "copy")));
    EXPECT_FALSE(files.CopyFileReplacing(standin::Wide(dir / "file"), standin::Wide(dir / name)));
  }
  EXPECT_FALSE(files.CopyFileReplacing(standin::Wide(dir / "link-to-pipe"), standin::Wide(dir / "copy")));
  EXPECT_LT(read(watch, events, sizeof events), 0) << "an odd entry was opened";
  EXPECT_FALSE(std::filesystem::exists(dir / "copy"));
  // A link to a regular file stands for the file.
  std::filesystem::create_symlink(dir / "file", dir / "link-to-file");
  EXPECT_TRUE(files.CopyFileReplacing(standin::Wide(dir / "link-to-file"), standin::Wide(dir / "copy")));
  EXPECT_EQ(Contents(dir / "copy"), "a file");
  close(reader);
  close(watch);
  if (odd.size() == 1) std::printf("(no device node could be made: not tried)\n");
}

}  // namespace
