// An in-memory file tree behind the file services, with Windows-like
// attributes, injectable failures and a log of every change; put in place for
// its lifetime.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/text.h"

class FakeFiles final : public platform::FileServices {
 public:
  enum class Type { File, Folder, FolderLink };
  struct Node {
    Type Kind = Type::File;
    std::string Data;             // a file's bytes
    bool ReadOnly = false;        // DeleteEntry, WriteWholeFile and copies onto it fail
    bool Hidden = false;          // WriteWholeFile (re-creation) fails, as on Windows
    bool System = false;          // as Hidden
    bool Foreign = false;         // a folder owned by another user
    std::string Target;           // a folder link: the key of the folder it names
  };

  // Paths are written with the platform's delimiters; parents are created.
  void AddFolder(const std::u16string& path, bool foreign = false) {
    const std::string key = Key(path);
    AddParents(key);
    mNodes[key].Kind = Type::Folder;
    mNodes[key].Foreign = foreign;
  }
  Node& AddFile(const std::u16string& path, const std::string& data) {
    const std::string key = Key(path);
    AddParents(key);
    Node& node = mNodes[key];
    node = Node{};
    node.Data = data;
    return node;
  }
  void AddFolderLink(const std::u16string& path, const std::u16string& target) {
    const std::string key = Key(path);
    AddParents(key);
    Node link;
    link.Kind = Type::FolderLink;
    link.Target = Key(target);
    mNodes[key] = link;
  }
  // The operation ("CopyFile", "DeleteEntry", "ClearAttributes", "RemoveFolder",
  // "CreateFolder", "ReadWholeFile", "WriteWholeFile", "OpenFolder") fails on the path.
  void FailOn(const std::string& operation, const std::u16string& path) { mFailing.insert(operation + " " + Key(path)); }

  bool Has(const std::u16string& path) const { return mNodes.count(Key(path)) != 0; }
  const Node* Find(const std::u16string& path) const {
    auto it = mNodes.find(Key(path));
    return it == mNodes.end() ? nullptr : &it->second;
  }
  // Every change made, in order: "Create k", "Copy k -> k", "Delete k",
  // "Clear k", "Remove k", "Write k" (k: the path with "/" between names).
  std::vector<std::string> Changes() const { return mChanges; }
  // The keys of every node, sorted.
  std::vector<std::string> Tree() const {
    std::vector<std::string> out;
    for (const auto& [key, node] : mNodes) out.push_back(node.Kind == Type::Folder ? key + "/" : key);
    return out;
  }
  static std::string Key(const std::u16string& path) {
    const common::PathDelimiters& delimiters = platform::PathDelimitersOfPlatform();
    std::string key;
    std::u16string name;
    auto flush = [&] {
      if (name.empty()) return;
      if (!key.empty()) key += '/';
      key += platform::WideToUtf8(name);
      name.clear();
    };
    for (char16_t c : path) {
      if (common::IsSeparator(c, delimiters)) {
        flush();
      } else {
        name += c;
      }
    }
    flush();
    return key;
  }

  std::u16string Temp;  // what TempFolder reports
  static constexpr std::size_t kMaxPath = 260;

