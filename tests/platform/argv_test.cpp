// Command-line splitting by the Windows C runtime's rules. The real launch of
// each build is held to the same table in process_test.cpp.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "platform/argv.h"
#include "tests/platform/argument_cases.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

// A text placed at the very end of a readable page that is followed by a page
// no one may touch: a read past the text's end ends the test program.
class TextBeforeGuardPage {
 public:
  explicit TextBeforeGuardPage(std::u16string_view text) {
#ifdef _WIN32
    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    mPage = system.dwPageSize;
    mBlock = static_cast<char*>(VirtualAlloc(nullptr, 2 * mPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD previous = 0;
    mGuarded = mBlock != nullptr && VirtualProtect(mBlock + mPage, mPage, PAGE_NOACCESS, &previous) != 0;
#else
    mPage = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    void* block = mmap(nullptr, 2 * mPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    mBlock = block == MAP_FAILED ? nullptr : static_cast<char*>(block);
    mGuarded = mBlock != nullptr && mprotect(mBlock + mPage, mPage, PROT_NONE) == 0;
#endif
    if (!mGuarded || text.size() * sizeof(char16_t) > mPage) return;
    char* start = mBlock + mPage - text.size() * sizeof(char16_t);
    std::memcpy(start, text.data(), text.size() * sizeof(char16_t));
    mText = std::u16string_view(reinterpret_cast<const char16_t*>(start), text.size());
  }
  ~TextBeforeGuardPage() {
#ifdef _WIN32
    if (mBlock != nullptr) VirtualFree(mBlock, 0, MEM_RELEASE);
#else
    if (mBlock != nullptr) munmap(mBlock, 2 * mPage);
#endif
  }
  TextBeforeGuardPage(const TextBeforeGuardPage&) = delete;
  TextBeforeGuardPage& operator=(const TextBeforeGuardPage&) = delete;

  bool Guarded() const { return mGuarded; }
  std::u16string_view Text() const { return mText; }

 private:
  std::size_t mPage = 0;
  char* mBlock = nullptr;
  bool mGuarded = false;
  std::u16string_view mText;
};

std::string Printable(std::u16string_view text) { return std::string(text.begin(), text.end()); }

// Texts whose last characters are still inside a construct: trailing
// backslashes, and a doubled quote inside quotes that ends the text.
const std::vector<ArgumentCase>& EndingCases() {
  static const std::vector<ArgumentCase> cases = {
      {u"a\\", {u"a\\"}},
      {u"a\\\\", {u"a\\\\"}},
      {u"x \"b\\", {u"x", u"b\\"}},
      {u"\"a\"\"", {u"a\""}},
      {u"\"\"\"", {u"\""}},
      {u"x \"a b\"\"", {u"x", u"a b\""}},
  };
  return cases;
}

TEST(SplitWindowsArguments, SplitsAsTheCRuntimeDoes) {
  for (const auto* cases : {&ArgumentCases(), &EndingCases()}) {
    for (const ArgumentCase& c : *cases) {
      EXPECT_EQ(platform::SplitWindowsArguments(c.Parameters), c.Arguments) << Printable(c.Parameters);
    }
  }
}

// The text is a view: what follows it in memory is never read. Each text is
// split once right before a guard page and once followed by characters that
// would change the arguments if they were taken in.
TEST(SplitWindowsArguments, ReadsNothingPastTheEndOfTheText) {
  const std::u16string followers[] = {u"\\", u"\"", u"\\\"", u"x", u" y"};
  for (const auto* cases : {&ArgumentCases(), &EndingCases()}) {
    for (const ArgumentCase& c : *cases) {
      const std::size_t size = c.Parameters.size();
      const TextBeforeGuardPage guarded(c.Parameters);
      ASSERT_TRUE(guarded.Guarded());
      EXPECT_EQ(platform::SplitWindowsArguments(guarded.Text()), c.Arguments) << Printable(c.Parameters);
      for (const std::u16string& follower : followers) {
        const std::u16string longer = c.Parameters + follower;
        EXPECT_EQ(platform::SplitWindowsArguments(std::u16string_view(longer).substr(0, size)), c.Arguments)
            << Printable(c.Parameters) << " followed by " << Printable(follower);
      }
    }
  }
}

}  // namespace
