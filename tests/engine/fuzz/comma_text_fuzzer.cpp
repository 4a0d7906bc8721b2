// libFuzzer target: comma text from untrusted bytes (read as UTF-16) is split,
// and the items are checked against the rules of the format; the same text is
// then carried out as a copy request on a files fake confined to what its
// items name.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/comma_text.h"
#include "engine/copy_files.h"
#include "framework/paths.h"
#include "tests/support/fake_files.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

// True when key is an ancestor folder of path (the root included).
bool IsAncestor(const std::string& key, const std::string& path) {
  return key != path && FakeFiles::Within(path, key);
}

// Carries out the text as a copy request. It may use the scratch folder (the
// current folder lies in it), the source folder it names (never one it would
// only reach by adding a delimiter to nothing), the source itself, the target
// and what lies under it, and may look at or create the target's parents;
// anything else aborts.
void CopyConfined(const std::u16string& text, const std::vector<std::u16string>& items) {
  FakeFiles files;
  files.AddFile(u"/outside/secret.txt", "secret");
  files.AddFile(u"/scratch/cwd/a.txt", "a");
  files.AddFile(u"/scratch/cwd/sub/b.txt", "b");
  files.AddFile(u"/scratch/src/c.txt", "c");
  files.Current = u"/scratch/cwd";
  std::vector<std::string> named{"scratch"};
  std::string target = "scratch";
  std::vector<std::string> spelledSteps;
  if (items.size() >= 2) {
    const std::u16string sourceFolder = ExtractFilePath(items[0]);
    if (!sourceFolder.empty()) named.push_back(files.FullKey(sourceFolder));
    if (!items[0].empty()) named.push_back(files.FullKey(items[0]));
    if (!items[1].empty()) target = files.FullKey(items[1]);
    named.push_back(target);
    // The target's missing folders are made as it is spelled, one step up
    // at a time: each folder of that spelling may be looked at or made.
    std::u16string step = ExcludeTrailingPathDelimiter(items[1]);
    while (!step.empty() && step != ExtractFilePath(step)) {
      step = ExcludeTrailingPathDelimiter(ExtractFilePath(step));
      spelledSteps.push_back(files.FullKey(step));
    }
  }
  files.Confine(
      [&](const std::string& operation, const std::string& key) {
        for (const std::string& folder : named) {
          if (FakeFiles::Within(key, folder)) return true;
        }
        if (operation != "GetPathKind" && operation != "CreateFolder") return false;
        return IsAncestor(key, target) ||
               std::find(spelledSteps.begin(), spelledSteps.end(), key) != spelledSteps.end();
      },
      [](const std::string&) { std::abort(); });
  engine::RunCopyFile(text);
  Require(files.Find(u"/outside/secret.txt") != nullptr);
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

  CopyConfined(text, items);
  return 0;
}
