// libFuzzer target: settings files from untrusted bytes are decoded, split into
// lines, reset and encoded; the written form must read back as itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/settings_file.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

bool StartsWithMark(std::string_view bytes) {
  return bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF" || bytes.substr(0, 3) == "\xEF\xBB\xBF";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::vector<std::u16string> lines = engine::SplitSettingsLines(engine::DecodeSettingsText(bytes));
  for (std::u16string& line : lines) {
    Require(line.find_first_of(u"\r\n") == std::u16string::npos);
    const std::u16string before = line;
    if (engine::ResetBootOptionLine(line)) {
      Require(line == u"BootOption=0");
    } else {
      Require(line == before);
    }
  }
  const std::string written = engine::EncodeSettingsLines(lines);
  Require(written.size() >= 2 * lines.size());
  if (StartsWithMark(written)) return 0;  // it would read back as another encoding
  // Reading the written file back gives a file that is written the same way.
  const std::vector<std::u16string> again = engine::SplitSettingsLines(engine::DecodeSettingsText(written));
  Require(again.size() == lines.size());
  Require(engine::EncodeSettingsLines(again) == written);
  return 0;
}