  // FileServices
  std::u16string OwnExecutablePath() override { return {}; }
  std::u16string FullPathName(std::u16string_view path) override { return std::u16string(path); }
  platform::PathKind GetPathKind(std::u16string_view path) override {
    const Node* node = Resolve(Key(std::u16string(path)));
    if (node == nullptr) return platform::PathKind::Missing;
    return node->Kind == Type::Folder ? platform::PathKind::Folder : platform::PathKind::File;
  }
  std::unique_ptr<platform::FolderWalk> OpenFolder(std::u16string_view path, platform::FollowLink follow) override {
    std::string key = Key(std::u16string(path));
    if (Failing("OpenFolder", key)) return nullptr;
    auto it = mNodes.find(key);
    if (it != mNodes.end() && it->second.Kind == Type::FolderLink) {
      if (follow == platform::FollowLink::No) return nullptr;
      key = it->second.Target;
    }
    return OpenWalk(key);
  }
  bool CreateFolder(std::u16string_view path) override {
    const std::string key = Key(std::u16string(path));
    if (Failing("CreateFolder", key) || mNodes.count(key) != 0 || !FolderExists(Parent(key))) return false;
    // Paths have a length limit, as on the real systems, so a walk that runs away ends.
    if (key.size() > kMaxPath) return false;
    mNodes[key].Kind = Type::Folder;
    mChanges.push_back("Create " + key);
    return true;
  }
  bool RemoveFolder(std::u16string_view path) override { return RemoveFolderKey(Key(std::u16string(path))); }
  bool CopyFileReplacing(std::u16string_view source, std::u16string_view target) override {
    const std::string from = Key(std::u16string(source));
    const std::string to = Key(std::u16string(target));
    const Node* in = Resolve(from);
    if (Failing("CopyFile", to) || in == nullptr || in->Kind != Type::File || !FolderExists(Parent(to))) return false;
    auto out = mNodes.find(to);
    if (out != mNodes.end() && (out->second.Kind != Type::File || out->second.ReadOnly)) return false;
    const std::string data = in->Data;
    Node& node = mNodes[to];
    node = Node{};
    node.Data = data;
    mChanges.push_back("Copy " + from + " -> " + to);
    return true;
  }
  bool ClearAttributes(std::u16string_view path) override { return ClearKey(Key(std::u16string(path))); }
  bool ReadWholeFile(std::u16string_view path, std::string* bytes) override {
    const std::string key = Key(std::u16string(path));
    const Node* node = Resolve(key);
    if (Failing("ReadWholeFile", key) || node == nullptr || node->Kind != Type::File) return false;
    *bytes = node->Data;
    return true;
  }
  bool WriteWholeFile(std::u16string_view path, std::string_view bytes) override {
    const std::string key = Key(std::u16string(path));
    auto it = mNodes.find(key);
    if (Failing("WriteWholeFile", key) || !FolderExists(Parent(key))) return false;
    if (it != mNodes.end() &&
        (it->second.Kind != Type::File || it->second.ReadOnly || it->second.Hidden || it->second.System)) {
      return false;
    }
    mNodes[key] = Node{};
    mNodes[key].Data = std::string(bytes);
    mChanges.push_back("Write " + key);
    return true;
  }
  std::u16string TempFolder() override { return Temp; }
  bool IsOwnRealFolder(std::u16string_view path) override {
    auto it = mNodes.find(Key(std::u16string(path)));
    return it != mNodes.end() && it->second.Kind == Type::Folder && !it->second.Foreign;
  }
  bool SameFolder(std::u16string_view first, std::u16string_view second) override {
    const std::string a = ResolvedKey(Key(std::u16string(first)));
    const Node* node = Resolve(a);
    return node != nullptr && node->Kind == Type::Folder && a == ResolvedKey(Key(std::u16string(second)));
  }

 private:
  class Walk final : public platform::FolderWalk {
   public:
    Walk(FakeFiles& files, std::string key, std::vector<platform::FolderEntry> entries)
        : mFiles(files), mKey(std::move(key)), mEntries(std::move(entries)) {}
    bool Next(platform::FolderEntry* entry) override {
      if (mNext == mEntries.size()) return false;
      *entry = mEntries[mNext++];
      return true;
    }
    std::unique_ptr<platform::FolderWalk> OpenSubfolder(std::u16string_view name) override {
      const std::string key = Join(name);
      auto it = mFiles.mNodes.find(key);
      if (it == mFiles.mNodes.end() || it->second.Kind != Type::Folder || mFiles.Failing("OpenFolder", key)) {
        return nullptr;
      }
      return mFiles.OpenWalk(key);
    }
    bool DeleteEntry(std::u16string_view name) override {
      const std::string key = Join(name);
      auto it = mFiles.mNodes.find(key);
      if (mFiles.Failing("DeleteEntry", key) || it == mFiles.mNodes.end() || it->second.Kind == Type::Folder ||
          it->second.ReadOnly) {
        return false;
      }
      mFiles.mNodes.erase(it);
      mFiles.mChanges.push_back("Delete " + key);
      return true;
    }
    bool ClearAttributes(std::u16string_view name) override { return mFiles.ClearKey(Join(name)); }
    bool RemoveSubfolder(std::u16string_view name) override { return mFiles.RemoveFolderKey(Join(name)); }

