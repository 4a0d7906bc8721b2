// Command-line splitting by the Windows rules.
#include "platform/argv.h"

namespace platform {
namespace {

bool IsArgumentBreak(char16_t c) { return c == u' ' || c == u'\t'; }

class ArgumentSplitter {
 public:
  explicit ArgumentSplitter(std::u16string_view text) : mText(text) {}

  std::vector<std::u16string> Split() {
    while (mPos < mText.size()) {
      const char16_t c = mText[mPos];
      if (IsArgumentBreak(c) && mQuotes == 0) {
        EndArgument();
        ++mPos;
      } else if (c == u'\\') {
        Append(c);
        ++mBackslashes;
        ++mPos;
      } else if (c == u'"') {
        QuoteRun();
      } else {
        Append(c);
        mBackslashes = 0;
        ++mPos;
      }
    }
    EndArgument();
    return std::move(mArguments);
  }

 private:
  void Append(char16_t c) {
    mCurrent += c;
    mStarted = true;
  }

  void EndArgument() {
    if (mStarted) mArguments.push_back(std::move(mCurrent));
    mCurrent.clear();
    mStarted = false;
    mBackslashes = 0;
  }

  // A quote and the quotes right after it. Backslashes before the first one
  // are halved; an odd one out escapes it. Quotes are then counted from the
  // state before the run (1 inside a quoted part): every third is literal,
  // and a run that leaves the count at 2 has closed the quoted part.
  void QuoteRun() {
    mStarted = true;
    mCurrent.resize(mCurrent.size() - mBackslashes / 2);
    if (mBackslashes % 2 == 1) {
      mCurrent.back() = u'"';
    } else {
      ++mQuotes;
    }
    mBackslashes = 0;
    ++mPos;
    while (mPos < mText.size() && mText[mPos] == u'"') {
      if (++mQuotes == 3) {
        mCurrent += u'"';
        mQuotes = 0;
      }
      ++mPos;
    }
    if (mQuotes == 2) mQuotes = 0;
  }

  std::u16string_view mText;
  std::size_t mPos = 0;
  std::vector<std::u16string> mArguments;
  std::u16string mCurrent;
  bool mStarted = false;
  std::size_t mBackslashes = 0;
  int mQuotes = 0;  // 0 outside a quoted part, 1 inside
};

}  // namespace

std::vector<std::u16string> SplitWindowsArguments(std::u16string_view text) {
  return ArgumentSplitter(text).Split();
}

}  // namespace platform
