// Comma text splitting.
#include "engine/comma_text.h"

namespace engine {
namespace {

constexpr char16_t kQuote = u'"';
constexpr char16_t kComma = u',';

bool IsBlank(char16_t c) { return c >= 1 && c <= 32; }

class CommaTextReader {
 public:
  explicit CommaTextReader(std::u16string_view text) : mText(text.substr(0, text.find(u'\0'))) {}

  std::vector<std::u16string> Items() {
    std::vector<std::u16string> items;
    SkipBlanks();
    while (!AtEnd()) {
      items.push_back(Peek() == kQuote ? QuotedItem() : PlainItem());
      SkipBlanks();
      if (!AtEnd() && Peek() == kComma) {
        ++mPos;
        if (AtEnd()) items.emplace_back();  // a comma at the very end
        SkipBlanks();
      }
    }
    return items;
  }

 private:
  bool AtEnd() const { return mPos >= mText.size(); }
  char16_t Peek() const { return mText[mPos]; }

  void SkipBlanks() {
    while (!AtEnd() && IsBlank(Peek())) ++mPos;
  }

  // Up to a blank, a comma or the end.
  std::u16string PlainItem() {
    const std::size_t start = mPos;
    while (!AtEnd() && !IsBlank(Peek()) && Peek() != kComma) ++mPos;
    return std::u16string(mText.substr(start, mPos - start));
  }

  // From the opening quote to the next lone quote; "" stands for one quote.
  std::u16string QuotedItem() {
    std::u16string item;
    ++mPos;
    while (!AtEnd()) {
      const char16_t c = mText[mPos++];
      if (c != kQuote) {
        item += c;
      } else if (!AtEnd() && Peek() == kQuote) {
        item += kQuote;
        ++mPos;
      } else {
        break;
      }
    }
    return item;
  }

  std::u16string_view mText;
  std::size_t mPos = 0;
};

}  // namespace

std::vector<std::u16string> SplitCommaText(std::u16string_view text) { return CommaTextReader(text).Items(); }

}  // namespace engine
