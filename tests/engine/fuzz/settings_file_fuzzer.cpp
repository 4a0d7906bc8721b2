// libFuzzer target: settings files from untrusted bytes are decoded, split into
// lines, reset and encoded; the written form must read back as itself. The
// same input also names a settings file (its first bytes) that is reset in a
// staged folder of the files fake confined to it: no name may reach outside.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/settings_file.h"
#include "engine/staging.h"
#include "platform/text.h"
#include "tests/support/fake_files.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

bool StartsWithMark(std::string_view bytes) {
  return bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF" || bytes.substr(0, 3) == "\xEF\xBB\xBF";
}

// The first byte gives the length of the name that follows it (at most 63
// bytes, UTF-8); the rest is the content of every settings file in the tree.
void ResetInsideTheStagedFolder(std::string_view input) {
  if (input.empty()) return;
  const std::size_t length = std::min<std::size_t>(static_cast<unsigned char>(input[0]) % 64, input.size() - 1);
  const std::u16string name = platform::Utf8ToWide(input.substr(1, length));
  const std::string content(input.substr(1 + length));

  FakeFiles files;
  const std::u16string sep(1, platform::PathDelimitersOfPlatform().Separators[0]);
  const std::u16string root = sep + u"stage";
  files.AddFile(root + sep + u"s.ini", content);
  files.AddFile(root + sep + u"d" + sep + u"s.ini", content);
  files.AddOther(root + sep + u"pipe");
  files.AddFolderLink(root + sep + u"link", sep + u"outside");
  files.AddFile(sep + u"outside" + sep + u"s.ini", content);
  files.AddFile(sep + u"s.ini", content);
  files.Confine(root, [](const std::string&) { std::abort(); });

  std::vector<std::u16string> steps;
  const bool inside = engine::SettingsFileSteps(name, platform::PathDelimitersOfPlatform(), &steps);
  const engine::ResetOutcome outcome = engine::ResetBootOption(root, name);
  // A name that leaves the folder fails before anything is touched.
  if (!inside) Require(outcome == engine::ResetOutcome::Failed && files.Changes().empty());
  Require(files.OpenedOthers().empty());
  Require(files.Find(sep + u"outside" + sep + u"s.ini")->Data == content);
  Require(files.Find(sep + u"s.ini")->Data == content);
  for (const std::string& change : files.Changes()) Require(change.find("stage/") != std::string::npos);
  Require(files.Changes().size() <= 2);  // one clearing and one write at most
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  ResetInsideTheStagedFolder(bytes);
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
