// Opening links on Linux: xdg-open gets the target as one argument, runs
// without the caller's descriptors or ignored signals, is not waited for, and
// is reaped. A stand-in browser (BROWSER) records what arrives.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "controls/link_activation.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "tests/support/c_library_signals.h"

namespace {

bool Exists(const std::string& path) {
  struct stat s{};
  return stat(path.c_str(), &s) == 0;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

// Generous bound for a shell script to run; never needed in full.
constexpr auto kPatience = std::chrono::seconds(60);

template <class Condition>
bool WaitFor(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return condition();
}

// Children of this process that exist at all (running or zombie).
int CountChildren() {
  const std::string self = std::to_string(getpid());
  int count = 0;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return -1;
  while (dirent* entry = readdir(proc)) {
    const std::string stat = ReadFile(std::string("/proc/") + entry->d_name + "/stat");
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(stat.substr(close + 2));
    std::string state;
    std::string parent;
    fields >> state >> parent;
    if (parent == self) ++count;
  }
  closedir(proc);
  return count;
}

class SystemOpener : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/nvk-opener-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    mDir = pattern;
    // The stand-in browser waits for the gate, then records its arguments,
    // the descriptors it holds and its ignored-signal mask.
    const std::string script = mDir + "/browser";
    std::ofstream(script) << "#!/bin/sh\n"
                             "i=0; while [ ! -e '" << mDir << "/gate' ] && [ $i -lt 600 ]; do sleep 0.1; i=$((i+1)); done\n"
                             "ls /proc/$$/fd > '" << mDir << "/fds.tmp'\n"
                             "grep '^SigIgn:' /proc/$$/status > '" << mDir << "/sigign.tmp'\n"
                             "printf '%s\\n' \"$#\" \"$@\" > '" << mDir << "/args.tmp'\n"
                             "mv '" << mDir << "/fds.tmp' '" << mDir << "/fds'\n"
                             "mv '" << mDir << "/sigign.tmp' '" << mDir << "/sigign'\n"
                             "mv '" << mDir << "/args.tmp' '" << mDir << "/args'\n";
    ASSERT_EQ(chmod(script.c_str(), 0755), 0);
    setenv("BROWSER", script.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("BROWSER");
    for (const char* name : {"browser", "gate", "fds", "sigign", "args"}) unlink((mDir + "/" + name).c_str());
    rmdir(mDir.c_str());
  }
  std::string mDir;
};

TEST_F(SystemOpener, HandsTheTargetOverAsOneArgumentWithoutWaiting) {
  const std::u16string target = u"https://example.invalid/a b?x=1&y=$(touch pwned);z='q'\"r\"|s`t`";
  // A descriptor without close-on-exec, an ignored SIGPIPE and the C
  // library's own handlers: the handler must get neither, nor any of its
  // signals ignored.
  GiveTheCLibraryItsSignalHandlers();
  int leak[2];
  ASSERT_EQ(pipe(leak), 0);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction previous {};
  sigaction(SIGPIPE, &ignore, &previous);

  const bool opened = platform::SystemLinkOpener().OpenWithDefaultHandler(target);
  sigaction(SIGPIPE, &previous, nullptr);
  ASSERT_TRUE(opened);
  // The browser is still held at its gate, so the call did not wait for it.
  EXPECT_FALSE(Exists(mDir + "/args"));
  std::ofstream(mDir + "/gate") << "open\n";

  ASSERT_TRUE(WaitFor([&] { return Exists(mDir + "/args"); })) << "the stand-in browser never ran";
  EXPECT_EQ(ReadFile(mDir + "/args"), "1\n" + platform::WideToUtf8(target) + "\n");
  EXPECT_FALSE(Exists(mDir + "/pwned"));

  std::istringstream fds(ReadFile(mDir + "/fds"));
  for (std::string fd; fds >> fd;) {
    EXPECT_NE(fd, std::to_string(leak[0]));
    EXPECT_NE(fd, std::to_string(leak[1]));
  }
  // SIGPIPE is signal 13: bit 0x1000 of the mask; the C library's 32 and 33
  // are bits 0x80000000 and 0x100000000.
  const std::string sigign = ReadFile(mDir + "/sigign");
  ASSERT_EQ(sigign.rfind("SigIgn:", 0), 0u);
  const unsigned long long ignored = std::stoull(sigign.substr(7), nullptr, 16);
  EXPECT_EQ(ignored & 0x1000ull, 0ull) << sigign;
  EXPECT_EQ(ignored & 0x180000000ull, 0ull) << sigign;
  close(leak[0]);
  close(leak[1]);

  // Once the handler has ended nothing of it is left, not even a zombie.
  EXPECT_TRUE(WaitFor([] { return CountChildren() == 0; })) << CountChildren() << " children left";
}

TEST_F(SystemOpener, LinkRuleKeepsOtherTargetsAwayFromTheHandler) {
  EXPECT_FALSE(controls::ActivateLink(u"policies/terms/"));
  std::ofstream(mDir + "/gate") << "open\n";
  EXPECT_TRUE(controls::ActivateLink(u"mailto:someone@example.invalid"));
  ASSERT_TRUE(WaitFor([&] { return Exists(mDir + "/args"); }));
  EXPECT_EQ(ReadFile(mDir + "/args"), "1\nmailto:someone@example.invalid\n");
  EXPECT_TRUE(WaitFor([] { return CountChildren() == 0; }));
}

}  // namespace