   private:
    std::string Join(std::u16string_view name) const {
      const std::string leaf = platform::WideToUtf8(name);
      return mKey.empty() ? leaf : mKey + "/" + leaf;
    }
    FakeFiles& mFiles;
    std::string mKey;
    std::vector<platform::FolderEntry> mEntries;
    std::size_t mNext = 0;
  };

  static std::string Parent(const std::string& key) {
    const std::size_t slash = key.rfind('/');
    return slash == std::string::npos ? std::string() : key.substr(0, slash);
  }
  static bool IsChild(const std::string& key, const std::string& folder) {
    if (key.empty()) return false;
    return Parent(key) == folder;
  }
  void AddParents(const std::string& key) {
    for (std::string parent = Parent(key); !parent.empty(); parent = Parent(parent)) {
      if (mNodes.count(parent) == 0) mNodes[parent].Kind = Type::Folder;
    }
  }
  bool Failing(const std::string& operation, const std::string& key) const {
    return mFailing.count(operation + " " + key) != 0;
  }
  std::string ResolvedKey(const std::string& key) const {
    auto it = mNodes.find(key);
    return it != mNodes.end() && it->second.Kind == Type::FolderLink ? it->second.Target : key;
  }
  const Node* Resolve(const std::string& key) const {
    if (key.empty()) return &mRoot;
    auto it = mNodes.find(ResolvedKey(key));
    return it == mNodes.end() ? nullptr : &it->second;
  }
  bool FolderExists(const std::string& key) const {
    const Node* node = Resolve(key);
    return node != nullptr && node->Kind == Type::Folder;
  }
  std::unique_ptr<platform::FolderWalk> OpenWalk(const std::string& key) {
    if (!FolderExists(key) || Failing("OpenFolder", key)) return nullptr;
    std::vector<platform::FolderEntry> entries{{u".", platform::EntryKind::Folder}, {u"..", platform::EntryKind::Folder}};
    for (const auto& [child, node] : mNodes) {
      if (!IsChild(child, key)) continue;
      const platform::EntryKind kind = node.Kind == Type::Folder       ? platform::EntryKind::Folder
                                       : node.Kind == Type::FolderLink ? platform::EntryKind::FolderLink
                                                                       : platform::EntryKind::File;
      entries.push_back({platform::Utf8ToWide(child.substr(key.empty() ? 0 : key.size() + 1)), kind});
    }
    return std::make_unique<Walk>(*this, key, std::move(entries));
  }
  bool RemoveFolderKey(const std::string& key) {
    auto it = mNodes.find(key);
    if (Failing("RemoveFolder", key) || it == mNodes.end() || it->second.Kind == Type::File) return false;
    if (it->second.Kind == Type::Folder) {
      for (const auto& entry : mNodes) {
        if (IsChild(entry.first, key)) return false;  // not empty
      }
    }
    mNodes.erase(it);
    mChanges.push_back("Remove " + key);
    return true;
  }
  bool ClearKey(const std::string& key) {
    auto it = mNodes.find(key);
    if (Failing("ClearAttributes", key) || it == mNodes.end()) return false;
    it->second.ReadOnly = it->second.Hidden = it->second.System = false;
    mChanges.push_back("Clear " + key);
    return true;
  }

  static Node RootNode() {
    Node root;
    root.Kind = Type::Folder;
    return root;
  }

  Node mRoot = RootNode();
  std::map<std::string, Node> mNodes;
  std::set<std::string> mFailing;
  std::vector<std::string> mChanges;
  platform::ScopedFilesForTesting mScope{*this};
};
