// libFuzzer target: comma text from untrusted bytes (read as UTF-16) is split,
// and the items are checked against the rules of the format.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/comma_text.h"
#include "engine/copy_files.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < size; i += 2) text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  const std::vector<std::u16string> items = engine::SplitCommaText(text);

  const std::size_t end = text.find(u'\0');
  const std::u16string_view used = std::u16string_view(text).substr(0, end);
  if (used.empty()) Require(items.empty());
  Require(items.size() <= used.size() + 1);
  std::size_t characters = 0;
  for (const std::u16string& item : items) {
    characters += item.size();
    Require(item.find(u'\0') == std::u16string::npos);
  }
  Require(characters <= used.size());

  // Every item is excluded by the list it came from, and nothing by an empty one.
  for (const std::u16string& item : items) {
    Require(engine::IsExcluded(item, text));
    Require(!engine::IsExcluded(item, u""));
  }
  return 0;
}
