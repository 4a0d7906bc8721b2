// Parsing of the label controls' markup into styled runs.
#include "controls/markup.h"

#include <optional>

#include "common/ascii_case.h"

namespace controls {
namespace {

using common::AsciiLower;
using common::EqualsIgnoringAsciiCase;

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f'; }
bool IsAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool IsAsciiDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Text with its entities decoded and control characters turned into spaces.
std::u16string DecodeText(std::u16string_view text) {
  struct Entity {
    std::u16string_view Name;
    char16_t Character;
  };
  static constexpr Entity kEntities[] = {{u"&amp;", u'&'}, {u"&lt;", u'<'}, {u"&gt;", u'>'}, {u"&quot;", u'"'}};
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'&') {
      bool matched = false;
      for (const Entity& e : kEntities) {
        if (text.substr(i, e.Name.size()) == e.Name) {
          out.push_back(e.Character);
          i += e.Name.size() - 1;
          matched = true;
          break;
        }
      }
      if (matched) continue;
    }
    out.push_back(c < 0x20 || c == 0x7F ? u' ' : c);
  }
  return out;
}

struct Attribute {
  std::u16string_view Name;
  std::u16string_view Value;
};

struct Tag {
  bool Closing = false;
  std::u16string_view Name;
  std::vector<Attribute> Attributes;
  std::size_t End = 0;  // index just past the closing ">"

  // The value of the first attribute of that name, if present.
  std::optional<std::u16string_view> Find(std::u16string_view name) const {
    for (const Attribute& a : Attributes) {
      if (EqualsIgnoringAsciiCase(a.Name, name)) return a.Value;
    }
    return std::nullopt;
  }
};

enum class TagScan { NotATag, Unterminated, Complete };

// Reads the tag whose "<" is at `open`. A tag name begins with an ASCII letter;
// attributes are name, name=value, name="value" or name='value'. The tag ends at
// the first ">" outside quotes.
TagScan ScanTag(std::u16string_view text, std::size_t open, Tag& tag) {
  std::size_t i = open + 1;
  if (i < text.size() && text[i] == u'/') {
    tag.Closing = true;
    ++i;
  }
  if (i >= text.size() || !IsAsciiLetter(text[i])) return TagScan::NotATag;
  const std::size_t nameStart = i;
  while (i < text.size() && (IsAsciiLetter(text[i]) || IsAsciiDigit(text[i]))) ++i;
  tag.Name = text.substr(nameStart, i - nameStart);

  while (i < text.size()) {
    const char16_t c = text[i];
    if (c == u'>') {
      tag.End = i + 1;
      return TagScan::Complete;
    }
    if (IsSpace(c) || c == u'/') {
      ++i;
      continue;
    }
    Attribute attribute;
    const std::size_t attrStart = i;
    while (i < text.size() && !IsSpace(text[i]) && text[i] != u'=' && text[i] != u'>' && text[i] != u'/') ++i;
    if (i == attrStart) {  // a stray "=": skip it
      ++i;
      continue;
    }
    attribute.Name = text.substr(attrStart, i - attrStart);
    std::size_t j = i;
    while (j < text.size() && IsSpace(text[j])) ++j;
    if (j < text.size() && text[j] == u'=') {
      ++j;
      while (j < text.size() && IsSpace(text[j])) ++j;
      if (j < text.size() && (text[j] == u'"' || text[j] == u'\'')) {
        const std::size_t close = text.find(text[j], j + 1);
        if (close == std::u16string_view::npos) return TagScan::Unterminated;
        attribute.Value = text.substr(j + 1, close - j - 1);
        i = close + 1;
      } else {
        const std::size_t valueStart = j;
        while (j < text.size() && !IsSpace(text[j]) && text[j] != u'>') ++j;
        attribute.Value = text.substr(valueStart, j - valueStart);
        i = j;
      }
    }
    tag.Attributes.push_back(attribute);
  }
  return TagScan::Unterminated;
}

