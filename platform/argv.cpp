// Command-line splitting by the rules of a Windows program's C runtime.
#include "platform/argv.h"

namespace platform {
namespace {

bool IsArgumentBreak(char16_t c) { return c == u' ' || c == u'\t'; }

class ArgumentSplitter {
 public:
  explicit ArgumentSplitter(std::u16string_view text) : mText(text) {}

  std::vector<std::u16string> Split() {
    for (;;) {
      while (mPos < mText.size() && IsArgumentBreak(mText[mPos])) ++mPos;
      if (mPos >= mText.size()) break;
      mArguments.push_back(Argument());
    }
    return std::move(mArguments);
  }

 private:
  // One argument, from its first character to the blank that ends it
  // outside quotes (or the end of the text).
  std::u16string Argument() {
    std::u16string argument;
    bool quoted = false;
    while (mPos < mText.size()) {
      std::size_t backslashes = 0;
      while (mPos < mText.size() && mText[mPos] == u'\\') {
        ++backslashes;
        ++mPos;
      }
      if (mPos < mText.size() && mText[mPos] == u'"') {
        // 2n backslashes before a quote give n; 2n+1 give n and the quote itself.
        argument.append(backslashes / 2, u'\\');
        if (backslashes % 2 == 1) {
          argument += u'"';
        } else if (quoted && mPos + 1 < mText.size() && mText[mPos + 1] == u'"') {
          // Inside quotes, a doubled quote is one quote and the text stays quoted.
          argument += u'"';
          ++mPos;
        } else {
          quoted = !quoted;
        }
        ++mPos;
        continue;
      }
      argument.append(backslashes, u'\\');
      if (mPos >= mText.size() || (!quoted && IsArgumentBreak(mText[mPos]))) break;
      argument += mText[mPos++];
    }
    return argument;
  }

  std::u16string_view mText;
  std::size_t mPos = 0;
  std::vector<std::u16string> mArguments;
};

}  // namespace

std::vector<std::u16string> SplitWindowsArguments(std::u16string_view text) {
  return ArgumentSplitter(text).Split();
}

}  // namespace platform
