// The staged settings file's text: decoding, lines, the BootOption reset and encoding.
#include "engine/settings_file.h"

#include "framework/sysutils.h"
#include "platform/text.h"

namespace engine {
namespace {

constexpr std::u16string_view kBootOptionKey = u"BOOTOPTION";
constexpr std::u16string_view kResetLine = u"BootOption=0";

bool StartsWith(std::string_view bytes, std::string_view mark) { return bytes.substr(0, mark.size()) == mark; }

std::u16string FromUtf16(std::string_view bytes, bool bigEndian) {
  std::u16string text;
  text.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto first = static_cast<unsigned char>(bytes[i]);
    const auto second = static_cast<unsigned char>(bytes[i + 1]);
    text += static_cast<char16_t>(bigEndian ? (first << 8) | second : (second << 8) | first);
  }
  return text;
}

}  // namespace

std::u16string DecodeSettingsText(std::string_view bytes) {
  if (StartsWith(bytes, "\xFF\xFE")) return FromUtf16(bytes.substr(2), false);
  if (StartsWith(bytes, "\xFE\xFF")) return FromUtf16(bytes.substr(2), true);
  if (StartsWith(bytes, "\xEF\xBB\xBF")) return platform::Utf8ToWide(bytes.substr(3));
  return platform::AnsiToWide(bytes);
}

std::vector<std::u16string> SplitSettingsLines(std::u16string_view text) {
  std::vector<std::u16string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != u'\r' && text[i] != u'\n') continue;
    lines.emplace_back(text.substr(start, i - start));
    if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

bool ResetBootOptionLine(std::u16string& line) {
  const std::size_t equals = line.find(u'=');
  if (equals == std::u16string::npos || Pos(kBootOptionKey, AnsiUpperCase(line)) == 0) return false;
  if (std::u16string_view(line).substr(equals + 1) == u"0") return false;
  line = kResetLine;
  return true;
}

bool SettingsFileSteps(std::u16string_view name, const common::PathDelimiters& delimiters,
                       std::vector<std::u16string>* steps) {
  steps->clear();
  if (name.empty() || common::IsSeparator(name.front(), delimiters)) return false;
  if (name.find_first_of(delimiters.DriveMarks) != std::u16string_view::npos) return false;
  if (name.find(u'\0') != std::u16string_view::npos) return false;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = start;
    while (end < name.size() && !common::IsSeparator(name[end], delimiters)) ++end;
    const std::u16string_view step = name.substr(start, end - start);
    if (step == u"..") {
      if (steps->empty()) return false;  // out of the folder
      steps->pop_back();
    } else if (!step.empty() && step != u".") {
      steps->emplace_back(step);
    }
    start = end + 1;
  }
  return !steps->empty();
}

std::size_t ResetBootOptionLines(std::vector<std::u16string>& lines) {
  std::size_t replaced = 0;
  for (std::u16string& line : lines) {
    if (ResetBootOptionLine(line)) ++replaced;
  }
  return replaced;
}

std::string EncodeSettingsLines(const std::vector<std::u16string>& lines) {
  std::string bytes;
  for (const std::u16string& line : lines) {
    bytes += platform::WideToAnsi(line);
    bytes += "\r\n";
  }
  return bytes;
}

}  // namespace engine