// "#RRGGBB", blanks around it allowed.
std::optional<Rgb> ParseColour(std::u16string_view value) {
  while (!value.empty() && IsSpace(value.front())) value.remove_prefix(1);
  while (!value.empty() && IsSpace(value.back())) value.remove_suffix(1);
  if (value.size() != 7 || value[0] != u'#') return std::nullopt;
  Rgb colour = 0;
  for (std::size_t k = 1; k < 7; ++k) {
    const char16_t c = AsciiLower(value[k]);
    int digit = 0;
    if (IsAsciiDigit(c)) {
      digit = c - u'0';
    } else if (c >= u'a' && c <= u'f') {
      digit = c - u'a' + 10;
    } else {
      return std::nullopt;
    }
    colour = (colour << 4) | static_cast<Rgb>(digit);
  }
  return colour;
}

// The open tags of each kind and the runs made so far.
class Parser {
 public:
  MarkupText Parse(std::u16string_view markup) {
    if (markup.size() > kMaxMarkupLength) markup = markup.substr(0, kMaxMarkupLength);
    std::size_t textStart = 0;
    std::size_t i = 0;
    while ((i = markup.find(u'<', i)) != std::u16string_view::npos) {
      Tag tag;
      const TagScan scan = ScanTag(markup, i, tag);
      if (scan == TagScan::NotATag) {
        ++i;
        continue;
      }
      if (scan == TagScan::Unterminated) break;  // the rest is text
      AddText(markup.substr(textStart, i - textStart));
      Apply(tag);
      textStart = i = tag.End;
    }
    AddText(markup.substr(textStart));
    return std::move(mResult);
  }

 private:
  struct Colour {
    bool Has = false;
    Rgb Value = 0;
  };

  RunStyle CurrentStyle() const {
    RunStyle style;
    style.Bold = mBoldDepth > 0;
    style.Italic = mItalicDepth > 0;
    if (!mColours.empty()) {
      style.HasColour = mColours.back().Has;
      style.Colour = mColours.back().Has ? mColours.back().Value : 0;
    }
    style.Link = mLinks.empty() ? -1 : mLinks.back();
    return style;
  }

  void AddText(std::u16string_view raw) {
    if (raw.empty()) return;
    const std::u16string text = DecodeText(raw);
    const RunStyle style = CurrentStyle();
    if (!mResult.Runs.empty() && mResult.Runs.back().Style == style) {
      mResult.Runs.back().Text += text;
    } else {
      mResult.Runs.push_back(TextRun{text, style});
    }
  }

  void Apply(const Tag& tag) {
    if (EqualsIgnoringAsciiCase(tag.Name, u"b")) {
      Count(mBoldDepth, tag.Closing);
    } else if (EqualsIgnoringAsciiCase(tag.Name, u"i")) {
      Count(mItalicDepth, tag.Closing);
    } else if (EqualsIgnoringAsciiCase(tag.Name, u"font")) {
      if (tag.Closing) {
        if (!mColours.empty()) mColours.pop_back();
      } else {
        // A font tag without a usable colour keeps the colour around it.
        Colour colour = mColours.empty() ? Colour{} : mColours.back();
        if (const auto value = tag.Find(u"color"); value && value->size() <= kMaxAttributeLength) {
          if (const auto parsed = ParseColour(*value)) colour = Colour{true, *parsed};
        }
        mColours.push_back(colour);
      }
    } else if (EqualsIgnoringAsciiCase(tag.Name, u"a")) {
      if (tag.Closing) {
        if (!mLinks.empty()) mLinks.pop_back();
      } else {
        int link = -1;
        if (const auto href = tag.Find(u"href"); href && !href->empty() && href->size() <= kMaxAttributeLength) {
          link = static_cast<int>(mResult.LinkTargets.size());
          mResult.LinkTargets.push_back(DecodeText(*href));
        }
        mLinks.push_back(link);
      }
    }
    // <span> has no visible effect; other tags are dropped.
  }

  static void Count(int& depth, bool closing) {
    if (!closing) {
      ++depth;
    } else if (depth > 0) {
      --depth;
    }
  }

  MarkupText mResult;
  int mBoldDepth = 0;
  int mItalicDepth = 0;
  std::vector<Colour> mColours;
  std::vector<int> mLinks;
};

}  // namespace

std::u16string MarkupText::PlainText() const {
  std::u16string text;
  for (const TextRun& run : Runs) text += run.Text;
  return text;
}

MarkupText ParseMarkup(std::u16string_view markup) { return Parser().Parse(markup); }

}  // namespace controls
